// Frame extraction and paced output: whole JPEG frames are cut out of the fetched stream at
// their start (0xFF 0xD8) and end (0xFF 0xD9) markers and handed to a sink with the number of
// times each is to be fed to the encoder.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>

constexpr std::size_t frame_start_room = 65536;     // the frame buffer's first size
constexpr std::size_t frame_size_limit = 16 << 20;  // an open frame longer than this is dropped
constexpr std::size_t read_block_size = 4096;

// What the scanner takes from the relay settings.
struct scan_settings {
  int repeat = 40;             // times each frame is fed, or the adaptive base
  bool adaptive = false;       // the count follows the time since the previous frame
  bool trace_markers = false;  // -d bit 0x02
};

// What feeding a frame came to; anything but feed_ok ends the run.
enum feed_outcome { feed_ok = 0, feed_stopped, feed_encoder_gone };

// Where completed frames go: `write` feeds the `size` bytes of `frame` `count` times.
struct frame_sink {
  feed_outcome (*write)(void* context, const unsigned char* frame, std::size_t size, long long count);
  void* context;
};

struct relay_state {
  unsigned char* frame = nullptr;  // the frame being collected; grows up to frame_size_limit
  std::size_t frame_room = 0;
  std::size_t frame_fill = 0;
  bool have_previous = false;           // a frame has been emitted in this run
  std::int64_t previous_frame_ms = 0;   // the monotonic clock at that frame
  bool log_checked = false;             // DEBUG_XX has been looked at
  std::FILE* pacing_log = nullptr;
  int log_line = 0;
};

// Marker scanner state, kept across reads.
struct scanner_state {
  bool in_frame = false;
  bool after_ff = false;  // the previous byte was a 0xFF not yet taken
  int frame_starts = 0;
};

extern relay_state relay;
extern scanner_state scanner;
extern std::atomic<bool> stop_requested;

// Feeds a block of fetched bytes through the marker scanner; completed frames go to `sink`.
// Stops at the first frame the sink does not take (feed_ok) and returns that outcome.
feed_outcome scan_bytes(const scan_settings& settings, const frame_sink& sink, const unsigned char* bytes,
                        std::size_t count);

// The number of writes for one frame after `elapsed_ms` since the previous one.
long long frame_repeat_count(int repeat, bool adaptive, long long elapsed_ms);

// Exit statuses of a relay run.
enum relay_exit_status {
  relay_exit_done = 0,           // the stream ended (wget succeeded) or a stop was requested
  relay_exit_start_failure = 1,  // a program could not be started or a pipe could not be made
  relay_exit_fetch_failed = 2,   // wget ended with a failure status
  relay_exit_encoder_gone = 3,   // ffmpeg stopped taking frames before the run ended
};

// The whole relay: handlers, children, read loop, wind-down. Returns the exit status.
int relay_loop();

// Puts relay and scanner state back to the start (for tests); closes the pacing log and
// gives the frame buffer back.
void reset_relay_state();
