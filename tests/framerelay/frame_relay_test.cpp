// The marker scanner and paced output, fed into a memory file standing in for the encoder.
#include "framerelay/frame_relay.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "common/program_location.h"
#include "framerelay/pipeline.h"
#include "framerelay/relay_settings.h"

namespace {

using bytes = std::string;

// The scanner's defining table, one byte at a time, with the same 65536-byte buffer rule,
// producing what the encoder receives in fixed mode.
bytes reference_output(const bytes& in, int repeat) {
  bytes out, frame;
  bool in_frame = false, after_ff = false;
  auto put = [&](unsigned char b) {
    if (frame.size() >= frame_buffer_size) {
      out += frame;
      frame.clear();
    }
    frame += static_cast<char>(b);
  };
  for (unsigned char b : in) {
    if (!in_frame && !after_ff) {
      if (b == 0xFF) after_ff = true;
    } else if (!in_frame) {
      if (b == 0xD8) {
        put(0xFF);
        put(0xD8);
        in_frame = true;
      }
      after_ff = false;
    } else if (!after_ff) {
      if (b == 0xFF) after_ff = true; else put(b);
    } else {
      put(0xFF);
      put(b);
      after_ff = false;
      if (b == 0xD9) {
        for (int i = 0; i < repeat; ++i) out += frame;
        frame.clear();
        in_frame = false;
      }
    }
  }
  return out;
}

class FrameRelay : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_relay_settings();
    reset_relay_state();
    pipeline.feed_fd = memfd_create("feed", MFD_CLOEXEC);
    unsetenv("DEBUG_XX");
  }
  void TearDown() override {
    close(pipeline.feed_fd);
    pipeline.feed_fd = -1;
    reset_relay_state();
    wall_clock_now = system_wall_clock;
  }
  bytes fed() {
    off_t size = lseek(pipeline.feed_fd, 0, SEEK_END);
    bytes out(static_cast<std::size_t>(size), '\0');
    EXPECT_EQ(pread(pipeline.feed_fd, out.data(), out.size(), 0), size);
    return out;
  }
  void feed(const bytes& in) { scan_bytes(reinterpret_cast<const unsigned char*>(in.data()), in.size()); }
};

TEST_F(FrameRelay, MarkerEdgeCases) {
  relay_settings.repeat = 2;
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
    reset_relay_state();
    ftruncate(pipeline.feed_fd, 0);
    lseek(pipeline.feed_fd, 0, SEEK_SET);
    feed(r.in);
    bytes want = r.out.empty() ? reference_output(r.in, 2) : r.out;
    EXPECT_EQ(fed(), want) << r.what;
  }
  // Spot checks of the reference itself on the cases above.
  EXPECT_EQ(reference_output("\xFF\xD8" "a\xFF\xFF\xD9" "b\xFF\xD9", 1), bytes("\xFF\xD8" "a\xFF\xFF\xD9" "b\xFF\xD9"));
  EXPECT_EQ(reference_output("\xFF\xFF\xD8" "a\xFF\xD9", 1), "");
  EXPECT_EQ(reference_output("\xFF\xFF\xFF\xD8" "a\xFF\xD9", 1), bytes("\xFF\xD8" "a\xFF\xD9"));
  EXPECT_EQ(reference_output("\xFF\xD8" "open", 1), "");
}

TEST_F(FrameRelay, RandomStreamsInRandomSplitsMatchTheTable) {
  std::mt19937 rng(12345);
  for (int round = 0; round < 40; ++round) {
    reset_relay_state();
    ftruncate(pipeline.feed_fd, 0);
    lseek(pipeline.feed_fd, 0, SEEK_SET);
    relay_settings.repeat = 1 + round % 3;
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
    ASSERT_EQ(fed(), reference_output(in, relay_settings.repeat)) << "round " << round;
  }
}

