// The process tree as the system shows it: the descendants of a process, of ourselves, and the
// processes a run left behind on purpose. Tree operations never reach ourselves or an ancestor
// of ours, whatever they are asked.
#pragma once
#include <sys/types.h>

#include <vector>

#include "platform/process.h"

// Stops (SIGSTOP) every process in `scope` below `root` (see process.h), reading the tree
// again until no new one appears, so that none can fork away before they are ended. Returns
// their pids.
// What the cgroups of runs in `p` hold is never reached.
std::vector<pid_t> stop_descendants(platform* p, pid_t root, const stop_scope& scope);

// Every process in `scope` below `root`, without touching them.
std::vector<pid_t> list_descendants(platform* p, pid_t root, const stop_scope& scope);
