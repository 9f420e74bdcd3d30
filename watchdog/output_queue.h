// Our own standard output and standard error as the supervisor writes them: never waiting on
// their reader. What a stream does not take at once is held in a bounded backlog and written
// when the stream has room again, in order; while the relayed part of a backlog is full, the
// child's pipe for that stream is not read, so the child feels the back-pressure as it would
// writing to the stalled reader itself.
#pragma once
#include <cstddef>
#include <cstdint>

#include "common/monotonic_clock.h"
#include "platform/pipe.h"

// Relayed bytes held before the child's pipe waits, and everything held: the backlog, a run's
// last output, messages.
constexpr std::size_t backlog_limit = std::size_t{64} * 1024;
constexpr std::size_t queue_capacity = std::size_t{512} * 1024;

struct output_queue {
  output_writer writer;
  char* data = nullptr;   // queue_capacity bytes once opened
  std::size_t begin = 0;  // pending bytes are data[begin, end)
  std::size_t end = 0;
  bool failed = false;              // the stream's reader has gone: bytes are dropped
  int drop_error = 0;               // why bytes were last dropped: a write's errno, 0 when not taken in time
  unsigned long long dropped = 0;   // bytes dropped from this stream
  unsigned long long reported = 0;  // of those, the bytes already said on stderr
  std::int64_t waiting_since = 0;   // monotonic ms: when the stream last took bytes, or held ones began to wait
  std::int64_t (*clock)() = system_monotonic_ms;  // the monotonic clock those times are read on
};

// Our descriptors 1 and 2 as the cycle writes them. main owns the record and hands it down.
struct our_outputs {
  output_queue out;
  output_queue err;
};

// Opens both queues; their times are read on `clock` (the platform record's).
void open_output_queues(our_outputs* outputs, std::int64_t (*clock)());
void close_output_queues(our_outputs* outputs);

// Appends bytes (written at once where the stream takes them), whole or, when they do not
// fit, not at all. Never waits.
void queue_put(output_queue* q, const char* bytes, std::size_t len);

// Appends bytes for the next flush, whole or, when they do not fit, not at all; writes
// nothing now (a stream that keeps coming is written in batches).
void queue_hold(output_queue* q, const char* bytes, std::size_t len);

// Bytes the queue can still take.
std::size_t queue_room(const output_queue* q);

// Writes what the stream takes now.
void queue_flush(output_queue* q);

// The same for both of our streams.
void flush_outputs(our_outputs* outputs);

std::size_t queue_pending(const output_queue* q);

// True while the backlog is at its limit: the child's pipe for this stream is left unread.
bool queue_full(const output_queue* q);

// Milliseconds for which held bytes have waited without the stream taking any (0: none held).
std::int64_t queue_stalled_ms(const output_queue* q);

// Drops what the queue holds, counted as dropped.
void queue_discard(output_queue* q);
