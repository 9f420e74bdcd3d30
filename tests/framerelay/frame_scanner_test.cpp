// The marker scanner and paced output, as the frames flow in a run (scanner -> pacing ->
// feeder), with a feeder that collects what the encoder would get.
#include "framerelay/frame_scanner.h"
#include "framerelay/pacing.h"

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
#include "framerelay/relay_loop.h"
#include "tests/framerelay/scanner_reference.h"

namespace {

using bytes = std::string;
using namespace std::string_literals;

// What the feeder was given: the bytes as the encoder would read them, and the calls.
struct collected {
  bytes fed;
  int frames = 0;
  feed_outcome answer = feed_ok;  // what the feeder answers
};

// The settings of a test run: the pacing's and the marker trace.
struct run_settings_of_test {
  int repeat = 40;
  bool adaptive = false;
  bool trace_markers = false;
};

std::int64_t (*test_clock)() = system_monotonic_ms;
std::int64_t read_test_clock() { return test_clock(); }

feed_outcome collect(void* context, const unsigned char* frame, std::size_t size, long long count) {
  auto* c = static_cast<collected*>(context);
  ++c->frames;
  for (long long i = 0; i < count; ++i) c->fed.append(reinterpret_cast<const char*>(frame), size);
  return c->answer;
}

class FrameRelay : public ::testing::Test {
 protected:
  void TearDown() override {
    end_run();
    test_clock = system_monotonic_ms;
  }
  // Gives back what the run holds: the frame buffer, the pacing log.
  void end_run() {
    end_scanner(&scanner);
    end_pacing(&pacing);
    begun = false;
  }
  // Starts a fresh run with an empty sink.
  void restart() {
    end_run();
    sink = collected{};
  }
  // The run begins with its first bytes: the pacing, and its log, with the settings then.
  feed_outcome feed(const bytes& in) {
    if (!begun)
      begin_pacing(&pacing, pacing_settings{settings.repeat, settings.adaptive}, frame_feeder{collect, &sink},
                   read_test_clock, program_dir);
    begun = true;
    return scan_bytes(&scanner, settings.trace_markers, pacing_sink(&pacing),
                      reinterpret_cast<const unsigned char*>(in.data()), in.size());
  }
  scanner_state scanner;
  pacing_state pacing;
  bool begun = false;
  run_settings_of_test settings;
  collected sink;
};

bytes frame_of(std::size_t size, char fill) { return "\xFF\xD8" + bytes(size - 4, fill) + "\xFF\xD9"; }

bytes segment(unsigned char marker, const bytes& body) {
  std::size_t length = body.size() + 2;
  return bytes{'\xFF', static_cast<char>(marker), static_cast<char>(length >> 8), static_cast<char>(length)} + body;
}

// A stand-in JPEG: the segments in `head`, tables, a scan header, the scan's data, the end.
bytes jpeg(const bytes& head, const bytes& data) {
  return "\xFF\xD8" + head + segment(0xDB, bytes(64, 't')) + segment(0xDA, bytes(10, 's')) + data + "\xFF\xD9";
}

// Each stream whole, cut in two at every offset, and one byte per read.
TEST_F(FrameRelay, FramesEndWhereTheImageEnds) {
  settings.repeat = 2;
  const bytes F = "\xFF\xD8"
                  "abc"
                  "\xFF\xD9",
              G = "\xFF\xD8"
                  "a\xFF\xFF\xD9",
              H = "\xFF\xD8"
                  "a\xFF\xD9";
  const bytes exif = jpeg(segment(0xE1, "Exif\0\0"s + jpeg("", "small")), "data");
  const bytes comment = jpeg(segment(0xFE, bytes(300, 'c') + "\xFF\xD9 in a comment"), "data");
  const bytes data = jpeg("",
                          "d\xFF\x00\xD9"
                          "d\xFF\xD3"
                          "d"s);
  const bytes progressive = jpeg("", "scan 1" + segment(0xC4, "\xFF\xD9") + segment(0xDA, "h") + "scan 2");
  const bytes fill = jpeg("\xFF\xFF", "data\xFF\xFF");
  const bytes no_length = jpeg("\xFF\xE0\x00\x01"s, "data");
  const bytes inner_start =
      "\xFF\xD8"
      "a\xFF\xD8"
      "b\xFF\xD9";
  struct {
    bytes in, out;
    const char* what;
  } rows[] = {
      {"junk" + F + "between" + F + "tail", F + F + F + F, "bytes outside frames are dropped"},
      {exif + "\r\n" + F, exif + exif + F + F, "an EXIF thumbnail's end marker does not end the frame"},
      {comment, comment + comment, "nor does one in a comment"},
      {data, data + data, "stuffed 0xFF and restart markers in the data do not end it"},
      {progressive, progressive + progressive, "a table between two scans is taken whole"},
      {fill, fill + fill, "0xFF fill before a marker is fill"},
      {G + "b\xFF\xD9", G + G, "0xFF 0xFF 0xD9 ends a frame"},
      {"\xFF" + H, H + H, "fill before a start marker"},
      {inner_start, inner_start + inner_start, "a start marker inside a frame is copied"},
      {no_length, no_length + no_length, "a length below 2 covers nothing"},
      {"\xFF\xD8"
       "open frame",
       "", "an unfinished frame is never written"},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(reference_output(r.in, 2), r.out) << "the reference: " << r.what;
    for (std::size_t cut = 0; cut <= r.in.size(); ++cut) {
      restart();
      feed(r.in.substr(0, cut));
      feed(r.in.substr(cut));
      ASSERT_EQ(sink.fed, r.out) << r.what << ", cut at " << cut;
    }
    restart();
    for (char c : r.in) feed(bytes(1, c));
    EXPECT_EQ(sink.fed, r.out) << r.what << ", byte by byte";
  }
  EXPECT_EQ(reference_output(frame_of(10, 'x') + frame_of(20, 'y'), 1, 12), frame_of(10, 'x'));
  // Every marker but the standalone ones carries a length that covers what follows.
  for (int code = 0; code < 0xFF; ++code) {
    restart();
    const bytes in = "\xFF\xD8\xFF"s + static_cast<char>(code) +
                     "\x00\x04\xFF\xD9"
                     "end\xFF\xD9"s;
    const bool standalone = code <= 0x01 || (code >= 0xD0 && code <= 0xD8);
    const bytes frame = in.substr(0, code == 0xD9 ? 4 : standalone ? 8 : in.size());
    feed(in);
    EXPECT_EQ(sink.fed, frame + frame) << code;
  }
}

TEST_F(FrameRelay, RandomStreamsInRandomSplitsMatchTheTable) {
  std::mt19937 rng(12345);
  for (int round = 0; round < 40; ++round) {
    restart();
    settings.repeat = 1 + round % 3;
    // Bytes biased towards marker values and short lengths, sometimes with long frames.
    bytes in;
    std::size_t len = round % 10 == 0 ? 300000 : 5000;
    const unsigned char pick[] = {0xFF, 0xD8, 0xD9, 0x00, 0xE1, 0x01, 0x10};
    for (std::size_t i = 0; i < len; ++i) {
      unsigned r = rng() % 100;
      in += static_cast<char>(r < 60 && round % 10 != 0 ? pick[r % 7] : (r < 3 ? pick[r] : rng() % 256));
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
    EXPECT_LE(scanner.frame_room, frame_size_limit);
  }
}

TEST_F(FrameRelay, OverlongOpenFrameIsDroppedAndTheNextIsFed) {
  settings.repeat = 2;
  const bytes next = frame_of(100, 'n'), end = "\xFF\xD9" + next;
  // A segment of 256 bytes (254 after its length) that would cover a whole frame.
  const bytes covering = "\xFF\xE1\x01\x00"s + next + bytes(154, 'p') + end;
  const std::size_t limit = frame_size_limit;
  struct {
    std::size_t open_size;
    bytes tail;
    std::size_t fed;
  } rows[] = {
      {limit, end, 2 * limit + 200},  // exactly at the limit: kept
      {limit + 1, end, 200},          // one byte more: dropped
      {17u << 20, end, 200},
      {limit - 258, covering, 2 * limit + 200},  // the segment and the end marker fit
      {limit - 256, covering, 200},              // the segment fits, the end marker passes
      {limit - 255, covering, 400},              // the length passes: what it covers is scanned
      {limit - 10, bytes(20, 'x') + end, 200},   // passed inside a read, before its end marker
  };
  for (const auto& r : rows) {
    restart();
    bytes big = frame_of(r.open_size, 'o');
    big.erase(big.size() - 2);  // no end marker yet
    ::testing::internal::CaptureStderr();
    for (std::size_t pos = 0; pos < big.size(); pos += read_block_size) feed(big.substr(pos, read_block_size));
    feed(r.tail);
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(sink.fed.size(), r.fed) << r.open_size;
    if (r.fed <= 400) {
      EXPECT_EQ(err, "Warning: frame over 16777216 bytes without EOI dropped\n") << r.open_size;
      EXPECT_TRUE(sink.fed == next + next || sink.fed == next + next + next + next) << r.open_size;
    } else {
      EXPECT_EQ(err, "") << r.open_size;
    }
    EXPECT_LE(scanner.frame_room, frame_size_limit) << "memory stays bounded";
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
  struct {
    long long elapsed;
    long long count;
  } rows[] = {{0, 0},     {2, 0},     {3, 1},        {5, 3},     {100, 60},
              {199, 118}, {200, 120}, {100000, 120}, {-50, -30}, {60LL * 60 * 1000 * 24 * 30, 120}};
  for (const auto& r : rows) EXPECT_EQ(frame_repeat_count(40, true, r.elapsed), r.count) << r.elapsed;
  EXPECT_EQ(frame_repeat_count(40, false, 12345), 40);
  EXPECT_EQ(frame_repeat_count(2147483647, true, 1000000), 3LL * 2147483647);
}

TEST_F(FrameRelay, MarkerTrace) {
  settings.trace_markers = true;
  settings.repeat = 1;
  ::testing::internal::CaptureStderr();
  feed(
      "\xFF\xD8"
      "a\xFF\xD9"
      "\xFF\xD8"
      "b\xFF\xD9");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "[# 0 SOI]\n[EOI]\n[# 1 SOI]\n[EOI]\n");
}

#ifndef _WIN32
std::int64_t fake_times[8];
int fake_index = 0;
std::int64_t fake_clock() { return fake_times[fake_index++]; }

TEST_F(FrameRelay, AdaptivePacingFollowsTheClockAndLogs) {
  char dir[] = "/tmp/pacing-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::snprintf(program_dir, sizeof program_dir, "%s", dir);
  std::string log = std::string(dir) + "/framerelay.log";
  {
    FILE* old = fopen(log.c_str(), "w");
    fputs("stale line\n", old);
    fclose(old);
  }
  setenv("DEBUG_XX", "1", 1);
  settings.repeat = 40;
  settings.adaptive = true;
  // First frame; +100 ms; +5 ms; +0 ms; +250 ms, on the monotonic clock: the counts follow
  // its steps alone.
  const std::int64_t steps[] = {5000000, 5000100, 5000105, 5000105, 5000355};
  std::copy(std::begin(steps), std::end(steps), fake_times);
  fake_index = 0;
  test_clock = fake_clock;
  const bytes F =
      "\xFF\xD8"
      "z\xFF\xD9";
  for (int i = 0; i < 5; ++i) feed(F);
  EXPECT_EQ(sink.fed.size(), F.size() * (0 + 60 + 3 + 0 + 120));
  EXPECT_EQ(sink.frames, 3) << "a count of 0 gives the feeder nothing to do";
  end_pacing(&pacing);  // closes the log
  std::string text;
  {
    FILE* f = fopen(log.c_str(), "r");
    char line[200];
    while (fgets(line, sizeof line, f)) text += line;
    fclose(f);
  }
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
