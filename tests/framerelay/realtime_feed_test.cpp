// The real-time feed on a driven clock: which frame each packet of the encoder's timeline
// holds, and how the packets are laid out.
#include "framerelay/realtime_feed.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "common/monotonic_clock.h"
#include "platform/pipe.h"

namespace {

std::int64_t fake_now = 0;
std::int64_t fake_clock() { return fake_now; }

TEST(RealtimeFeed, PacketIsOneRawPictureOfTheSize) {
  struct { int w, h; long long size; } rows[] = {
      {640, 480, 460800}, {1920, 1080, 3110400}, {641, 481, 463043}, {1, 1, 3}, {0, 480, 0}, {-3, 7, 0}};
  for (const auto& r : rows) EXPECT_EQ(raw_packet_size(r.w, r.h), r.size) << r.w << "x" << r.h;
}

// A 16x16 picture: packets of 384 bytes, many of which the pipe holds.
struct feed_fixture {
  realtime_feed feed;
  unsigned long long fed = 0;  // bytes the feed wrote
  int fds[2] = {-1, -1};
  feed_fixture() {
    monotonic_now = fake_clock;
    fake_now = 1000;
    begin_realtime_feed(&feed, 16, 16);
    make_pipe(fds, 0);
    set_nonblocking(fds[0]);
    set_nonblocking(fds[1]);
  }
  ~feed_fixture() {
    end_realtime_feed(&feed);
    close_fd(&fds[0]);
    close_fd(&fds[1]);
    monotonic_now = system_monotonic_ms;
  }
  void frame_at(std::int64_t t, const std::string& jpeg, bool feed_takes = true) {
    fake_now = t;
    if (feed_takes) write_due_packets(&feed, fds[1], t, &fed);
    take_realtime_frame(&feed, reinterpret_cast<const unsigned char*>(jpeg.data()), jpeg.size(), 1);
    if (feed_takes) write_due_packets(&feed, fds[1], t, &fed);
  }
  // The frames the packets written so far hold, one letter each; each packet must be the
  // frame followed by nothing but zero bytes.
  std::string packets() {
    std::string all, chunk(65536, '\0');
    for (ssize_t n; (n = read_some(fds[0], chunk.data(), chunk.size())) > 0;) all.append(chunk.data(), n);
    std::string letters;
    for (std::size_t at = 0; at < all.size(); at += 384) {
      std::string packet = all.substr(at, 384);
      EXPECT_EQ(packet.size(), 384u);
      std::size_t end = packet.find("\xFF\xD9");
      EXPECT_EQ(packet.compare(0, 2, "\xFF\xD8"), 0);
      EXPECT_NE(end, std::string::npos);
      EXPECT_EQ(packet.find_first_not_of('\0', end + 2), std::string::npos) << "padding is zeros";
      letters += packet[2];
    }
    return letters;
  }
};

std::string jpeg(char letter, std::size_t size = 100) {
  return "\xFF\xD8" + std::string(size - 4, letter) + "\xFF\xD9";
}

TEST(RealtimeFeed, PacketsFollowTheClockFromTheFirstFrame) {
  struct event { std::int64_t at; char frame; bool feed_takes = true; };  // frame 0: only the clock moves
  struct { const char* name; std::vector<event> events; const char* packets; } rows[] = {
      // A frame is shown from the first packet that falls due after it arrives.
      // 25 packets a second whatever the camera's rate: 5 frames a second held 8 packets each.
      {"slow camera", {{1000, 'a'}, {1190, 'b'}, {1390, 'c'}, {1599, 0}}, "aaaaabbbbbccccc"},
      // A faster camera has frames left out, never queued: the newest one at each packet.
      {"fast camera", {{1000, 'a'}, {1010, 'b'}, {1020, 'c'}, {1030, 'd'}, {1050, 'e'}, {1079, 0}}, "ad"},
      // A pause holds the last frame for its whole length, written as time passes.
      {"pause", {{1000, 'a'}, {1039, 0}, {1400, 0}, {1470, 'b'}, {1520, 0}}, "aaaaaaaaaaaabb"},
      // Nothing before the first frame: the timeline starts with it.
      {"late start", {{5000, 0}, {6000, 'a'}, {6039, 0}}, "a"},
      // An encoder that falls behind delays the packets, not the pictures on the timeline.
      {"encoder behind", {{1000, 'a', false}, {1050, 'b', false}, {1100, 'c', false}, {1200, 0}}, "aabccc"},
  };
  for (const auto& r : rows) {
    feed_fixture f;
    for (const event& e : r.events) {
      if (e.frame != 0)
        f.frame_at(e.at, jpeg(e.frame), e.feed_takes);
      else
        write_due_packets(&f.feed, f.fds[1], fake_now = e.at, &f.fed);
    }
    EXPECT_EQ(f.packets(), r.packets) << r.name;
  }
}

TEST(RealtimeFeed, AFrameBiggerThanAPacketIsDroppedWithOneWarning) {
  feed_fixture f;
  testing::internal::CaptureStderr();
  f.frame_at(1000, jpeg('x', 385));
  f.frame_at(1010, jpeg('y', 400));
  f.frame_at(1020, jpeg('a', 384));
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err,
            "Warning: a frame of 385 bytes does not fit the encoder's picture of 384 bytes; such frames are "
            "dropped: check -s\n");
  EXPECT_EQ(f.packets(), "a");
}

}  // namespace
