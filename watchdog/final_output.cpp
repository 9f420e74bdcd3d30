// Relaying what a run's pipes held at its end, and saying what had to be dropped.
#include "watchdog/final_output.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "common/monotonic_clock.h"
#include "platform/pipe.h"
#include "platform/wait.h"
#include "watchdog/messages.h"
#include "watchdog/wait_list.h"

namespace {

// Room kept free in each queue for our own lines while a run's last output fills it.
constexpr std::size_t message_room = 64 * 1024;

struct owed_output {
  int fd;
  output_queue* queue;
  long long left;  // bytes still to take from the pipe
};

std::size_t relay_room(const output_queue* q) {
  std::size_t limit = queue_capacity - message_room;
  return queue_pending(q) >= limit ? 0 : limit - queue_pending(q);
}

// Takes from the pipe as much of what is owed as the queue has room for.
void take_owed(owed_output* o) {
  char buffer[16384];
  while (o->left > 0) {
    std::size_t room = relay_room(o->queue);
    if (room == 0) return;
    std::size_t want = std::min({static_cast<std::size_t>(o->left), room, sizeof buffer});
    ssize_t n = read_some(o->fd, buffer, want);
    if (n <= 0) {
      o->left = 0;  // nothing more to take after all
      return;
    }
    queue_put(o->queue, buffer, static_cast<std::size_t>(n));
    o->left -= n;
  }
}

// Writes both queues out, waiting for their readers while they keep taking bytes, until each
// is empty or has taken nothing for `give_up_ms`, or `stop()` holds.
void drain_output_queues(our_outputs* outputs, long give_up_ms, bool (*stop)()) {
  for (;;) {
    flush_outputs(outputs);
    wait_list waits = list_waits(outputs, -1, -1, both_streams, give_up_ms);
    if (waits.count == 0 || (stop != nullptr && stop())) return;
    wait_for_events(waits.items, waits.count, static_cast<long>(waits.until_give_up));
  }
}

const char* stream_name(const our_outputs* outputs, const output_queue* q) {
  return q == &outputs->out ? "standard output" : "standard error";
}

}  // namespace

void relay_what_pipes_hold(our_outputs* outputs, int out_fd, int err_fd, const reader_wait& wait) {
  owed_output owed[2] = {{out_fd, &outputs->out, 0}, {err_fd, &outputs->err, 0}};
  for (owed_output& o : owed)
    if (o.fd >= 0) o.left = std::max(0, bytes_available(o.fd));
  for (;;) {
    unsigned streams = no_stream;
    for (owed_output& o : owed) {
      take_owed(&o);
      if (o.left > 0) streams |= o.queue == &outputs->out ? out_stream : err_stream;
    }
    // Only the streams that still owe a pipe's bytes are waited for.
    wait_list waits = list_waits(outputs, -1, -1, streams, wait.give_up_ms);
    if (waits.count == 0 || (wait.stop != nullptr && wait.stop())) return;
    std::int64_t now = monotonic_now();
    if (now >= wait.deadline) return;
    wait_for_events(waits.items, waits.count, static_cast<long>(std::min(waits.until_give_up, wait.deadline - now)));
    flush_outputs(outputs);
  }
}

void close_pipe_counting_loss(int* fd, output_queue* queue) {
  if (*fd < 0) return;
  int held = bytes_available(*fd);
  if (held > 0) {
    queue->dropped += static_cast<unsigned long long>(held);
    if (!queue->failed) queue->drop_error = 0;
  }
  close_fd(fd);
}

void report_dropped_output(our_outputs* outputs) {
  // With our stderr's reader gone there is nobody to tell.
  if (outputs->err.failed) return;
  for (output_queue* q : {&outputs->out, &outputs->err}) {
    unsigned long long bytes = q->dropped - q->reported;
    if (bytes == 0) continue;
    q->reported = q->dropped;
    const char* why = q->failed            ? "its reader has gone"
                      : q->drop_error != 0 ? std::strerror(q->drop_error)
                                           : "its reader did not take them in time";
    say(outputs, "ERROR: %llu bytes of %s were dropped: %s\n", bytes, stream_name(outputs, q), why);
  }
}

void finish_output(our_outputs* outputs, const reader_wait& wait) {
  drain_output_queues(outputs, wait.give_up_ms, wait.stop);
  queue_discard(&outputs->out);
  queue_discard(&outputs->err);
  report_dropped_output(outputs);
}
