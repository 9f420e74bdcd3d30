// Paced output: the number of times each frame is fed to the encoder (a fixed count, or one
// that follows the time since the previous frame), the pacing log of DEBUG_XX, and the frames
// of the run counted. The pacing is the run's frame sink: it takes each whole frame from the
// scanner and hands it, with its count, to the feeder.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "framerelay/frame_sink.h"

// What the pacing takes from the relay settings.
struct pacing_settings {
  int repeat = 40;        // times each frame is fed, or the adaptive base
  bool adaptive = false;  // the count follows the time since the previous frame
};

// The pacing of one run's frames.
struct pacing_state {
  pacing_settings settings;
  frame_feeder feeder{};
  std::int64_t (*clock)() = nullptr;   // the monotonic clock, in milliseconds
  bool have_previous = false;          // a frame has been emitted in this run
  std::int64_t previous_frame_ms = 0;  // the clock at that frame
  std::FILE* pacing_log = nullptr;
  int log_line = 0;
  long long frames = 0;  // frames emitted in this run
};

// Starts the pacing of a run: its frames go to `feeder`; with DEBUG_XX set and not empty, the
// pacing log "<log_folder>/framerelay.log" is emptied and opened (without it, or when it
// cannot be opened, there is no log).
void begin_pacing(pacing_state* pacing, pacing_settings settings, frame_feeder feeder, std::int64_t (*clock)(),
                  const char* log_folder);

// The pacing as the scanner's frame sink.
frame_sink pacing_sink(pacing_state* pacing);

// Closes the pacing log, if one is open, and puts the pacing back to the start of a run.
void end_pacing(pacing_state* pacing);

// The number of writes for one frame after `elapsed_ms` since the previous one.
long long frame_repeat_count(int repeat, bool adaptive, long long elapsed_ms);
