// File status on Windows: the runtime's _stat64 and _access. The encoder always writes to
// the standard output it inherits, so that output is never named to it.
#include <errno.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#include <cstring>

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

bool standard_output_device_full() {
  HANDLE out = reinterpret_cast<HANDLE>(_get_osfhandle(1));
  if (out == INVALID_HANDLE_VALUE || GetFileType(out) != FILE_TYPE_DISK) return false;
  // The free space of the folder that holds the file, found by the file's own path.
  char path[MAX_PATH + 8];
  DWORD length = GetFinalPathNameByHandleA(out, path, MAX_PATH, FILE_NAME_NORMALIZED);
  if (length == 0 || length >= MAX_PATH) return false;
  char* last = std::strrchr(path, '\\');
  if (last == nullptr) return false;
  last[1] = '\0';
  ULARGE_INTEGER free_to_us{};
  if (!GetDiskFreeSpaceExA(path, &free_to_us, nullptr, nullptr)) return false;
  return free_to_us.QuadPart < (1ULL << 20);
}
