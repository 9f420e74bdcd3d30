// Pipes and descriptor I/O on POSIX.
#include "platform/pipe.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

int make_pipe(int fds[2], int buffer_size, pipe_reader) {
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

bool pipe_writers_gone(int read_fd) {
  struct pollfd r {
    read_fd, POLLIN, 0
  };
  return poll(&r, 1, 0) >= 0 && (r.revents & POLLHUP) != 0;
}

int pipe_writer_would_wait(int read_fd) {
  if (pipe_writers_gone(read_fd)) return 0;
  // Room is what the pipe tells its writers: a write end of our own, opened on the same pipe
  // for this one look, asks. Full means no free page is left, whatever the bytes held (small
  // writes fill a page each), which is exactly when a writer waits.
  char path[64];
  std::snprintf(path, sizeof path, "/proc/self/fd/%d", read_fd);
  int w = open(path, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (w < 0) return -errno;
  struct pollfd p {
    w, POLLOUT, 0
  };
  int n = poll(&p, 1, 0);
  int err = errno;
  close(w);
  if (n < 0) return -err;
  return (p.revents & POLLOUT) ? 0 : 1;
}

void ensure_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) >= 0) continue;
    int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != fd) close(opened);
  }
}

void open_output_writer(int fd, output_writer* writer) {
  *writer = output_writer{fd, false, false, 0};
  struct stat st {};
  if (fstat(fd, &st) != 0) return;
  if (S_ISSOCK(st.st_mode)) {
    writer->socket = true;
    return;
  }
  if (!S_ISFIFO(st.st_mode) && !S_ISCHR(st.st_mode)) return;
  char path[64];
  std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
  int own = open(path, O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (own >= 0) {
    writer->fd = own;
    writer->own = true;
    return;
  }
  // Not ours to open (another user's terminal or pipe), and its flags are not ours to change:
  // once poll says there is room, a pipe takes PIPE_BUF bytes whole, and a terminal that says
  // so holds far more than a short line.
  if (!(fcntl(fd, F_GETFL) & O_NONBLOCK)) writer->careful = S_ISFIFO(st.st_mode) ? PIPE_BUF : 256;
}

void close_output_writer(output_writer* writer) {
  if (writer->own) close(writer->fd);
  *writer = output_writer{};
}

long write_output(output_writer* writer, const void* buf, std::size_t len) {
  if (writer->careful != 0) {
    struct pollfd p {
      writer->fd, POLLOUT, 0
    };
    if (poll(&p, 1, 0) <= 0) return -EAGAIN;
    if (p.revents & (POLLERR | POLLHUP)) return -EPIPE;
    if (len > writer->careful) len = writer->careful;
  }
  for (;;) {
    ssize_t n = writer->socket ? send(writer->fd, buf, len, MSG_DONTWAIT | MSG_NOSIGNAL) : write(writer->fd, buf, len);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    if (errno == EWOULDBLOCK) return -EAGAIN;
    return -errno;
  }
}
