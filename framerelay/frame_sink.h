// Where the whole frames go that the marker scanner (frame_scanner.h) cuts out of the fetched
// stream, one by one: the frame sink. The run's sink is its pacing (pacing.h), which hands each
// frame with its count to a feeder (feeder.h, realtime_feed.h). What a frame came to tells
// the scanner whether to go on.
#pragma once
#include <cstddef>

// What taking a frame came to; anything but feed_ok ends the run.
enum feed_outcome { feed_ok = 0, feed_stopped, feed_encoder_gone };

struct frame_sink {
  feed_outcome (*take)(void* context, const unsigned char* frame, std::size_t size);
  void* context;
};

// Where a frame goes with the number of times it is to be fed to the encoder.
struct frame_feeder {
  feed_outcome (*feed)(void* context, const unsigned char* frame, std::size_t size, long long count);
  void* context;
};
