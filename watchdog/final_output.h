// Output at the end of a run and of watchdog itself: what a child's pipes held when it ended is
// relayed whole, while our readers keep taking bytes; what must be dropped (a reader that has
// gone, or one that took nothing for as long as we could wait) is said on stderr, one line per
// stream, with the number of bytes.
#pragma once
#include <cstdint>

#include "watchdog/output_queue.h"

// How long output is waited for.
struct reader_wait {
  long give_up_ms = 0;               // a stream that has taken nothing this long is given up
  bool (*stop)() = nullptr;          // ends the wait at once when it holds; null: nothing does
  std::int64_t deadline = INT64_MAX; // monotonic ms at which waiting ends whatever else holds
};

// Relays everything the two pipes hold now (-1: none) into our output queues `outputs`, reading as far
// as the queues have room and waiting for our readers to take bytes as `wait` allows. What a
// writer adds later is not waited for.
void relay_what_pipes_hold(our_outputs* outputs, int out_fd, int err_fd, const reader_wait& wait);

// Closes a run's pipe; what it still holds is counted as dropped from `queue`'s stream.
void close_pipe_counting_loss(int* fd, output_queue* queue);

// One line on stderr for each stream that has dropped bytes since the last such line.
void report_dropped_output(our_outputs* outputs);

// Before watchdog ends: writes both queues out as `wait` allows, drops what is left, and says
// what was dropped.
void finish_output(our_outputs* outputs, const reader_wait& wait);
