// The marker scanner and paced output, with a sink that collects what the encoder would get.
#include "framerelay/frame_relay.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iterator>
#include <random>
#include <string>

#include "common/monotonic_clock.h"
#include "common/program_location.h"
#include "common/wall_clock.h"

namespace {

using bytes = std::string;

// The scanner's defining table, one byte at a time, producing what the encoder receives in
// fixed mode: every completed frame whole, `repeat` times; an open frame that passes the
// size limit is dropped and the scan looks for the next start marker.
bytes reference_output(const bytes& in, int repeat, std::size_t limit = frame_size_limit) {
  bytes out, frame;
  bool in_frame = false, after_ff = false;
  auto put = [&](unsigned char a, unsigned char b) {
    frame += static_cast<char>(a);
    frame += static_cast<char>(b);
    if (frame.size() > limit) {
      frame.clear();
      in_frame = false;
    }
  };
  for (unsigned char b : in) {
    if (!in_frame && !after_ff) {
      if (b == 0xFF) after_ff = true;
    } else if (!in_frame) {
      if (b == 0xD8) {
        in_frame = true;
        put(0xFF, 0xD8);
      }
      after_ff = false;
    } else if (!after_ff) {
      if (b == 0xFF) {
        after_ff = true;
      } else {
        frame += static_cast<char>(b);
        if (frame.size() > limit) {
          frame.clear();
          in_frame = false;
        }
      }
    } else {
      after_ff = false;
      put(0xFF, b);
      if (b == 0xD9 && in_frame) {
        for (int i = 0; i < repeat; ++i) out += frame;
        frame.clear();
        in_frame = false;
      }
    }
  }
  return out;
}

// What the sink was given: the bytes as the encoder would read them, and the calls.
struct collected {
  bytes fed;
  int frames = 0;
  feed_outcome answer = feed_ok;  // what the sink answers
};

feed_outcome collect(void* context, const unsigned char* frame, std::size_t size, long long count) {
  auto* c = static_cast<collected*>(context);
  ++c->frames;
  for (long long i = 0; i < count; ++i) c->fed.append(reinterpret_cast<const char*>(frame), size);
  return c->answer;
}

class FrameRelay : public ::testing::Test {
 protected:
  void SetUp() override { reset_relay_state(); }
  void TearDown() override {
    reset_relay_state();
    monotonic_now = system_monotonic_ms;
    wall_clock_now = system_wall_clock;
  }
  // Starts a fresh run with an empty sink.
  void restart() {
    reset_relay_state();
    sink = collected{};
  }
  feed_outcome feed(const bytes& in) {
    frame_sink s{collect, &sink};
    return scan_bytes(settings, s, reinterpret_cast<const unsigned char*>(in.data()), in.size());
  }
  scan_settings settings;
  collected sink;
};

bytes frame_of(std::size_t size, char fill) { return "\xFF\xD8" + bytes(size - 4, fill) + "\xFF\xD9"; }

TEST_F(FrameRelay, MarkerEdgeCases) {
  settings.repeat = 2;
  const bytes F = "\xFF\xD8" "abc" "\xFF\xD9";
  struct { bytes in, out; const char* what; } rows[] = {
      {"junk" + F + "between" + F + "tail", F + F + F + F, "bytes outside frames are dropped"},
      {"\xFF\xD8" "a\xFF\xFF\xD9" "b\xFF\xD9", "", "0xFF 0xFF 0xD9 does not end a frame"},
      {"\xFF\xD8" "a\xFF\xFF\xFF\xD9", "", "0xFF 0xFF 0xFF 0xD9 ends it"},
      {"\xFF\xFF\xD8" "a\xFF\xD9", "", "0xFF 0xFF 0xD8 does not start a frame"},
      {"\xFF\xFF\xFF\xD8" "a\xFF\xD9", "", "0xFF 0xFF 0xFF 0xD8 starts one"},
      {"\xFF\xD8" "a\xFF\xD8" "b\xFF\xD9", "", "a start marker inside a frame is copied"},
      {"\xFF\xD8" "open frame", "", "an unfinished frame is never written"},
  };
  for (const auto& r : rows) {
    restart();
    feed(r.in);
    bytes want = r.out.empty() ? reference_output(r.in, 2) : r.out;
    EXPECT_EQ(sink.fed, want) << r.what;
  }
  // Spot checks of the reference itself on the cases above.
  EXPECT_EQ(reference_output("\xFF\xD8" "a\xFF\xFF\xD9" "b\xFF\xD9", 1), bytes("\xFF\xD8" "a\xFF\xFF\xD9" "b\xFF\xD9"));
  EXPECT_EQ(reference_output("\xFF\xFF\xD8" "a\xFF\xD9", 1), "");
  EXPECT_EQ(reference_output("\xFF\xFF\xFF\xD8" "a\xFF\xD9", 1), bytes("\xFF\xD8" "a\xFF\xD9"));
  EXPECT_EQ(reference_output("\xFF\xD8" "open", 1), "");
  EXPECT_EQ(reference_output(frame_of(10, 'x') + frame_of(20, 'y'), 1, 12), frame_of(10, 'x'));
}

TEST_F(FrameRelay, RandomStreamsInRandomSplitsMatchTheTable) {
  std::mt19937 rng(12345);
  for (int round = 0; round < 40; ++round) {
    restart();
    settings.repeat = 1 + round % 3;
    // Bytes biased towards the marker values, sometimes with long frames.
    bytes in;
    std::size_t len = round % 10 == 0 ? 300000 : 5000;
    const unsigned char pick[] = {0xFF, 0xD8, 0xD9, 0x00, 'x'};
    for (std::size_t i = 0; i < len; ++i) {
      unsigned r = rng() % 100;
      in += static_cast<char>(r < 60 && round % 10 != 0 ? pick[r % 5] : (r < 3 ? pick[r] : rng() % 256));
    }
    for (std::size_t pos = 0; pos < in.size();) {
      std::size_t n = std::min<std::size_t>(1 + rng() % 5000, in.size() - pos);
      feed(in.substr(pos, n));
      pos += n;
    }
    ASSERT_EQ(sink.fed, reference_output(in, settings.repeat)) << "round " << round;
  }
}

// Frames of every size go out whole, `repeat` times, however the reads cut them; a frame of
// up to 65536 bytes as one piece, as always.
TEST_F(FrameRelay, LongFramesGoOutWhole) {
  settings.repeat = 3;
  std::mt19937 rng(5);
  for (std::size_t size : {4ul, 65535ul, 65536ul, 65537ul, 200000ul, 3000000ul}) {
    restart();
    bytes one = frame_of(size, 'b');
    // Markers split over reads at both ends, the middle in blocks of the fetch size.
    feed("junk\xFF");
    feed(one.substr(1, 1));
    for (std::size_t pos = 2; pos < size - 1; pos += read_block_size)
      feed(one.substr(pos, std::min(read_block_size, size - 1 - pos)));
    feed(one.substr(size - 1));
    EXPECT_EQ(sink.frames, 1) << size;
    EXPECT_EQ(sink.fed.size(), 3 * size) << size;
    EXPECT_TRUE(sink.fed == one + one + one) << size;
    EXPECT_LE(relay.frame_room, frame_size_limit);
  }
}

TEST_F(FrameRelay, OverlongOpenFrameIsDroppedAndTheNextIsFed) {
  settings.repeat = 2;
  const bytes next = frame_of(100, 'n');
  struct { std::size_t open_size; bool dropped; } rows[] = {
      {frame_size_limit, false},     // exactly at the limit: kept
      {frame_size_limit + 1, true},  // one byte more: dropped
      {17u << 20, true},
  };
  for (const auto& r : rows) {
    restart();
    bytes big = frame_of(r.open_size, 'o');
    big.erase(big.size() - 2);  // no end marker yet
    ::testing::internal::CaptureStderr();
    for (std::size_t pos = 0; pos < big.size(); pos += read_block_size) feed(big.substr(pos, read_block_size));
    feed("\xFF\xD9" + next);
    std::string err = ::testing::internal::GetCapturedStderr();
    if (r.dropped) {
      EXPECT_EQ(err, "Warning: frame over 16777216 bytes without EOI dropped\n") << r.open_size;
      EXPECT_TRUE(sink.fed == next + next) << r.open_size;
    } else {
      EXPECT_EQ(err, "") << r.open_size;
      EXPECT_EQ(sink.fed.size(), 2 * (r.open_size + next.size())) << r.open_size;
    }
    EXPECT_LE(relay.frame_room, frame_size_limit) << "memory stays bounded";
  }
}

TEST_F(FrameRelay, TheSinkCanEndTheRunAtAFrame) {
  settings.repeat = 1;
  const bytes F = frame_of(10, 'a'), G = frame_of(10, 'b');
  for (feed_outcome answer : {feed_stopped, feed_encoder_gone}) {
    restart();
    sink.answer = answer;
    EXPECT_EQ(feed(F + G), answer);
    EXPECT_EQ(sink.frames, 1) << "nothing after the refused frame is fed";
    EXPECT_EQ(sink.fed, F);
  }
}

TEST(FrameRepeatCount, AdaptiveTable) {
  struct { long long elapsed; long long count; } rows[] = {
      {0, 0}, {2, 0}, {3, 1}, {5, 3}, {100, 60}, {199, 118}, {200, 120}, {100000, 120}, {-50, -30},
      {60LL * 60 * 1000 * 24 * 30, 120}};
  for (const auto& r : rows) EXPECT_EQ(frame_repeat_count(40, true, r.elapsed), r.count) << r.elapsed;
  EXPECT_EQ(frame_repeat_count(40, false, 12345), 40);
  EXPECT_EQ(frame_repeat_count(2147483647, true, 1000000), 3LL * 2147483647);
}

TEST_F(FrameRelay, MarkerTrace) {
  settings.trace_markers = true;
  settings.repeat = 1;
  ::testing::internal::CaptureStderr();
  feed("\xFF\xD8" "a\xFF\xD9" "\xFF\xD8" "b\xFF\xD9");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "[# 0 SOI]\n[EOI]\n[# 1 SOI]\n[EOI]\n");
}

