// Paced output: each whole JPEG frame the marker scanner (frame_scanner.h) cuts out of the
// fetched stream is handed to a sink with the number of times it is to be fed to the encoder.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>

// The fetch pipe is read in blocks of its own capacity: one read takes all the pipe holds.
constexpr std::size_t read_block_size = 262144;

// What the scanner takes from the relay settings.
struct scan_settings {
  int repeat = 40;             // times each frame is fed, or the adaptive base
  bool adaptive = false;       // the count follows the time since the previous frame
  bool trace_markers = false;  // -d bit debug_marker_trace
};

// What feeding a frame came to; anything but feed_ok ends the run.
enum feed_outcome { feed_ok = 0, feed_stopped, feed_encoder_gone };

// Where completed frames go: `write` feeds the `size` bytes of `frame` `count` times.
struct frame_sink {
  feed_outcome (*write)(void* context, const unsigned char* frame, std::size_t size, long long count);
  void* context;
};

// The pacing of one run's frames.
struct pacing_state {
  bool have_previous = false;           // a frame has been emitted in this run
  std::int64_t previous_frame_ms = 0;   // the monotonic clock at that frame
  bool log_checked = false;             // DEBUG_XX has been looked at
  std::FILE* pacing_log = nullptr;
  int log_line = 0;
  long long frames = 0;                 // frames emitted in this run
};

// Set by the stop handler, which can reach nothing that is handed down: the one flag of the
// process that the relay's loops and waits look at.
extern std::atomic<bool> stop_requested;

// Hands the `size` bytes of a completed frame to the sink the computed number of times and
// logs it. The bytes need to stay valid only during the call.
feed_outcome emit_frame(pacing_state* pacing, const scan_settings& settings, const frame_sink& sink,
                        const unsigned char* frame, std::size_t size);

// Closes the pacing log, if one is open, and puts the pacing back to the start of a run.
void end_pacing(pacing_state* pacing);

// The number of writes for one frame after `elapsed_ms` since the previous one.
long long frame_repeat_count(int repeat, bool adaptive, long long elapsed_ms);

// Exit statuses of a relay run.
enum relay_exit_status {
  relay_exit_done = 0,           // the stream ended (wget succeeded) or a stop was requested
  relay_exit_start_failure = 1,  // a program could not be started or a pipe could not be made
  relay_exit_fetch_failed = 2,   // wget ended with a failure status
  relay_exit_encoder_gone = 3,   // ffmpeg stopped taking frames before the run ended
};

struct relay_settings_record;

// The whole relay: handlers, children, read loop, wind-down. Returns the exit status.
int relay_loop(const relay_settings_record& settings);
