// Waiting for a child in the status tests: it ends in its own time, asked every 10 ms.
#pragma once
#include <chrono>
#include <thread>

#include "watchdog/child_status.h"

// 0 once child_running reports the child ended (its exit status in `query`), -1 after `tries`
// queries found it running.
inline int wait_for_end(process_handle* h, int tries, child_query* query) {
  for (int i = 0; i < tries; ++i) {
    if (!child_running(h, query)) return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return -1;
}
