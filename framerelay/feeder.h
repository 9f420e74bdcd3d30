// The feeder of the fixed and adaptive modes: each frame goes into the encoder's input whole,
// as many times as the pacing says. The feed is non-blocking: while a stalled encoder leaves
// no room, the wait for room is one that a stop request ends, and a stop is honoured between
// the repetitions too, so no count delays it.
#pragma once

#include "framerelay/frame_sink.h"

struct platform;

struct pipe_feeder {
  platform* system = nullptr;         // the waits, and the stop request
  int fd = -1;                        // the feed pipe's write end
  unsigned long long* fed = nullptr;  // bytes written into it, added to
};

// The feeder for the pacing (pacing.h).
frame_feeder feeder_of(pipe_feeder* feeder);
