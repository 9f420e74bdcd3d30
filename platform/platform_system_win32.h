// Inside the platform layer on Windows: the system part of the platform record (platform.h).
#pragma once
#include "platform/platform.h"
#include "platform/platform_system.h"

struct platform_system {
  void* wake_event = nullptr;  // an auto-reset event that console events and process ends set
  bool ends_watched = false;   // the ends of processes started or adopted from now on wake the wait
};
