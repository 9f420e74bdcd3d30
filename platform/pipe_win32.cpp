// Pipes and descriptor I/O on Windows. Pipes are made not inheritable and in binary mode;
// a child only gets the end swapped onto one of its standard descriptors at its start.
#include "platform/pipe.h"
#include "platform/system_error.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <climits>

namespace {

// The largest counts one ReadFile and one _write can take: a 64-bit size_t does not fit.
constexpr std::size_t max_read = MAXDWORD;
constexpr std::size_t max_write = INT_MAX;

HANDLE system_handle_of(int fd) { return reinterpret_cast<HANDLE>(_get_osfhandle(fd)); }

// Descriptors whose reads must not wait: a read first peeks, and an empty pipe answers
// EAGAIN, as a non-blocking descriptor does on POSIX.
constexpr int nonblocking_limit = 256;
bool nonblocking[nonblocking_limit];

bool is_nonblocking(int fd) { return fd >= 0 && fd < nonblocking_limit && nonblocking[fd]; }

// Byte stream, reads wait for data: the state every pipe end is put in.
void set_byte_mode(HANDLE h) {
  DWORD mode = PIPE_READMODE_BYTE | PIPE_WAIT;
  SetNamedPipeHandleState(h, &mode, nullptr, nullptr);
}

}  // namespace

int make_pipe(int fds[2], int buffer_size, pipe_reader) {
  if (buffer_size <= 0) {
    // The runtime's pipe with the system's default size: binary, not inheritable.
    return _pipe(fds, 0, _O_BINARY | _O_NOINHERIT) == 0 ? 0 : -errno;
  }
  SECURITY_ATTRIBUTES security{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  if (!CreatePipe(&read_end, &write_end, &security, static_cast<DWORD>(buffer_size)))
    return -errno_from_system_code(GetLastError());
  set_byte_mode(read_end);
  set_byte_mode(write_end);
  fds[0] = _open_osfhandle(reinterpret_cast<intptr_t>(read_end), _O_BINARY | _O_NOINHERIT);
  fds[1] = _open_osfhandle(reinterpret_cast<intptr_t>(write_end), _O_BINARY | _O_NOINHERIT);
  if (fds[0] >= 0 && fds[1] >= 0) return 0;
  if (fds[0] >= 0) _close(fds[0]); else CloseHandle(read_end);
  if (fds[1] >= 0) _close(fds[1]); else CloseHandle(write_end);
  fds[0] = fds[1] = -1;
  return -EMFILE;
}

void close_fd(int* fd) {
  if (*fd >= 0 && *fd < nonblocking_limit) nonblocking[*fd] = false;
  if (*fd >= 0) _close(*fd);
  *fd = -1;
}

// ReadFile on the descriptor's handle: a pipe whose writer has gone reports a broken pipe,
// which is the end of the stream.
ssize_t read_some(int fd, void* buf, std::size_t len) {
  HANDLE h = system_handle_of(fd);
  if (h == INVALID_HANDLE_VALUE) return -EBADF;
  if (is_nonblocking(fd) && bytes_available(fd) == 0) return -EAGAIN;
  // One read takes at most what its DWORD count can say; a shorter read is normal.
  DWORD got = 0;
  if (!ReadFile(h, buf, static_cast<DWORD>(len < max_read ? len : max_read), &got, nullptr)) {
    DWORD err = GetLastError();
    if (err == ERROR_BROKEN_PIPE || err == ERROR_HANDLE_EOF) return 0;
    return -errno_from_system_code(err);
  }
  return static_cast<ssize_t>(got);
}

int write_all(int fd, const void* buf, std::size_t len) {
  const char* p = static_cast<const char*>(buf);
  while (len > 0) {
    // _write takes an unsigned count and answers with an int: larger buffers go in pieces.
    int n = _write(fd, p, static_cast<unsigned>(len < max_write ? len : max_write));
    if (n <= 0) return n < 0 ? -errno : -EIO;
    p += n;
    len -= static_cast<std::size_t>(n);
  }
  return 0;
}

ssize_t write_some(int fd, const void* buf, std::size_t len) {
  int n = _write(fd, buf, static_cast<unsigned>(len));
  return n < 0 ? -errno : n;
}

ssize_t write_some_constant(int fd, const void* buf, std::size_t len) { return write_some(fd, buf, len); }

void set_nonblocking(int fd) {
  if (fd >= 0 && fd < nonblocking_limit) nonblocking[fd] = true;
}

void set_binary_mode(int fd) { _setmode(fd, _O_BINARY); }

int bytes_available(int fd) {
  DWORD available = 0;
  if (!PeekNamedPipe(system_handle_of(fd), nullptr, 0, nullptr, &available, nullptr))
    return -errno_from_system_code(GetLastError());
  return static_cast<int>(available);
}

// An anonymous pipe does not tell its reader whether a writer waits.
int pipe_writer_would_wait(int) { return -ENOSYS; }

// A console program always has its three standard descriptors from the runtime.
void ensure_standard_descriptors() {}

// A console or pipe write on Windows cannot be made to return early; it is written whole.
void open_output_writer(int fd, output_writer* writer) { *writer = output_writer{fd, false, false, 0}; }

void close_output_writer(output_writer* writer) { *writer = output_writer{}; }

long write_output(output_writer* writer, const void* buf, std::size_t len) {
  int rc = write_all(writer->fd, buf, len);
  return rc < 0 ? rc : static_cast<long>(len);
}
