// The real-time feed (-R): the encoder reads our feed as a sequence of whole JPEGs, each one
// packet of its timeline, 25 packets to a second, and records them as they are. So that the
// recording follows the wall clock for any camera, frame size and scene, we write exactly 25
// packets per second of camera time, from the first frame on; each packet is the newest
// complete JPEG. A camera faster than 25 frames a second has frames left out, one that pauses
// (or is away while we connect again) has its last frame held.
#pragma once
#include <cstddef>
#include <cstdint>

#include "framerelay/frame_sink.h"
#include "framerelay/picture_size.h"

constexpr std::int64_t packet_interval_ms = 40;  // the encoder's raw-video rate: 25 a second

// Frames waiting for their packet while the encoder is behind: at most one per packet (a frame
// that another follows before its packet falls due is never shown), within these bounds; past
// them the newest waiting frame is replaced, so the timeline stays whole and only the pictures
// of a long backlog come early.
constexpr int frame_queue_room = 64;
constexpr std::size_t frame_queue_bytes = 64 << 20;

// One held frame: its own copy of the JPEG, reused from frame to frame, and the first packet
// it can be shown in (the first that falls due once it has arrived).
struct held_frame {
  unsigned char* bytes = nullptr;
  std::size_t size = 0;
  std::size_t room = 0;
  long long first_packet = 0;
};

struct realtime_feed {
  std::int64_t (*clock)() = nullptr;   // the monotonic clock, in milliseconds
  picture_size expected;               // the size -s gave (0 by 0: none given)
  picture_size recorded;               // the size of the first frame, which the recording announces
  bool warned_change = false;          // a change of the picture's size has been reported
  held_frame queue[frame_queue_room];  // frames newer than `current`, oldest first, as a ring
  int queue_first = 0;
  int queue_count = 0;
  std::size_t queue_size = 0;       // bytes of the frames in the queue
  held_frame current;               // the frame of the packet being written
  std::size_t packet_written = 0;   // bytes of that packet written; 0: none begun
  bool started = false;             // the first frame has arrived: the timeline runs
  std::int64_t first_frame_ms = 0;  // the monotonic clock at the first frame
  long long packets_done = 0;       // whole packets written
  bool feed_full = false;           // the feed took nothing at the last try
  std::int64_t retry_at_ms = 0;     // while full, when to try again unless the wait says it has room
};

// `expected` is the picture size the command line gave, 0 by 0 when it gave none; the arrival
// of frames is read on `clock`.
void begin_realtime_feed(realtime_feed* feed, picture_size expected, std::int64_t (*clock)());
void end_realtime_feed(realtime_feed* feed);

// The feeder of the real-time feed: holds a copy of the frame for the first packet that
// falls due after it has arrived (the count is not used). A frame of any size is taken; one
// whose picture differs from the expected size or from the first frame's is reported, once.
feed_outcome take_realtime_frame(void* feed, const unsigned char* frame, std::size_t size, long long count);

// Writes packets due by `now` while `fd` takes them (it is non-blocking). feed_ok when all are
// written or the feed is full for now (`feed_full` then says so, and a full feed is tried
// again only after a short while or once the caller has cleared it on seeing room);
// feed_encoder_gone when the encoder has stopped reading. Every byte written is added to *fed.
feed_outcome write_due_packets(realtime_feed* feed, int fd, std::int64_t now, unsigned long long* fed);

// True while packets due by `now` are still to be written.
bool packets_owed(const realtime_feed& feed, std::int64_t now);

// Milliseconds from `now` until the next packet falls due (-1: the timeline has not begun).
long ms_to_next_packet(const realtime_feed& feed, std::int64_t now);
