// The current directory on POSIX. The way back goes through a descriptor of the old
// directory, which works even where its name could not be read.
#include "common/current_directory.h"

#include <fcntl.h>
#include <unistd.h>

bool read_current_directory(char* area, std::size_t size) { return getcwd(area, size) != nullptr; }

bool directory_as_reported(const char* dir, char* out, std::size_t size) {
  int back = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  bool entered = chdir(dir) == 0;
  if (entered) {
    if (!read_current_directory(out, size)) out[0] = '\0';
    out[size - 1] = '\0';
    if (back >= 0 && fchdir(back) != 0) { /* nothing more can be done */
    }
  }
  if (back >= 0) close(back);
  return entered;
}
