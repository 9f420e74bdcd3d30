// How runs hold their processes. Where a cgroup v2 hierarchy shows our cgroup and lets us make
// cgroups below it (as root, or in a subtree delegated to us), a child started with
// `child_setup::own_cgroup` gets a new cgroup of its own below ours before it runs any code of
// its own, and so does everything it ever starts, however it detaches: ending the run kills
// that cgroup, and a run that ended by itself keeps it, so what it left running is spared
// exactly. Elsewhere (no cgroup2 mount, not permitted, read-only, not Linux) runs are held by
// the process-tree method (process.h). Nothing here prints.
#pragma once

struct platform;

// Decides, once, how runs hold their processes: in cgroups of their own when `wanted` and the
// system allows it (a cgroup below ours can be made, a process moved into it, and it can be
// killed or frozen). Returns a line for a debug trace that says which way and, for the process
// tree, why; later calls return the first answer.
const char* choose_run_cgroups(platform* p, bool wanted);

// Makes sure that a run held in a cgroup does not outlive us, however we end: a process of
// ours that is not below us (the run keeper) kills the cgroup of the run in progress once we
// have gone without saying goodbye. Call after choose_run_cgroups, before become_subreaper and
// before any signal handler is installed; nothing happens while runs are not held in cgroups.
// (Killed outright with the keeper, or between a child's start and the keeper's hearing of its
// cgroup, a run is left as before.)
void start_run_keeper(platform* p);

// At our end: the processes still in cgroups of ours (daemons of runs that ended by themselves)
// are moved into our own cgroup, and every cgroup we made is removed. Runs held then are ended
// first; call it after every handle has been released.
void end_run_cgroups(platform* p);
