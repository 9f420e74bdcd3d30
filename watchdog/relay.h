// The relay: everything that moves bytes from child pipes to our own standard output and
// standard error, in one place with one wait loop. It serves any number of pipes at once: the
// current run's two, whose chunks the hang tests look at, and those an earlier run left to
// processes it spared (a daemon it started), relayed until their last writer closes them. What
// our readers do not take at once is held in bounded backlogs (output_queue.h); a full backlog
// leaves the pipes of its stream unread, so their writers feel the back-pressure as they would
// writing to the stalled reader themselves. At a run's end the relay passes on what the run's
// pipes held, and it says what had to be dropped.
#pragma once
#include <cstddef>
#include <cstdint>

#include "watchdog/output_queue.h"
#include "watchdog/pipe_activity.h"

constexpr std::size_t chunk_size = 1023;        // one read per stream and pass
constexpr int max_relayed_pipes = 62;           // the run's two and those that processes spared still hold
constexpr std::size_t spared_line_room = 4096;  // a spared pipe's line held until its end comes

// Which of our own streams.
enum stream_choice : unsigned { no_stream = 0, out_stream = 1, err_stream = 2, both_streams = 3 };

struct relayed_pipe {
  int fd = -1;
  unsigned stream = out_stream;  // the stream of ours that takes its bytes
  bool current = false;          // the current run's: its chunks are tested, its writes are the run's output
  bool flowing = false;          // the last read filled a chunk: read again without waiting
  pipe_activity activity;        // for the silence test
  // A spared pipe is relayed in whole lines, so that its lines do not cut into the run's: the
  // start of a line is held here (up to spared_line_room bytes) until its end comes.
  char* line = nullptr;
  std::size_t line_fill = 0;
};

struct platform;

struct relay_unit {
  our_outputs* outputs = nullptr;
  platform* system = nullptr;  // the waits and the clock
  relayed_pipe pipes[max_relayed_pipes];
  int count = 0;
  unsigned passes = 0;
  bool said_full = false;  // the line on a full table of spared pipes has been said
};

// What one read of each of the current run's pipes brought, for the hang tests.
struct run_chunks {
  char out[chunk_size + 1] = {};
  char err[chunk_size + 1] = {};
  std::size_t out_len = 0;
  std::size_t err_len = 0;
};

// How long output is waited for at an end.
struct reader_wait {
  long give_up_ms = 0;                        // a stream that has taken nothing this long is given up
  bool (*stop)(const relay_unit*) = nullptr;  // ends the wait at once when it holds; null: nothing does
  std::int64_t deadline = INT64_MAX;          // monotonic ms at which waiting ends whatever else holds
};

void open_relay(relay_unit* relay, our_outputs* outputs, platform* system);

// The current run's pipes (read ends), made non-blocking; -1 for none.
void relay_run_pipes(relay_unit* relay, int out_fd, int err_fd);

// The current run's read end for a stream, or -1.
int run_pipe(const relay_unit* relay, unsigned stream);

// One pass's relaying: waits up to `wait_ms` unless a current stream is flowing (then only
// every few passes, so the quiet ones are not left behind); the wait ends at once when a pipe
// holds data, one of our streams has room or its reader has gone, or a wake-up comes (a child's
// end, a stop request). Then one chunk from each current pipe that holds data goes into
// `chunks` and to our streams, and spared pipes are relayed too. Returns the current streams
// read; `waited` says whether the pass waited.
unsigned relay_pass(relay_unit* relay, long wait_ms, run_chunks* chunks, bool* waited);

// Relays every pipe and writes our streams for up to `ms`, without tests (the grace after a
// kill, the pause between runs); ends early once `stop(relay)` holds. False when it ended early.
bool relay_for(relay_unit* relay, long ms, bool (*stop)(const relay_unit*));

// The current run is over: what its pipes hold now is relayed, as far as `wait` lets our
// readers take it. A pipe that processes the run spared still hold stays open and relayed
// (`keep_held`), while there is room for it (60 such pipes); the others are closed, and what
// they still held is counted as dropped. A run whose pipes find no room is said, once.
void relay_end_run(relay_unit* relay, bool keep_held, const reader_wait& wait);

// True when a pipe of the current run is left unread: its stream's backlog is full, so its
// writer waits on our reader.
bool run_pipe_left_unread(const relay_unit* relay);

// Whether a current pipe's writer wrote since the last look (pipe_activity.h).
bool run_pipe_written(relay_unit* relay, unsigned stream);

// The stream whose reader has gone (a write failed with a broken pipe), or no_stream.
unsigned stream_reader_gone(const relay_unit* relay);

// "standard output" or "standard error", for messages.
const char* stream_name(unsigned stream);

// One line on stderr for each stream that has dropped bytes since the last such line.
void report_dropped_output(relay_unit* relay);

// Before watchdog ends: relays what every pipe holds, closes them, writes both backlogs out as
// `wait` allows, drops what is left and says what was dropped.
void finish_relay(relay_unit* relay, const reader_wait& wait);
