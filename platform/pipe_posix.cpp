// Pipes and descriptor I/O on POSIX.
#include "platform/pipe.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

int make_pipe(int fds[2], int buffer_size) {
  if (pipe2(fds, O_CLOEXEC) != 0) return -errno;
  if (buffer_size > 0) {
    (void)fcntl(fds[1], F_SETPIPE_SZ, buffer_size);
  }
  return 0;
}

void close_fd(int* fd) {
  if (*fd >= 0) close(*fd);
  *fd = -1;
}

ssize_t read_some(int fd, void* buf, std::size_t len) {
  ssize_t n;
  do {
    n = read(fd, buf, len);
  } while (n < 0 && errno == EINTR);
  return n < 0 ? -errno : n;
}

int write_all(int fd, const void* buf, std::size_t len) {
  const char* p = static_cast<const char*>(buf);
  while (len > 0) {
    ssize_t n = write(fd, p, len);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -errno;
    }
    p += n;
    len -= static_cast<std::size_t>(n);
  }
  return 0;
}

ssize_t write_some(int fd, const void* buf, std::size_t len) {
  ssize_t n;
  do {
    n = write(fd, buf, len);
  } while (n < 0 && errno == EINTR);
  return n < 0 ? -errno : n;
}

void set_nonblocking(int fd) {
  int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

void set_binary_mode(int) {}

int bytes_available(int fd) {
  int n = 0;
  if (ioctl(fd, FIONREAD, &n) != 0) return -errno;
  return n;
}

void ensure_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) >= 0) continue;
    int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != fd) close(opened);
  }
}
