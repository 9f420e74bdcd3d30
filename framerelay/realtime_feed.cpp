// The real-time feed: a packet clock on the monotonic clock and the frames held for it.
#include "framerelay/realtime_feed.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/pipe.h"

namespace {

// A full feed is tried again this soon even when no wait has said it has room: often enough
// to pass the largest packets at their rate (a 1 MiB feed pipe refilled every 10 ms carries
// 100 MB/s), seldom enough to cost nothing while the stream keeps the loop reading.
constexpr std::int64_t full_feed_retry_ms = 10;

bool hold(held_frame* held, const unsigned char* bytes, std::size_t size) {
  if (size > held->room) {
    auto* grown = static_cast<unsigned char*>(std::realloc(held->bytes, size));
    if (grown == nullptr) return false;
    held->bytes = grown;
    held->room = size;
  }
  std::memcpy(held->bytes, bytes, size);
  held->size = size;
  return true;
}

// The recording announces the first frame's size; a camera whose pictures differ from it, or
// from the size the command line expects, is reported once, naming both sizes.
void check_picture_size(realtime_feed* feed, const unsigned char* frame, std::size_t size) {
  picture_size picture;
  if (feed->warned_change || !read_picture_size(frame, size, &picture)) return;
  const picture_size& expected = feed->expected;
  if (feed->recorded.width == 0) {
    feed->recorded = picture;
    if (expected.width == 0 || expected == picture) return;
    std::fprintf(stderr,
                 "Warning: the camera's picture is %dx%d, not the %dx%d of -s; it is recorded at its own size\n",
                 picture.width, picture.height, expected.width, expected.height);
  } else if (!(picture == feed->recorded)) {
    std::fprintf(stderr,
                 "Warning: the camera's picture changed from %dx%d to %dx%d; its frames are recorded as they come\n",
                 feed->recorded.width, feed->recorded.height, picture.width, picture.height);
    feed->warned_change = true;
  }
}

}  // namespace

void begin_realtime_feed(realtime_feed* feed, picture_size expected, std::int64_t (*clock)()) {
  *feed = realtime_feed{};
  feed->expected = expected;
  feed->clock = clock;
}

void end_realtime_feed(realtime_feed* feed) {
  for (held_frame& f : feed->queue) std::free(f.bytes);
  std::free(feed->current.bytes);
  *feed = realtime_feed{};
}

feed_outcome take_realtime_frame(void* context, const unsigned char* frame, std::size_t size, long long) {
  auto* feed = static_cast<realtime_feed*>(context);
  check_picture_size(feed, frame, size);
  std::int64_t now = feed->clock();
  if (!feed->started) {
    feed->started = true;
    feed->first_frame_ms = now;
  }
  long long first_packet = (now - feed->first_frame_ms + packet_interval_ms - 1) / packet_interval_ms;
  // A frame takes the place of the newest waiting one when both would first be shown in the
  // same packet, or when the queue is full.
  held_frame* last =
      feed->queue_count > 0 ? &feed->queue[(feed->queue_first + feed->queue_count - 1) % frame_queue_room] : nullptr;
  bool replace = last != nullptr && (last->first_packet == first_packet || feed->queue_count == frame_queue_room ||
                                     feed->queue_size - last->size + size > frame_queue_bytes);
  held_frame* slot = replace ? last : &feed->queue[(feed->queue_first + feed->queue_count) % frame_queue_room];
  std::size_t replaced = replace ? last->size : 0;
  if (!hold(slot, frame, size)) {
    std::fprintf(stderr, "Warning: no memory for a frame of %zu bytes, dropped\n", size);
    if (replace) slot->size = replaced;
    return feed_ok;
  }
  slot->first_packet = first_packet;
  feed->queue_size = feed->queue_size - replaced + size;
  if (!replace) ++feed->queue_count;
  return feed_ok;
}

namespace {

// Packets the timeline asks for by `now`: one for every interval begun since the first frame.
long long packets_due(const realtime_feed& feed, std::int64_t now) {
  if (!feed.started || now < feed.first_frame_ms) return feed.started ? 1 : 0;
  return (now - feed.first_frame_ms) / packet_interval_ms + 1;
}

}  // namespace

bool packets_owed(const realtime_feed& feed, std::int64_t now) {
  return feed.packet_written > 0 || feed.packets_done < packets_due(feed, now);
}

long ms_to_next_packet(const realtime_feed& feed, std::int64_t now) {
  if (!feed.started) return -1;
  if (packets_owed(feed, now)) return 0;
  std::int64_t next = feed.first_frame_ms + feed.packets_done * packet_interval_ms;
  return next > now ? static_cast<long>(next - now) : 0;
}

feed_outcome write_due_packets(realtime_feed* feed, int fd, std::int64_t now, unsigned long long* fed) {
  // A flowing camera stream keeps the caller reading without a wait: a full feed is not
  // asked again on every read.
  if (feed->feed_full && now < feed->retry_at_ms) return feed_ok;
  feed->feed_full = false;
  while (packets_owed(*feed, now)) {
    // A packet begins: it shows the newest frame that had arrived when it fell due, so a
    // backlog in the encoder delays the pictures but never moves them on the timeline.
    while (feed->packet_written == 0 && feed->queue_count > 0 &&
           feed->queue[feed->queue_first].first_packet <= feed->packets_done) {
      held_frame* next = &feed->queue[feed->queue_first];
      feed->queue_size -= next->size;
      std::swap(feed->current, *next);
      feed->queue_first = (feed->queue_first + 1) % frame_queue_room;
      // An empty queue starts again at its first slot: while the encoder keeps up, one slot
      // and the current frame pass their two buffers between them, and the other slots hold
      // no memory.
      if (--feed->queue_count == 0) feed->queue_first = 0;
    }
    const held_frame& frame = feed->current;
    ssize_t n = write_some(fd, frame.bytes + feed->packet_written, frame.size - feed->packet_written);
    if (n == -EAGAIN) {
      feed->feed_full = true;
      feed->retry_at_ms = now + full_feed_retry_ms;
      return feed_ok;
    }
    if (n <= 0) return feed_encoder_gone;
    feed->packet_written += static_cast<std::size_t>(n);
    *fed += static_cast<unsigned long long>(n);
    if (feed->packet_written == frame.size) {
      feed->packet_written = 0;
      ++feed->packets_done;
    }
  }
  return feed_ok;
}
