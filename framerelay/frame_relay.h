// Frame extraction and paced output: whole JPEG frames are cut out of the fetched stream at
// their start (0xFF 0xD8) and end (0xFF 0xD9) markers and written to the encoder repeatedly.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "common/wall_clock.h"

constexpr std::size_t frame_buffer_size = 65536;
constexpr std::size_t read_block_size = 4096;

struct relay_state {
  unsigned char frame[frame_buffer_size];  // the frame being collected
  std::size_t frame_fill = 0;
  wall_time previous_frame_time{0, 0};     // seconds 0: no frame yet
  bool log_checked = false;                // DEBUG_XX has been looked at
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

// Feeds a block of fetched bytes through the marker scanner.
void scan_bytes(const unsigned char* bytes, std::size_t count);

void put_frame_byte(unsigned char b);
void flush_frame_buffer();

// Writes the completed frame to the feed pipe the computed number of times and empties it.
void emit_frame();

// The number of writes for one frame after `elapsed_ms` since the previous one.
long long frame_repeat_count(int repeat, bool adaptive, long long elapsed_ms);

// The whole relay: handlers, children, read loop, wind-down. Returns the exit status.
int relay_loop();

// Puts relay and scanner state back to the start (for tests); closes the pacing log.
void reset_relay_state();
