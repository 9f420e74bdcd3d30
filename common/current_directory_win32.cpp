// The current directory on Windows, through the runtime's _getcwd and _chdir.
#include "common/current_directory.h"

#include <direct.h>

#include <cstring>

bool read_current_directory(char* area, std::size_t size) { return _getcwd(area, static_cast<int>(size)) != nullptr; }

bool directory_as_reported(const char* dir, char* out, std::size_t size) {
  char saved[4096];
  bool have_saved = read_current_directory(saved, sizeof saved);
  if (_chdir(dir) != 0) return false;
  if (!read_current_directory(out, size)) out[0] = '\0';
  out[size - 1] = '\0';
  if (have_saved) _chdir(saved);
  return true;
}
