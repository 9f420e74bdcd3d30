// The cycle's time decisions driven in process: a fake monotonic clock and a fake watched file
// whose modification times follow a time of day that steps an hour forward and back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tests/helpers/test_platform.h"
#include "watchdog/hang_tests.h"
#include "watchdog/restart_pause.h"
#include "watchdog/run_settings.h"
#include "watchdog/supervise.h"

namespace {

std::int64_t fake_now = 0;  // monotonic milliseconds
long long fake_mtime = 0;   // the watched file's modification time (time of day, seconds)
bool fake_file_present = true;
int fake_looks = 0;

std::int64_t fake_clock() { return fake_now; }
int fake_file(const char*, file_time* when) {
  ++fake_looks;
  if (!fake_file_present) return -2;  // ENOENT
  *when = file_time{fake_mtime, 0};
  return 0;
}

class Cycle : public ::testing::Test {
 protected:
  void SetUp() override {
    settings = run_settings_record{};
    fake_now = 1000000;
    fake_mtime = 1700000000;
    fake_file_present = true;
    fake_looks = 0;
    system.get()->clock = fake_clock;
    init_supervision(&state, &settings, &outputs, system.get());  // not opened: lines go to stderr
    state.file_time = fake_file;
  }
  void watch(int sec, const char* file) {
    settings.monitor_sec = sec;
    settings.monitor_mode = stream_scope::output_only;
    std::snprintf(settings.watch_file, sizeof settings.watch_file, "%s", file);
  }
  // Moves both clocks on; the time of day may step by `wall_step` seconds on the way.
  run_end_reason pass_at(std::int64_t ms) {
    fake_now = ms;
    state.run.now = fake_now;
    return hang_tests(&state);
  }
  run_settings_record settings;
  supervision_state state;
  our_outputs outputs;
  test_platform system;
};

TEST_F(Cycle, SilenceIsTimedOnTheMonotonicClock) {
  settings.monitor_sec = 2;
  settings.monitor_mode = stream_scope::output_only;
  begin_run_times(&state);
  std::int64_t start = fake_now;
  // Counted in whole seconds: more than 2 means 3.
  EXPECT_EQ(pass_at(start + 2999), end_none) << "2.999 s of silence is not more than 2 seconds";
  EXPECT_EQ(pass_at(start + 3000), end_silence);
  state.run.last_out = start + 3000;
  EXPECT_EQ(pass_at(start + 5000), end_none);
  // -M: both streams must be silent.
  settings.monitor_mode = stream_scope::output_and_error;
  state.run.last_err = start + 4000;
  EXPECT_EQ(pass_at(start + 6500), end_none);
  EXPECT_EQ(pass_at(start + 7000), end_silence);
}

TEST_F(Cycle, TimeoutCountsFromTheFirstStart) {
  settings.timeout_sec = 600;
  begin_run_times(&state);
  std::int64_t start = fake_now;
  state.run.now = start + 599999;
  EXPECT_FALSE(timeout_due(&state));
  state.run.now = start + 600000;
  EXPECT_TRUE(timeout_due(&state));
  // A later run does not move the start.
  fake_now = start + 700000;
  begin_run_times(&state);
  EXPECT_TRUE(timeout_due(&state));
}

TEST_F(Cycle, HeartbeatThroughClockStepsIsNoHang) {
  watch(3, "beat");
  begin_run_times(&state);
  std::int64_t start = fake_now;
  // The heartbeat is touched every second; the time of day steps an hour forward at 5 s and
  // two hours back at 10 s, so the times written into the file jump both ways.
  long long wall = fake_mtime;
  for (int second = 1; second <= 20; ++second) {
    wall += 1;
    if (second == 5) wall += 3600;
    if (second == 10) wall -= 7200;
    fake_mtime = wall;
    EXPECT_EQ(pass_at(start + second * 1000LL), end_none) << "second " << second;
    EXPECT_EQ(pass_at(start + second * 1000LL + 500), end_none) << "second " << second << ".5";
  }
  // Then the heartbeat stops, just after a step: the hang is seen more than 3 s after the
  // last change, counted in whole seconds.
  int stopped = 20;
  run_end_reason seen = end_none;
  int when = 0;
  for (int tenth = 1; tenth <= 60 && seen == end_none; ++tenth) {
    when = stopped * 1000 + tenth * 100;
    seen = pass_at(start + when);
  }
  EXPECT_EQ(seen, end_stale_file);
  EXPECT_GE(when, (stopped + 4) * 1000);
  EXPECT_LE(when, (stopped + 5) * 1000);
}

TEST_F(Cycle, StaleFileFromBeforeTheStartAndAMissingFile) {
  // A file last written long ago (or "in the future" after a step back) is judged by
  // whether it changes, not by its distance from the time of day.
  for (long long mtime : {1700000000LL - 86400, 1700000000LL + 86400}) {
    SetUp();
    watch(2, "beat");
    fake_mtime = mtime;
    begin_run_times(&state);
    std::int64_t start = fake_now;
    EXPECT_EQ(pass_at(start + 1000), end_none);
    EXPECT_EQ(pass_at(start + 2900), end_none) << "first examined only after the limit";
    EXPECT_EQ(pass_at(start + 3000), end_stale_file);
  }
  SetUp();
  watch(2, "beat");
  fake_file_present = false;
  begin_run_times(&state);
  EXPECT_EQ(pass_at(fake_now + 3000), end_file_missing);
  // A file that appears during the run counts as a change.
  SetUp();
  watch(2, "beat");
  fake_file_present = false;
  begin_run_times(&state);
  std::int64_t start = fake_now;
  fake_file_present = true;
  EXPECT_EQ(pass_at(start + 1500), end_none);
  EXPECT_EQ(pass_at(start + 3100), end_none);
  EXPECT_EQ(pass_at(start + 4400), end_none);
  EXPECT_EQ(pass_at(start + 4600), end_stale_file);
}

TEST_F(Cycle, FileIsLookedAtAboutOnceASecond) {
  watch(60, "beat");
  begin_run_times(&state);
  std::int64_t start = fake_now;
  int before = fake_looks;
  for (int ms = 10; ms <= 10000; ms += 10) pass_at(start + ms);
  EXPECT_LE(fake_looks - before, 11) << "1000 passes in 10 s";
  EXPECT_GE(fake_looks - before, 9);
}

TEST_F(Cycle, ErrorStringSeesBytesAfterANul) {
  settings.match_mode = stream_scope::output_only;
  settings.patterns[0] = "*FATAL*";
  settings.pattern_count = 1;
  begin_run_times(&state);
  const char chunk[] = "x\0 FATAL error\n";
  std::memcpy(state.run.chunks.out, chunk, sizeof chunk - 1);
  state.run.chunks.out_len = sizeof chunk - 1;
  EXPECT_EQ(pass_at(fake_now), end_error_string);
  state.run.chunks.out_len = 1;  // only "x": the rest was not read in this pass
  EXPECT_EQ(pass_at(fake_now), end_none);
}

// The -w pause: doubling after each short run up to the maximum, back to one second after a
// run that lasted the maximum; one second always without -w.
TEST(RestartPause, GrowsAfterShortRunsAndStartsAgainAfterALongOne) {
  struct {
    int max_sec;
    std::vector<std::int64_t> runs_ms;
    std::vector<std::int64_t> pauses_ms;
  } rows[] = {
      {0, {0, 0, 0}, {1000, 1000, 1000}},
      {10, {0, 500, 9999, 0, 0, 0}, {1000, 2000, 4000, 8000, 10000, 10000}},
      {10, {0, 0, 10000, 0}, {1000, 2000, 1000, 2000}},
      {1, {0, 0}, {1000, 1000}},
      {3, {0, 0, 0}, {1000, 2000, 3000}},
      {2147483647, std::vector<std::int64_t>(40, 0), {}},
  };
  for (const auto& r : rows) {
    restart_pause pause;
    for (std::size_t i = 0; i < r.runs_ms.size(); ++i) {
      std::int64_t ms = next_restart_pause(&pause, r.runs_ms[i], r.max_sec);
      if (i < r.pauses_ms.size()) {
        EXPECT_EQ(ms, r.pauses_ms[i]) << "-w" << r.max_sec << " run " << i;
      }
      EXPECT_GE(ms, 1000) << "-w" << r.max_sec << " run " << i;
      EXPECT_LE(ms, std::max<std::int64_t>(1000, r.max_sec * 1000LL)) << "-w" << r.max_sec << " run " << i;
    }
  }
}

}  // namespace
