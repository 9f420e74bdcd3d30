// Whether the child has written to one of its output pipes, told without reading the pipe.
// While our backlog of a stream is full its pipe is left unread, so a read cannot tell; but
// the bytes that have entered a pipe are those we took from it plus those it holds now, and
// that sum grows only when the child writes, whether we read the pipe or not.
#pragma once
#include <cstddef>

struct pipe_activity {
  unsigned long long taken = 0;    // bytes read from the pipe in this run
  unsigned long long entered = 0;  // taken plus held, at the last look
};

inline void note_taken(pipe_activity* a, std::size_t bytes) { a->taken += bytes; }

// One look at the pipe whose read end is `fd`: true when the child wrote to it since the last
// look. For a pipe we leave unread (`left_unread`), also true while the pipe is full with a
// writer holding it: a child that waits to write is waiting on us, and that is no silence.
// A pipe that holds the same bytes and still has room is silence, however much it holds.
bool child_wrote(pipe_activity* a, int fd, bool left_unread);
