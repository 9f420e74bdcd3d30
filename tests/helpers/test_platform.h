// A platform record for a test: opened when the test makes it, given back when it is done.
#pragma once

#include "platform/platform.h"

struct test_platform {
  platform record;
  test_platform() { open_platform(&record); }
  ~test_platform() { close_platform(&record); }
  test_platform(const test_platform&) = delete;
  test_platform& operator=(const test_platform&) = delete;
  platform* get() { return &record; }
};

// One record for the tests of a binary that start processes: opened on first use, kept to the
// end.
inline platform* shared_test_platform() {
  static test_platform shared;
  return shared.get();
}
