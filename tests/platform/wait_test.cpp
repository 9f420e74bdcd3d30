// The one wait: descriptors, hang-ups, deadlines, and wake-ups from signals that arrive
// before the wait begins.
#include "platform/wait.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>

#include "common/monotonic_clock.h"
#include "platform/pipe.h"
#include "platform/signal.h"
#include "tests/helpers/test_platform.h"

namespace {

std::atomic<int> stops{0};
void count_stop(int) { ++stops; }

TEST(Wait, ReadableWritableHangupAndDeadline) {
  test_platform system;
  int p[2];
  ASSERT_EQ(make_pipe(p, 0), 0);
  wait_item items[2] = {{p[0], wait_read, 0}, {p[1], wait_write, 0}};
  EXPECT_EQ(wait_for_events(system.get(), items, 2, 1000), 1) << "an empty pipe has room";
  EXPECT_EQ(items[0].got, 0u);
  EXPECT_EQ(items[1].got, unsigned{wait_write});
  ASSERT_EQ(write_all(p[1], "x", 1), 0);
  EXPECT_EQ(wait_for_events(system.get(), items, 1, 1000), 1);
  EXPECT_EQ(items[0].got, unsigned{wait_read});
  char c;
  ASSERT_EQ(read_some(p[0], &c, 1), 1);
  std::int64_t start = system_monotonic_ms();
  EXPECT_EQ(wait_for_events(system.get(), items, 1, 150), 0);
  EXPECT_GE(system_monotonic_ms() - start, 140);
  close_fd(&p[1]);
  EXPECT_EQ(wait_for_events(system.get(), items, 1, 1000), 1);
  EXPECT_EQ(items[0].got, unsigned{wait_hangup}) << "writers gone and nothing left";
  close_fd(&p[0]);
}

TEST(Wait, AStopThatArrivedBeforeTheWaitEndsItAtOnce) {
  test_platform system;
  install_stop_requests(system.get(), count_stop);
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
    int before = stops;
    raise(sig);  // handled now, before the wait starts
    EXPECT_EQ(stops, before + 1);
    EXPECT_EQ(stop_request(system.get()), SIGTERM) << "the first request stays";
    std::int64_t start = system_monotonic_ms();
    EXPECT_EQ(wait_for_events(system.get(), nullptr, 0, 5000), 0);
    EXPECT_LT(system_monotonic_ms() - start, 1000) << "signal " << sig;
  }
  // The wake-up is used up: the next wait runs to its deadline.
  std::int64_t start = system_monotonic_ms();
  wait_for_events(system.get(), nullptr, 0, 100);
  EXPECT_GE(system_monotonic_ms() - start, 90);
  signal(SIGTERM, SIG_DFL);
  signal(SIGINT, SIG_DFL);
  signal(SIGHUP, SIG_DFL);
}

}  // namespace
