// The process tree as the system shows it: the descendants of a process, of ourselves, and the
// processes a run left behind on purpose. Tree operations never reach ourselves or an ancestor
// of ours, whatever they are asked.
#pragma once
#include <sys/types.h>

#include "platform/process.h"

constexpr int process_tree_limit = 4096;

// Stops (SIGSTOP) every process in `scope` below `root` (see process.h), reading the tree
// again until no new one appears, so that none can fork away before they are ended. Writes
// their pids into `pids` (at most `limit`) and returns their number.
int stop_descendants(pid_t root, const stop_scope& scope, pid_t* pids, int limit);

// Every process in `scope` below `root`, without touching them; returns their number.
int list_descendants(pid_t root, const stop_scope& scope, pid_t* pids, int limit);
