// Writing whole frames into the encoder's input, the number of times the pacing gave.
#include "framerelay/feeder.h"

#include <cerrno>
#include <cstddef>

#include "platform/pipe.h"
#include "platform/platform.h"
#include "platform/wait.h"

namespace {

// Writes the frame once, whole.
feed_outcome feed_once(pipe_feeder* feeder, const unsigned char* frame, std::size_t size) {
  while (size > 0) {
    ssize_t n = write_some(feeder->fd, frame, size);
    if (n > 0) {
      *feeder->fed += static_cast<unsigned long long>(n);
      frame += n;
      size -= static_cast<std::size_t>(n);
      continue;
    }
    if (stop_request(feeder->system) != 0) return feed_stopped;
    if (n != -EAGAIN) return feed_encoder_gone;  // no reader left (EPIPE): the encoder has gone
    // Until the feed has room or its reader has gone, or a stop is requested.
    wait_item room{feeder->fd, wait_write, 0};
    wait_for_events(feeder->system, &room, 1, -1);
    if (stop_request(feeder->system) != 0) return feed_stopped;
  }
  return feed_ok;
}

feed_outcome feed_frame(void* context, const unsigned char* frame, std::size_t size, long long count) {
  auto* feeder = static_cast<pipe_feeder*>(context);
  for (long long i = 0; i < count; ++i) {
    if (stop_request(feeder->system) != 0) return feed_stopped;
    feed_outcome outcome = feed_once(feeder, frame, size);
    if (outcome != feed_ok) return outcome;
  }
  return feed_ok;
}

}  // namespace

frame_feeder feeder_of(pipe_feeder* feeder) { return frame_feeder{feed_frame, feeder}; }
