// File status on Windows: the runtime's _stat64 and _access.
#include <errno.h>
#include <io.h>
#include <sys/stat.h>

#include "platform/file_status.h"

int file_modification_time(const char* path, file_time* when) {
  struct _stat64 st {};
  if (_stat64(path, &st) != 0) return -errno;
  *when = file_time{static_cast<long long>(st.st_mtime), 0};
  return 0;
}

bool file_exists(const char* path) { return _access(path, 0) == 0; }
