// What the supervisor's waits wake on, listed in one place: the run's pipes while their
// stream's backlog has room (data for us to relay), and our own streams while they hold bytes
// (room for us to write them).
#pragma once
#include <cstdint>

#include "platform/wait.h"
#include "watchdog/output_queue.h"

// Which of our own streams a wait considers.
enum stream_choice : unsigned { no_stream = 0, out_stream = 1, err_stream = 2, both_streams = 3 };

struct wait_list {
  wait_item items[4];
  int count = 0;
  int out_fd = -1;  // the run's pipes, as listed
  int err_fd = -1;
  std::int64_t until_give_up = INT64_MAX;  // ms until the first listed stream is given up
};

// The run's pipes `out_fd` and `err_fd` (-1: left out) while their stream's backlog in
// `outputs` has room, then each of `streams` that holds bytes its reader may still take: not once the reader has
// gone, nor once it has taken nothing for `give_up_ms`.
wait_list list_waits(const our_outputs* outputs, int out_fd, int err_fd, unsigned streams = both_streams,
                     std::int64_t give_up_ms = INT64_MAX);

// Waits on `list` for up to `ms`: returns at once with the streams (out_stream, err_stream)
// whose pipe holds data; otherwise waits until data arrives, one of our streams has room or
// its reader has gone, a wake-up comes (a child's end, a stop request), or the time is out,
// and returns 0 unless data arrived. A pipe whose writers have all gone and that holds nothing
// would answer at once: it leaves the list and the rest of the time is waited out.
unsigned wait_for_data(wait_list* list, long ms);
