// The process tree as the system shows it: descendants of a process, read from /proc.
#pragma once
#include <sys/types.h>

constexpr int process_tree_limit = 4096;

// Stops (SIGSTOP) every descendant of `root`, reading the tree again until no new one
// appears, so that none can fork away before they are ended. Writes their pids into
// `pids` (at most `limit`) and returns their number.
int stop_descendants(pid_t root, pid_t* pids, int limit);
