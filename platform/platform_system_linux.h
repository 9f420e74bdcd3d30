// Inside the platform layer on Linux: the system part of the platform record (platform.h).
#pragma once
#include "platform/platform.h"
#include "platform/platform_system.h"
#include "platform/process.h"
#include "platform/run_cgroup_linux.h"

constexpr int registry_slots = 64;  // started children whose handles are not released yet

struct platform_system {
  int wake_fds[2] = {-1, -1};  // the wake-up pipe: handlers write into it, waits read it
  bool child_events_watched = false;
  unsigned events_reaped = 0;                     // the child-event count when the latest reaping began
  bool reaping_unfinished = false;                // the latest reaping stopped at its time bound
  process_handle* registry[registry_slots] = {};  // the reaper records each end in them
  int registry_count = 0;
  run_cgroup_record cgroups;  // how runs hold their processes, and the cgroups made
  int keeper_pipe = -1;       // our end of the run keeper's pipe
  pid_t keeper_pid = 0;       // the run keeper where it stays our child (we are a PID namespace's first)
};