TEST_F(FrameRelay, LongFramesGoOutInPieces) {
  relay_settings.repeat = 3;
  bytes body(65537 - 4, 'b');
  bytes frame = "\xFF\xD8" + body + "\xFF\xD9";
  ASSERT_EQ(frame.size(), 65537u);
  // A marker split over two reads, byte by byte at the ends.
  feed(frame.substr(0, 1));
  feed(frame.substr(1, frame.size() - 2));
  feed(frame.substr(frame.size() - 1));
  bytes want = frame.substr(0, 65536) + bytes(3, frame.back());
  EXPECT_EQ(fed(), want);
  reset_relay_state();
  ftruncate(pipeline.feed_fd, 0);
  lseek(pipeline.feed_fd, 0, SEEK_SET);
  bytes exact = "\xFF\xD8" + bytes(65532, 'c') + "\xFF\xD9";
  feed(exact);
  EXPECT_EQ(fed(), exact + exact + exact) << "a frame of 65536 bytes is one piece";
}

TEST(FrameRepeatCount, AdaptiveTable) {
  struct { long long elapsed; long long count; } rows[] = {
      {0, 0}, {2, 0}, {3, 1}, {5, 3}, {100, 60}, {199, 118}, {200, 120}, {100000, 120}, {-50, -30},
      {60LL * 60 * 1000 * 24 * 30, 120}};
  for (const auto& r : rows) EXPECT_EQ(frame_repeat_count(40, true, r.elapsed), r.count) << r.elapsed;
  EXPECT_EQ(frame_repeat_count(40, false, 12345), 40);
  EXPECT_EQ(frame_repeat_count(2147483647, true, 1000000), 3LL * 2147483647);
}

wall_time fake_times[8];
int fake_index = 0;
wall_time fake_clock() { return fake_times[fake_index++]; }

TEST_F(FrameRelay, AdaptivePacingFollowsTheClockAndLogs) {
  char dir[] = "/tmp/pacing-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::snprintf(program_dir, sizeof program_dir, "%s", dir);
  std::string log = std::string(dir) + "/framerelay.log";
  { FILE* old = fopen(log.c_str(), "w"); fputs("stale line\n", old); fclose(old); }
  setenv("DEBUG_XX", "1", 1);
  relay_settings.repeat = 40;
  relay_settings.adaptive = true;
  // First frame; +100 ms; +5 ms; clock steps back 1 s; +250 ms.
  fake_times[0] = {1000, 0};
  fake_times[1] = {1000, 100000};
  fake_times[2] = {1000, 105000};
  fake_times[3] = {999, 105000};
  fake_times[4] = {999, 355000};
  fake_index = 0;
  wall_clock_now = fake_clock;
  const bytes F = "\xFF\xD8" "z\xFF\xD9";
  for (int i = 0; i < 5; ++i) feed(F);
  EXPECT_EQ(fed().size(), F.size() * (0 + 60 + 3 + 0 + 120));
  reset_relay_state();  // closes the log
  std::string text;
  { FILE* f = fopen(log.c_str(), "r"); char line[200]; while (fgets(line, sizeof line, f)) text += line; fclose(f); }
  EXPECT_EQ(text.find("stale"), std::string::npos) << "the log starts empty";
  EXPECT_NE(text.find("   0:  "), std::string::npos);
  EXPECT_NE(text.find("  100(ms) =>   60\n"), std::string::npos);
  EXPECT_NE(text.find("    5(ms) =>    3\n"), std::string::npos);
  EXPECT_NE(text.find(" -1000(ms) => -600\n"), std::string::npos);
  EXPECT_NE(text.find("   4:  "), std::string::npos);
  unsetenv("DEBUG_XX");
  std::string cmd = std::string("rm -rf ") + dir;
  ASSERT_EQ(std::system(cmd.c_str()), 0);
}

TEST_F(FrameRelay, MarkerTrace) {
  relay_settings.debug = 0x02;
  relay_settings.repeat = 1;
  ::testing::internal::CaptureStderr();
  feed("\xFF\xD8" "a\xFF\xD9" "\xFF\xD8" "b\xFF\xD9");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "[# 0 SOI]\n[EOI]\n[# 1 SOI]\n[EOI]\n");
}

}  // namespace
