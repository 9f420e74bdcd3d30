// The bounded backlogs of our standard output and standard error.
#include "watchdog/output_queue.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "common/monotonic_clock.h"

namespace {

void open_queue(output_queue* q, int fd, std::int64_t (*clock)()) {
  *q = output_queue{};
  q->clock = clock;
  open_output_writer(fd, &q->writer);
  q->data = new char[queue_capacity];
}

void close_queue(output_queue* q) {
  close_output_writer(&q->writer);
  delete[] q->data;
  *q = output_queue{};
}

// Moves the pending bytes to the front when the room behind them is short.
void make_room(output_queue* q, std::size_t len) {
  if (q->end + len <= queue_capacity || q->begin == 0) return;
  std::memmove(q->data, q->data + q->begin, q->end - q->begin);
  q->end -= q->begin;
  q->begin = 0;
}

}  // namespace

void open_output_queues(our_outputs* outputs, std::int64_t (*clock)()) {
  open_queue(&outputs->out, 1, clock);
  open_queue(&outputs->err, 2, clock);
}

void close_output_queues(our_outputs* outputs) {
  close_queue(&outputs->out);
  close_queue(&outputs->err);
}

std::size_t queue_pending(const output_queue* q) { return q->end - q->begin; }

bool queue_full(const output_queue* q) { return queue_pending(q) >= backlog_limit; }

namespace {

// A write that failed: the bytes it held are dropped, as a failed write drops them. Only a
// stream whose reader has gone stays failed; another error (a full disk) may pass, and the
// bytes after it are written again once the stream takes them.
void note_write_error(output_queue* q, long err) {
  if (err == -EPIPE || err == -EBADF) q->failed = true;
  q->drop_error = static_cast<int>(-err);
  q->dropped += q->end - q->begin;
  q->begin = q->end = 0;
}

}  // namespace

std::size_t queue_room(const output_queue* q) { return q->data == nullptr ? 0 : queue_capacity - queue_pending(q); }

void queue_flush(output_queue* q) {
  while (q->begin < q->end && !q->failed) {
    long n = write_output(&q->writer, q->data + q->begin, q->end - q->begin);
    if (n == -EAGAIN || n == 0) return;
    if (n < 0) {
      note_write_error(q, n);
      return;
    }
    q->begin += static_cast<std::size_t>(n);
    q->waiting_since = q->clock();
  }
  if (q->begin == q->end) q->begin = q->end = 0;
}

void flush_outputs(our_outputs* outputs) {
  queue_flush(&outputs->out);
  queue_flush(&outputs->err);
}

void queue_put(output_queue* q, const char* bytes, std::size_t len) {
  if (q->data != nullptr && len > 0 && !q->failed && q->begin == q->end) {
    // Nothing waits: the bytes go straight out as far as the stream takes them; what is left
    // is held, and begins to wait now.
    long n = write_output(&q->writer, bytes, len);
    if (n > 0) {
      bytes += n;
      len -= static_cast<std::size_t>(n);
    } else if (n < 0 && n != -EAGAIN) {
      note_write_error(q, n);
      q->dropped += len;
      return;
    }
    if (len == 0) return;
  }
  queue_hold(q, bytes, len);
}

void queue_hold(output_queue* q, const char* bytes, std::size_t len) {
  if (q->data == nullptr || len == 0) return;
  if (q->failed) {
    q->dropped += len;
    return;
  }
  if (q->begin == q->end) q->waiting_since = q->clock();
  // Whole or not at all: a piece cut out of the middle of the stream would splice its text.
  // Relayed output never comes here beyond the room (its pipe is read only as far as there is
  // room), so only our own lines can be dropped, when our reader takes nothing for long.
  if (len > queue_room(q)) {
    q->dropped += len;
    q->drop_error = 0;
    return;
  }
  make_room(q, len);
  std::memcpy(q->data + q->end, bytes, len);
  q->end += len;
}

std::int64_t queue_stalled_ms(const output_queue* q) {
  return queue_pending(q) == 0 ? 0 : q->clock() - q->waiting_since;
}

void queue_discard(output_queue* q) {
  if (queue_pending(q) == 0) return;
  q->dropped += queue_pending(q);
  q->drop_error = 0;
  q->begin = q->end = 0;
}
