// Inside the platform layer: the cgroups of runs on Linux, for the process operations. A cgroup
// is held as a descriptor of its folder; every function takes the cgroups in use as chosen by
// choose_run_cgroups (run_cgroup.h).
#pragma once
#include <sys/types.h>

#include <vector>

// True once runs are held in cgroups.
bool run_cgroups_in_use();

// True while runs are held in cgroups and none has had to do without one, so that no process
// below us needs the process tree's record of what runs left behind.
bool every_run_in_a_cgroup();

// A new, empty cgroup below ours: its folder as a descriptor (close-on-exec), or -errno.
// Cgroups of earlier runs whose processes have all ended are removed first.
int make_run_cgroup();

// A run that had to start without a cgroup (none could be made, or the child could not enter it).
void note_run_without_cgroup();

// True while a process is in the cgroup or in one below it.
bool run_cgroup_populated(int cgroup);

// Sends `sig`, then SIGCONT, to every process in the cgroup and below it, reading it again
// while new ones appear (a bounded number of times: what forks on is killed later).
void signal_run_cgroup(int cgroup, int sig);

// Kills every process in the cgroup and below it at once: cgroup.kill, or, where the kernel has
// none (before 5.14), freezing the cgroup and killing each process. Does not wait.
int kill_run_cgroup(int cgroup);
int kill_run_cgroup_by_freezing(int cgroup);

// Tells the run keeper (run_cgroup.h) which cgroup holds the run in progress (-1: none).
void keep_run_cgroup(int cgroup);

// Says goodbye to the run keeper: it ends without ending anything.
void stop_run_keeper();

// Lets go of the cgroup's descriptor. The cgroup is removed once it is empty: now, or by a later
// look (at every run start, and after processes have ended, at most once a second), or at our end.
void release_run_cgroup(int* cgroup);

// Processes have ended (children were reaped): a cgroup may have lost its last one.
void note_processes_ended();

// Removes the cgroups of released runs whose processes have all ended. With `when_due`, only
// when processes have ended since the last look and that look is a second old.
void remove_empty_run_cgroups(bool when_due = false);

// The pids in cgroups of runs, sorted: a process-tree operation never reaches them, since each
// belongs to the run whose cgroup holds it.
std::vector<pid_t> processes_in_run_cgroups();
