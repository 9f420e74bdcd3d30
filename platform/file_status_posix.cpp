// File status on POSIX: stat and access.
#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_status.h"

int file_modification_time(const char* path, file_time* when) {
  struct stat st {};
  if (stat(path, &st) != 0) return -errno;
  *when = file_time{static_cast<long long>(st.st_mtim.tv_sec), st.st_mtim.tv_nsec};
  return 0;
}

bool file_exists(const char* path) { return access(path, F_OK) == 0; }