#ifndef _WIN32
std::int64_t fake_times[8];
int fake_index = 0;
std::int64_t fake_clock() { return fake_times[fake_index++]; }
wall_time wall_clock_stepped_back() { return wall_time{1000, 0}; }

TEST_F(FrameRelay, AdaptivePacingFollowsTheClockAndLogs) {
  char dir[] = "/tmp/pacing-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::snprintf(program_dir, sizeof program_dir, "%s", dir);
  std::string log = std::string(dir) + "/framerelay.log";
  { FILE* old = fopen(log.c_str(), "w"); fputs("stale line\n", old); fclose(old); }
  setenv("DEBUG_XX", "1", 1);
  settings.repeat = 40;
  settings.adaptive = true;
  // First frame; +100 ms; +5 ms; +0 ms; +250 ms, on the monotonic clock. The time of day has
  // nothing to say about the counts, even when it was set back.
  const std::int64_t steps[] = {5000000, 5000100, 5000105, 5000105, 5000355};
  std::copy(std::begin(steps), std::end(steps), fake_times);
  fake_index = 0;
  monotonic_now = fake_clock;
  wall_clock_now = wall_clock_stepped_back;
  const bytes F = "\xFF\xD8" "z\xFF\xD9";
  for (int i = 0; i < 5; ++i) feed(F);
  EXPECT_EQ(sink.fed.size(), F.size() * (0 + 60 + 3 + 0 + 120));
  EXPECT_EQ(sink.frames, 3) << "a count of 0 gives the sink nothing to do";
  reset_relay_state();  // closes the log
  std::string text;
  { FILE* f = fopen(log.c_str(), "r"); char line[200]; while (fgets(line, sizeof line, f)) text += line; fclose(f); }
  EXPECT_EQ(text.find("stale"), std::string::npos) << "the log starts empty";
  EXPECT_NE(text.find("   0:  "), std::string::npos);
  EXPECT_NE(text.find("     0(ms) =>    0\n"), std::string::npos) << text;
  EXPECT_NE(text.find("  100(ms) =>   60\n"), std::string::npos);
  EXPECT_NE(text.find("    5(ms) =>    3\n"), std::string::npos);
  EXPECT_NE(text.find("  250(ms) =>  120\n"), std::string::npos);
  EXPECT_NE(text.find("   4:  "), std::string::npos);
  // The log's time stamps are the calendar time of now.
  long stamp = std::strtol(text.c_str() + 7, nullptr, 10);
  EXPECT_LT(std::labs(stamp - static_cast<long>(std::time(nullptr))), 60L) << text;
  unsetenv("DEBUG_XX");
  std::string cmd = std::string("rm -rf ") + dir;
  ASSERT_EQ(std::system(cmd.c_str()), 0);
}
#endif

}  // namespace
