// Inside the platform layer: the cgroups of runs on Linux, for the process operations. A cgroup
// is held as a descriptor of its folder; every function takes the record of the cgroups in use
// as chosen by choose_run_cgroups (run_cgroup.h), which lives in the platform record.
#pragma once
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

struct platform;

struct held_cgroup {
  int fd = -1;
  std::string name;
};

// The program's one choice and the cgroups it has made.
struct run_cgroup_record {
  bool decided = false;
  bool in_use = false;
  bool every_run_held = true;
  int base = -1;              // our own cgroup's folder
  platform* owner = nullptr;  // whose stop request ends a wait on a cgroup, as it ends every wait
  std::string how;            // the debug trace's line
  std::string prefix;         // "<program>-<pid>-": names of ours among others' cgroups
  unsigned made = 0;
  std::vector<held_cgroup> held;  // cgroups of runs whose handles hold them
  std::vector<std::string> kept;  // cgroups of released runs, until they are empty and removed
  std::int64_t last_sweep = 0;
  bool sweep_due = false;  // processes have ended since the last look
};

// True once runs are held in cgroups.
bool run_cgroups_in_use(const run_cgroup_record* cgroups);

// True while runs are held in cgroups and none has had to do without one, so that no process
// below us needs the process tree's record of what runs left behind.
bool every_run_in_a_cgroup(const run_cgroup_record* cgroups);

// A new, empty cgroup below ours: its folder as a descriptor (close-on-exec), or -errno.
// Cgroups of earlier runs whose processes have all ended are removed first.
int make_run_cgroup(run_cgroup_record* cgroups);

// A run that had to start without a cgroup (none could be made, or the child could not enter it).
void note_run_without_cgroup(run_cgroup_record* cgroups);

// True while a process is in the cgroup or in one below it.
bool run_cgroup_populated(int cgroup);

// Sends `sig`, then SIGCONT, to every process in the cgroup and below it, reading it again
// while new ones appear (a bounded number of times: what forks on is killed later).
void signal_run_cgroup(int cgroup, int sig);

// Kills every process in the cgroup and below it at once: cgroup.kill, or, where the kernel has
// none (before 5.14), freezing the cgroup and killing each process. Does not wait. A stop
// request of `stop_on` (null: none) ends the short wait for the freeze, as it ends every wait.
int kill_run_cgroup(int cgroup, platform* stop_on = nullptr);
int kill_run_cgroup_by_freezing(int cgroup, platform* stop_on = nullptr);

// Lets go of the cgroup's descriptor. The cgroup is removed once it is empty: now, or by a later
// look (at every run start, and after processes have ended, at most once a second), or at our end.
void release_run_cgroup(run_cgroup_record* cgroups, int* cgroup);

// Processes have ended (children were reaped): a cgroup may have lost its last one.
void note_processes_ended(run_cgroup_record* cgroups);

// Removes the cgroups of released runs whose processes have all ended. With `when_due`, only
// when processes have ended since the last look and that look is a second old.
void remove_empty_run_cgroups(run_cgroup_record* cgroups, bool when_due = false);

// The pids in cgroups of runs, sorted: a process-tree operation never reaches them, since each
// belongs to the run whose cgroup holds it.
std::vector<pid_t> processes_in_run_cgroups(const run_cgroup_record* cgroups);

// The cgroup v2 folder that a /proc/self/cgroup text ("0::<path>") and a mountinfo text show
// for us: true with the folder, false with the reason.
bool find_cgroup_folder(const std::string& cgroup_text, const std::string& mountinfo_text, std::string* folder,
                        std::string* why);

// Tells the run keeper (run_cgroup.h) which cgroup holds the run in progress (-1: none).
void keep_run_cgroup(platform* p, int cgroup);

// Says goodbye to the run keeper: it ends without ending anything.
void stop_run_keeper(platform* p);
