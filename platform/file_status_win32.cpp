// File status on Windows: the runtime's _stat64 and _access. The encoder always writes to
// the standard output it inherits, so that output is never named to it.
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

const char* standard_output_file_name() { return nullptr; }

void standard_output_to_end() {}
