// The relay loop of framerelay: handlers, the two children, reading the fetch pipe and passing
// whole frames on (scanner -> pacing -> feeder), and the wind-down. Its result is the exit status.
#pragma once
#include <cstddef>

struct platform;
struct relay_settings_record;

// The fetch pipe is read in blocks of its own capacity: one read takes all the pipe holds.
constexpr std::size_t read_block_size = 262144;

// Exit statuses of a relay run.
enum relay_exit_status {
  relay_exit_done = 0,           // the stream ended (wget succeeded) or a stop was requested
  relay_exit_start_failure = 1,  // a program could not be started or a pipe could not be made
  relay_exit_fetch_failed = 2,   // wget failed, or the stream brought no frame
  relay_exit_encoder_gone = 3,   // ffmpeg stopped taking frames before the run ended
};

// The whole relay: handlers, children, read loop, wind-down, on the platform record `system`.
// Returns the exit status.
int relay_loop(platform* system, const relay_settings_record& settings);
