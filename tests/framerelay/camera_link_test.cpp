// The pause before the camera is connected again.
#include "framerelay/camera_link.h"

#include <gtest/gtest.h>

namespace {

TEST(CameraLink, PauseDoublesWhileConnectionsBringNoFrame) {
  struct {
    long previous;
    bool frames_came;
    long pause;
  } rows[] = {
      {0, false, 1000},      {0, true, 1000},       {1000, false, 2000}, {8000, false, 16000},
      {16000, false, 30000}, {30000, false, 30000}, {30000, true, 1000}, {2000, true, 1000},
  };
  for (const auto& r : rows)
    EXPECT_EQ(next_connect_pause(r.previous, r.frames_came), r.pause) << r.previous << " " << r.frames_came;
}

}  // namespace
