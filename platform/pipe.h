// Anonymous pipes and descriptor I/O. Every descriptor made here is close-on-exec, so a
// child only ever gets the ends installed as its standard descriptors.
#pragma once
#include <sys/types.h>
#include <cstddef>

// Who reads a pipe: we do, or a child that gets the read end as its standard input. Windows
// makes a read end of ours one that the wait can sleep on, which a child could not read
// with its ordinary reads; POSIX makes both alike.
enum pipe_reader { read_by_us, read_by_child };

// fds[0] read end, fds[1] write end. `buffer_size` > 0 asks for that pipe capacity
// (ignored where refused). Returns 0 or -errno.
int make_pipe(int fds[2], int buffer_size, pipe_reader reader = read_by_us);

// Closes *fd when it is open and marks it closed (-1).
void close_fd(int* fd);

// One read, resumed after EINTR. Returns bytes read, 0 at end of file, or -errno.
ssize_t read_some(int fd, void* buf, std::size_t len);

// Writes every byte unless the descriptor fails. Returns 0 or -errno.
int write_all(int fd, const void* buf, std::size_t len);

// One write, resumed after EINTR. Returns the bytes written, which a non-blocking descriptor
// may make fewer than asked (-EAGAIN when it takes none), or -errno.
ssize_t write_some(int fd, const void* buf, std::size_t len);

// Makes reads of `fd` return at once (EAGAIN) when it holds nothing, and on POSIX writes
// when it has no room (Windows pipe writes still wait for the reader).
void set_nonblocking(int fd);

// Bytes pass through `fd` untranslated (Windows: no "\n" to "\r\n" text mode; POSIX has
// no text mode, so nothing changes there).
void set_binary_mode(int fd);

// Bytes that can be read from `fd` right now without waiting, or -errno.
int bytes_available(int fd);

// Whether a write to the pipe whose read end is `read_fd` would wait now: 1 when a writer
// still holds the pipe and it has no room left, 0 when it has room or no writer is left,
// -errno when the system cannot tell.
int pipe_writer_would_wait(int read_fd);

// True when every writer of the pipe whose read end is `read_fd` has closed it (Windows: and
// it holds nothing more).
bool pipe_writers_gone(int read_fd);

// Opens /dev/null on any of descriptors 0, 1, 2 that is closed, so no pipe of ours can land
// on a standard descriptor number.
void ensure_standard_descriptors();

// What both programs do first: the standard descriptors opened as above, stdout and stderr
// unbuffered, and broken pipes ignored.
void prepare_standard_streams();

// Our way of writing to one of our own standard streams without ever waiting on its reader.
// For a pipe, a fifo or a terminal it is a new open file description of the same object, made
// non-blocking, so the other holders of the descriptor (the shell, a child writing straight to
// it) are not affected; for a socket each send is non-blocking; a regular file never waits on
// a reader and is written as it is. Where the object cannot be opened anew (it belongs to
// another user), each write first asks whether the stream has room and writes no more than
// room for one write surely holds.
struct output_writer {
  int fd = -1;
  bool own = false;         // fd is ours to close
  bool socket = false;      // written with non-blocking sends
  std::size_t careful = 0;  // nonzero: the most one write may carry, after a look for room
};

void open_output_writer(int fd, output_writer* writer);
void close_output_writer(output_writer* writer);

// Writes what the stream takes now: the bytes written, -EAGAIN when it takes nothing now, or
// -errno when it has failed (its reader has gone).
long write_output(output_writer* writer, const void* buf, std::size_t len);
