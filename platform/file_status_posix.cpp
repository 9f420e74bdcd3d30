// File status on POSIX: stat and access, and our standard output as a file of its own.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "platform/file_status.h"

int file_modification_time(const char* path, file_time* when) {
  struct stat st {};
  if (stat(path, &st) != 0) return -errno;
  *when = file_time{static_cast<long long>(st.st_mtim.tv_sec), st.st_mtim.tv_nsec};
  return 0;
}

bool file_exists(const char* path) { return access(path, F_OK) == 0; }

const char* standard_output_file_name() {
  // The child resolves the name to its own descriptor 1, which is ours, inherited.
  static const char name[] = "/dev/stdout";
  struct stat out {};
  if (fstat(1, &out) != 0 || !S_ISREG(out.st_mode) || out.st_size != 0) return nullptr;
  int flags = fcntl(1, F_GETFL);
  if (flags < 0 || (flags & O_APPEND) != 0 || lseek(1, 0, SEEK_CUR) != 0) return nullptr;
  // Opened anew, the file's own permissions apply: the name must open it, and this very file.
  int fd = open(name, O_WRONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return nullptr;
  struct stat again {};
  bool same = fstat(fd, &again) == 0 && again.st_dev == out.st_dev && again.st_ino == out.st_ino;
  close(fd);
  return same ? name : nullptr;
}

void standard_output_to_end() { (void)lseek(1, 0, SEEK_END); }

bool standard_output_device_full() {
  struct stat out {};
  struct statvfs fs {};
  if (fstat(1, &out) != 0 || !S_ISREG(out.st_mode) || fstatvfs(1, &fs) != 0) return false;
  // The superuser may also fill the blocks kept back for it.
  unsigned long long blocks = geteuid() == 0 ? fs.f_bfree : fs.f_bavail;
  return blocks * fs.f_frsize < (1ULL << 20);
}
