// The system's wall clock agrees with the calendar time and keeps its fields in range.
#include "common/wall_clock.h"

#include <gtest/gtest.h>

#include <ctime>

namespace {

TEST(WallClock, AgreesWithTheCalendarTime) {
  std::time_t before = std::time(nullptr);
  wall_time now = system_wall_clock();
  std::time_t after = std::time(nullptr);
  EXPECT_GE(now.sec, static_cast<std::int64_t>(before) - 1);
  EXPECT_LE(now.sec, static_cast<std::int64_t>(after) + 1);
  EXPECT_GE(now.usec, 0);
  EXPECT_LT(now.usec, 1000000);
}

TEST(WallClock, MovesOnInMicroseconds) {
  wall_time a = system_wall_clock();
  wall_time b = a;
  for (int i = 0; i < 1000000 && b.sec == a.sec && b.usec == a.usec; ++i) b = system_wall_clock();
  EXPECT_GT((b.sec - a.sec) * 1000000 + (b.usec - a.usec), 0);
  EXPECT_LT((b.sec - a.sec) * 1000000 + (b.usec - a.usec), 100000) << "a tick of at most 0.1 s";
}

}  // namespace
