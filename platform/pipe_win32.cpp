// Pipes and descriptor I/O on Windows. Pipes are made not inheritable and in binary mode;
// a child gets an inheritable copy of its end for the moment of its start.
//
// A read end that we read is the server end of a named pipe opened for overlapped I/O, so
// the wait can sleep until it holds data (an anonymous pipe cannot be waited on, only peeked
// into). Every read of it passes an OVERLAPPED and waits for that read alone. A read end that
// a child reads stays an anonymous pipe: its ordinary reads could not take an overlapped end.
// Write ends are synchronous in both: a child writes them, or we do with _write.
#include "platform/pipe.h"
#include "platform/pipe_watch_win32.h"
#include "platform/system_error.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <map>

namespace {

// The largest counts one ReadFile and one _write can take: a 64-bit size_t does not fit.
constexpr std::size_t max_read = MAXDWORD;
constexpr std::size_t max_write = INT_MAX;

// The capacity of a pipe made without a size: the system's own default for an anonymous pipe.
constexpr DWORD default_buffer_size = 4096;

HANDLE system_handle_of(int fd) { return reinterpret_cast<HANDLE>(_get_osfhandle(fd)); }

// What we know of a descriptor, by its number. An overlapped read end has two events: one
// for its watch (a zero-byte read, left pending across waits) and one for the read of
// read_some, so that each completion is told apart from the other's.
struct descriptor_record {
  bool nonblocking = false;  // reads must not wait: an empty pipe answers EAGAIN
  bool overlapped = false;   // a read end of ours, made by make_pipe
  HANDLE watch_event = nullptr;
  OVERLAPPED watch{};
  bool watch_pending = false;  // the zero-byte read has started and not been seen to end
  HANDLE read_event = nullptr;
};

// Kept by descriptor number, however high; a record never moves while it lives, so a watch's
// pending read keeps its OVERLAPPED in place.
std::map<int, descriptor_record> records;

descriptor_record* record_of(int fd) {
  auto found = records.find(fd);
  return found != records.end() ? &found->second : nullptr;
}

descriptor_record* new_record(int fd) { return fd >= 0 ? &records[fd] : nullptr; }

bool is_nonblocking(int fd) {
  descriptor_record* r = record_of(fd);
  return r != nullptr && r->nonblocking;
}

descriptor_record* overlapped_record(int fd) {
  descriptor_record* r = record_of(fd);
  return r != nullptr && r->overlapped ? r : nullptr;
}

// Byte stream, reads wait for data: the state every anonymous pipe end is put in.
void set_byte_mode(HANDLE h) {
  DWORD mode = PIPE_READMODE_BYTE | PIPE_WAIT;
  SetNamedPipeHandleState(h, &mode, nullptr, nullptr);
}

// Wraps both handles in descriptors; on failure closes whatever was made.
int open_descriptors(int fds[2], HANDLE read_end, HANDLE write_end) {
  fds[0] = _open_osfhandle(reinterpret_cast<intptr_t>(read_end), _O_BINARY | _O_NOINHERIT);
  fds[1] = _open_osfhandle(reinterpret_cast<intptr_t>(write_end), _O_BINARY | _O_NOINHERIT);
  if (fds[0] >= 0 && fds[1] >= 0) return 0;
  if (fds[0] >= 0)
    _close(fds[0]);
  else
    CloseHandle(read_end);
  if (fds[1] >= 0)
    _close(fds[1]);
  else
    CloseHandle(write_end);
  fds[0] = fds[1] = -1;
  return -EMFILE;
}

// The pipe a child reads: the runtime's anonymous pipe, or the system's with a size.
int make_anonymous_pipe(int fds[2], int buffer_size) {
  if (buffer_size <= 0) return _pipe(fds, 0, _O_BINARY | _O_NOINHERIT) == 0 ? 0 : -errno;
  SECURITY_ATTRIBUTES security{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  if (!CreatePipe(&read_end, &write_end, &security, static_cast<DWORD>(buffer_size)))
    return -errno_from_system_code(GetLastError());
  set_byte_mode(read_end);
  set_byte_mode(write_end);
  return open_descriptors(fds, read_end, write_end);
}

// The server end, for overlapped reads, under a name of its own: this process's id, the
// time it made its first pipe, and a count, so that a process that had our id before and
// left pipes behind (a client end kept by a detached child) does not hold our names. A name
// held already is passed over for the next count.
HANDLE make_overlapped_read_end(DWORD buffer_size, char* name, std::size_t name_size) {
  static unsigned long long first_use = GetTickCount64();
  static unsigned long count = 0;
  for (int attempt = 0; attempt < 256; ++attempt) {
    std::snprintf(name, name_size, "\\\\.\\pipe\\tools-pipe-%lu-%llu-%lu", GetCurrentProcessId(), first_use, ++count);
    HANDLE h = CreateNamedPipeA(name, PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 0,
                                buffer_size, 0, nullptr);
    if (h != INVALID_HANDLE_VALUE || GetLastError() != ERROR_ACCESS_DENIED) return h;
  }
  return INVALID_HANDLE_VALUE;
}

// Ends the watch's pending read, if any, and forgets the descriptor; before its handle closes.
void release_record(int fd) {
  descriptor_record* r = record_of(fd);
  if (r == nullptr) return;
  if (r->watch_pending) {
    HANDLE h = system_handle_of(fd);
    DWORD ignored = 0;
    CancelIoEx(h, &r->watch);
    GetOverlappedResult(h, &r->watch, &ignored, TRUE);  // the read must be over before its record goes
  }
  if (r->watch_event != nullptr) CloseHandle(r->watch_event);
  if (r->read_event != nullptr) CloseHandle(r->read_event);
  records.erase(fd);
}

}  // namespace

int make_pipe(int fds[2], int buffer_size, pipe_reader reader) {
  fds[0] = fds[1] = -1;
  if (reader == read_by_child) return make_anonymous_pipe(fds, buffer_size);
  char name[96];
  DWORD size = buffer_size > 0 ? static_cast<DWORD>(buffer_size) : default_buffer_size;
  HANDLE read_end = make_overlapped_read_end(size, name, sizeof name);
  if (read_end == INVALID_HANDLE_VALUE) return -errno_from_system_code(GetLastError());
  // Opening the name connects the write end; nobody else can, there being one instance. It
  // has the rights of an anonymous pipe's write end: a child may ask about its stdout.
  HANDLE write_end = CreateFileA(name, GENERIC_WRITE | FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (write_end == INVALID_HANDLE_VALUE) {
    DWORD err = GetLastError();
    CloseHandle(read_end);
    return -errno_from_system_code(err);
  }
  int rc = open_descriptors(fds, read_end, write_end);
  if (rc < 0) return rc;
  descriptor_record* r = new_record(fds[0]);
  HANDLE watch_event = r != nullptr ? CreateEventA(nullptr, TRUE, FALSE, nullptr) : nullptr;
  HANDLE read_event = r != nullptr ? CreateEventA(nullptr, TRUE, FALSE, nullptr) : nullptr;
  if (watch_event == nullptr || read_event == nullptr) {
    // Without its record the end could not be read: an anonymous pipe, peeked into, serves.
    if (watch_event != nullptr) CloseHandle(watch_event);
    if (read_event != nullptr) CloseHandle(read_event);
    records.erase(fds[0]);
    _close(fds[0]);
    _close(fds[1]);
    return make_anonymous_pipe(fds, buffer_size);
  }
  *r = descriptor_record{};
  r->overlapped = true;
  r->watch_event = watch_event;
  r->read_event = read_event;
  return 0;
}

void close_fd(int* fd) {
  release_record(*fd);
  if (*fd >= 0) _close(*fd);
  *fd = -1;
}

// ReadFile on the descriptor's handle: a pipe whose writer has gone reports a broken pipe,
// which is the end of the stream. A non-blocking descriptor asks only for what the pipe holds,
// so its read ends at once; an overlapped read end passes an OVERLAPPED and waits for that
// read alone.
ssize_t read_some(int fd, void* buf, std::size_t len) {
  HANDLE h = system_handle_of(fd);
  if (h == INVALID_HANDLE_VALUE) return -EBADF;
  // One read takes at most what its DWORD count can say; a shorter read is normal.
  DWORD want = static_cast<DWORD>(len < max_read ? len : max_read);
  if (is_nonblocking(fd)) {
    int held = bytes_available(fd);
    if (held == 0) return -EAGAIN;
    if (held > 0 && static_cast<DWORD>(held) < want) want = static_cast<DWORD>(held);
  }
  DWORD got = 0;
  bool done = false;
  if (descriptor_record* r = overlapped_record(fd)) {
    OVERLAPPED read{};
    read.hEvent = r->read_event;
    done = (ReadFile(h, buf, want, nullptr, &read) || GetLastError() == ERROR_IO_PENDING) &&
           GetOverlappedResult(h, &read, &got, TRUE);
  } else {
    done = ReadFile(h, buf, want, &got, nullptr);
  }
  if (!done) {
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

void set_nonblocking(int fd) {
  if (descriptor_record* r = new_record(fd)) r->nonblocking = true;
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

// A peek into a pipe whose writer has gone fails once it holds nothing more.
bool pipe_writers_gone(int read_fd) {
  DWORD available = 0;
  return !PeekNamedPipe(system_handle_of(read_fd), nullptr, 0, nullptr, &available, nullptr) &&
         GetLastError() == ERROR_BROKEN_PIPE;
}

// A console program always has its three standard descriptors from the runtime.
void ensure_standard_descriptors() {}

// A console or pipe write on Windows cannot be made to return early; it is written whole.
void open_output_writer(int fd, output_writer* writer) { *writer = output_writer{fd, false, false, 0}; }

void close_output_writer(output_writer* writer) { *writer = output_writer{}; }

long write_output(output_writer* writer, const void* buf, std::size_t len) {
  int rc = write_all(writer->fd, buf, len);
  return rc < 0 ? rc : static_cast<long>(len);
}

void* read_watch_event(int fd) {
  descriptor_record* r = overlapped_record(fd);
  if (r == nullptr) return nullptr;
  if (r->watch_pending && !HasOverlappedIoCompleted(&r->watch)) return r->watch_event;
  // The last zero-byte read has ended (data came, or the writer went): a new one starts.
  // It takes nothing from the pipe; when data is there already it ends at once.
  HANDLE h = system_handle_of(fd);
  DWORD ignored = 0;
  if (r->watch_pending) GetOverlappedResult(h, &r->watch, &ignored, FALSE);
  r->watch = OVERLAPPED{};
  r->watch.hEvent = r->watch_event;
  ResetEvent(r->watch_event);
  static char no_bytes;
  r->watch_pending = ReadFile(h, &no_bytes, 0, nullptr, &r->watch) || GetLastError() == ERROR_IO_PENDING;
  if (r->watch_pending) return r->watch_event;
  // A read that could not start because the writer has gone leaves the event set: the wait
  // looks, and sees the end. For any other reason the end is peeked into like one we were given.
  DWORD err = GetLastError();
  if (err != ERROR_BROKEN_PIPE && err != ERROR_PIPE_NOT_CONNECTED) return nullptr;
  SetEvent(r->watch_event);
  return r->watch_event;
}
