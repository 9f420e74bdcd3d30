// The real-time feed on a driven clock: which frame each packet of the encoder's timeline
// holds, and what is said of pictures of an unexpected size.
#include "framerelay/realtime_feed.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "platform/pipe.h"

namespace {

std::int64_t fake_now = 0;
std::int64_t fake_clock() { return fake_now; }

struct feed_fixture {
  realtime_feed feed;
  unsigned long long fed = 0;  // bytes the feed wrote
  int fds[2] = {-1, -1};
  explicit feed_fixture(picture_size expected = {}) {
    fake_now = 1000;
    begin_realtime_feed(&feed, expected, fake_clock);
    make_pipe(fds, 1 << 20);  // room for a big frame's packet
    set_nonblocking(fds[0]);
    set_nonblocking(fds[1]);
  }
  ~feed_fixture() {
    end_realtime_feed(&feed);
    close_fd(&fds[0]);
    close_fd(&fds[1]);
  }
  void frame_at(std::int64_t t, const std::string& jpeg, bool feed_takes = true) {
    fake_now = t;
    if (feed_takes) write_due_packets(&feed, fds[1], t, &fed);
    take_realtime_frame(&feed, reinterpret_cast<const unsigned char*>(jpeg.data()), jpeg.size(), 1);
    if (feed_takes) write_due_packets(&feed, fds[1], t, &fed);
  }
  // The frames the packets written so far hold, one letter each (the byte after their frame
  // header); each packet must be a whole frame, as it came.
  std::string packets() {
    std::string all, chunk(65536, '\0');
    for (ssize_t n; (n = read_some(fds[0], chunk.data(), chunk.size())) > 0;) all.append(chunk.data(), n);
    std::string letters;
    for (std::size_t at = 0, end; at < all.size(); at = end + 2) {
      end = all.find("\xFF\xD9", at);
      EXPECT_EQ(all.compare(at, 2, "\xFF\xD8"), 0);
      if (end == std::string::npos) break;
      letters += all[at + 15];
    }
    return letters;
  }
};

// A frame of `size` bytes whose frame header gives the picture as w x h.
std::string jpeg(char letter, std::size_t size = 100, int w = 16, int h = 16) {
  const char header[] = {'\xFF', '\xC0', 0, 11, 8, char(h >> 8), char(h), char(w >> 8), char(w), 1, 1, 0x11, 0};
  return "\xFF\xD8" + std::string(header, sizeof header) + std::string(size - 17, letter) + "\xFF\xD9";
}

TEST(RealtimeFeed, PacketsFollowTheClockFromTheFirstFrame) {
  struct event {
    std::int64_t at;
    char frame;
    bool feed_takes = true;
  };  // frame 0: only the clock moves
  struct {
    const char* name;
    std::vector<event> events;
    const char* packets;
  } rows[] = {
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

// Frames of any size are fed whole; a picture size other than the expected one (-s), or a
// change of size, is reported once, naming both sizes.
TEST(RealtimeFeed, AnySizeIsFedAndAnUnexpectedPictureIsReportedOnce) {
  struct {
    const char* name;
    picture_size expected;
    int second_w, second_h;
    std::string err;
  } rows[] = {
      {"as expected", {16, 16}, 16, 16, ""},
      {"no -s", {}, 16, 16, ""},
      {"changed",
       {},
       32,
       24,
       "Warning: the camera's picture changed from 16x16 to 32x24; its frames are recorded as they come\n"},
      {"not as -s, then changed",
       {32, 24},
       32,
       24,
       "Warning: the camera's picture is 16x16, not the 32x24 of -s; it is recorded at its own size\n"
       "Warning: the camera's picture changed from 16x16 to 32x24; its frames are recorded as they come\n"},
  };
  for (const auto& r : rows) {
    feed_fixture f(r.expected);
    testing::internal::CaptureStderr();
    f.frame_at(1000, jpeg('a', 300000));
    f.frame_at(1030, jpeg('b', 100, r.second_w, r.second_h));
    f.frame_at(1070, jpeg('c', 100, r.second_w, r.second_h));
    f.frame_at(1110, jpeg('d', 100, r.second_w, r.second_h));
    f.frame_at(1150, jpeg('e'));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), r.err) << r.name;
    EXPECT_EQ(f.packets(), "abcd") << r.name;
  }
}

// While the encoder keeps up, the frames pass through one slot of the queue: the others hold no
// memory, however many frames come.
TEST(RealtimeFeed, FramesKeepNoMoreThanTwoBuffers) {
  feed_fixture f;
  for (int i = 0; i < 200; ++i) {
    f.frame_at(1000 + 40 * i + 10, jpeg(static_cast<char>('a' + i % 26), 1000));
    if (i % 50 == 0) f.packets();  // the encoder reads
  }
  int holding = 0;
  for (const held_frame& slot : f.feed.queue) holding += slot.room > 0 ? 1 : 0;
  EXPECT_LE(holding, 1);
}

}  // namespace
