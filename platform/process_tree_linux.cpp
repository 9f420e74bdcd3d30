// Reading the process tree from /proc/<pid>/stat.
#include "platform/process_tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform_system_linux.h"
#include "platform/run_cgroup_linux.h"

namespace {

constexpr int ancestry_limit = 4096;  // no chain of parents is longer
constexpr int freeze_rounds = 20;     // readings of the tree while freezing it
constexpr int ancestry_attempts = 3;  // readings of our ancestry before it counts as unreadable

struct tree_entry {
  pid_t pid = 0;
  pid_t parent = 0;
  pid_t session = 0;
  unsigned long long started = 0;  // clock ticks after boot: tells a reused pid apart
  bool ended = false;              // a zombie: gone, only not yet collected
};

// One process as /proc shows it at `path`. The command name may hold blanks and parentheses,
// so the fields are read after its last ')'.
bool read_entry_at(const char* path, tree_entry* e) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buf[1024];
  ssize_t n = read(fd, buf, sizeof buf - 1);
  close(fd);
  if (n <= 0) return false;
  buf[n] = '\0';
  const char* close_paren = std::strrchr(buf, ')');
  if (close_paren == nullptr) return false;
  char state = 0;
  int parent = -1;
  int session = 0;
  unsigned long long started = 0;
  // state ppid pgrp session tty tpgid flags minflt cminflt majflt cmajflt utime stime cutime
  // cstime priority nice threads itrealvalue starttime
  if (std::sscanf(close_paren + 1, " %c %d %*d %d %*d %*d %*u %*u %*u %*u %*u %*u %*u %*d %*d %*d %*d %*d %*d %llu",
                  &state, &parent, &session, &started) != 4)
    return false;
  e->pid = static_cast<pid_t>(std::atoi(buf));
  e->parent = parent;
  e->session = session;
  e->started = started;
  e->ended = state == 'Z' || state == 'X';
  return true;
}

bool read_entry(pid_t pid, tree_entry* e) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
  return read_entry_at(path, e) && e->pid == pid;
}

// Every process there is, as one reading found them; it grows with the system, it is never cut
// short.
using process_table = std::vector<tree_entry>;

// A /proc of another PID namespace (or none) shows pids that are not ours to signal: then
// the table stays empty, and a tree operation reaches no process beyond its handle's.
bool proc_is_ours() {
  tree_entry self;
  return read_entry_at("/proc/self/stat", &self) && self.pid == getpid();
}

void read_process_table(process_table* table) {
  table->clear();
  if (!proc_is_ours()) return;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return;
  while (dirent* d = readdir(proc)) {
    char* end = nullptr;
    long pid = std::strtol(d->d_name, &end, 10);
    if (pid <= 0 || *end != '\0') continue;
    tree_entry e;
    if (read_entry(static_cast<pid_t>(pid), &e)) table->push_back(e);
  }
  closedir(proc);
}

bool contains(const std::vector<pid_t>& pids, pid_t pid) {
  return std::find(pids.begin(), pids.end(), pid) != pids.end();
}

// Ourselves and every ancestor up to init (or up to the first process of our PID namespace),
// read one by one from /proc, so that the answer does not depend on any table: never
// signalled, whatever the tree says. False when a link could not be read: no /proc, one of
// someone else's PID namespace, an entry we may not read, an ancestor that ended meanwhile.
bool read_ancestry(std::vector<pid_t>* chain) {
  chain->clear();
  if (!proc_is_ours()) {
    chain->push_back(getpid());
    return false;
  }
  pid_t p = getpid();
  while (p > 0 && static_cast<int>(chain->size()) < ancestry_limit && !contains(*chain, p)) {
    chain->push_back(p);
    tree_entry e;
    if (p == 1) return true;
    if (!read_entry(p, &e)) return false;
    p = e.parent;
  }
  return p == 0;
}

// An ancestor that ends while the chain is read breaks it: then it is read again.
bool read_ancestry_whole(std::vector<pid_t>* chain) {
  for (int attempt = 0; attempt < ancestry_attempts; ++attempt)
    if (read_ancestry(chain)) return true;
  return false;
}

std::vector<pid_t> ancestry() {
  std::vector<pid_t> chain;
  read_ancestry_whole(&chain);  // what could be read is kept out all the same
  return chain;
}

pid_t own_session() {
  tree_entry self;
  return read_entry(getpid(), &self) ? self.session : -1;
}

// A process set aside, and everything below it, is left alone; so is every process of a
// session that one of them leads or shares (other than ours), since a daemon's later
// detached children come to us as orphans outside its subtree but inside its session. The
// sessions are read as they are now: a daemon may have left ours only after it was set aside.
std::vector<pid_t> spared_sessions(const process_table& table, const spared_processes* spared, pid_t our_session) {
  std::vector<pid_t> sessions;
  if (spared == nullptr) return sessions;
  for (const tree_entry& e : table)
    for (int i = 0; i < spared->count; ++i)
      if (spared->pid[i] == e.pid && spared->started[i] == e.started && e.session != our_session && e.session > 0 &&
          !contains(sessions, e.session))
        sessions.push_back(e.session);
  return sessions;
}

bool is_spared(const spared_processes* spared, const std::vector<pid_t>& sessions, const tree_entry& e) {
  if (spared == nullptr) return false;
  for (int i = 0; i < spared->count; ++i)
    if (spared->pid[i] == e.pid && spared->started[i] == e.started) return true;
  return contains(sessions, e.session);
}

// Adds to `pids` every living process below the roots or below one already there, in scope.
// Returns how many were added; `freeze` stops each as it is found.
int grow(platform* p, const process_table& table, const std::vector<pid_t>& roots, const stop_scope& scope,
         std::vector<pid_t>* pids, bool freeze) {
  std::vector<pid_t> keep_out = ancestry();
  if (p->system->keeper_pid > 0) keep_out.push_back(p->system->keeper_pid);
  const std::vector<pid_t> sessions = spared_sessions(table, scope.spared, own_session());
  // What a run's cgroup holds belongs to that run alone.
  const std::vector<pid_t> held = processes_in_run_cgroups(&p->system->cgroups);
  int added = 0;
  bool grew = true;
  while (grew) {
    grew = false;
    for (const tree_entry& e : table) {
      if (e.ended || contains(roots, e.pid) || contains(*pids, e.pid) || contains(keep_out, e.pid)) continue;
      if (!contains(roots, e.parent) && !contains(*pids, e.parent)) continue;
      if (is_spared(scope.spared, sessions, e)) continue;  // nothing below it is reached through it
      if (std::binary_search(held.begin(), held.end(), e.pid)) continue;
      pids->push_back(e.pid);
      if (freeze) kill(e.pid, SIGSTOP);
      ++added;
      grew = true;
    }
  }
  return added;
}

std::vector<pid_t> collect(platform* p, pid_t root, const stop_scope& scope, bool freeze) {
  std::vector<pid_t> roots;
  if (root > 0) roots.push_back(root);
  if (scope.everything_below_us) roots.push_back(getpid());
  std::vector<pid_t> pids;
  process_table table;
  // A process forked just before its parent was stopped shows up in the next reading.
  for (int round = 0; round < freeze_rounds; ++round) {
    read_process_table(&table);
    if (grow(p, table, roots, scope, &pids, freeze) == 0 || !freeze) break;
  }
  return pids;
}

}  // namespace

std::vector<pid_t> stop_descendants(platform* p, pid_t root, const stop_scope& scope) {
  return collect(p, root, scope, true);
}

std::vector<pid_t> list_descendants(platform* p, pid_t root, const stop_scope& scope) {
  return collect(p, root, scope, false);
}

void spare_processes_below_us(platform* p, spared_processes* spared) {
  if (every_run_in_a_cgroup(&p->system->cgroups)) return;
  process_table table;
  read_process_table(&table);
  auto find = [&table](pid_t pid) -> const tree_entry* {
    for (const tree_entry& e : table)
      if (e.pid == pid) return &e;
    return nullptr;
  };
  // Entries whose process has gone make room first.
  int kept = 0;
  for (int i = 0; i < spared->count; ++i) {
    const tree_entry* e = find(spared->pid[i]);
    if (e == nullptr || e->ended || e->started != spared->started[i]) continue;
    spared->pid[kept] = spared->pid[i];
    spared->started[kept++] = spared->started[i];
  }
  spared->count = kept;
  std::vector<pid_t> below;
  stop_scope scope;
  scope.spared = spared;
  grow(p, table, {getpid()}, scope, &below, false);
  for (pid_t pid : below) {
    const tree_entry* e = find(pid);
    if (e == nullptr || spared->count >= spared_limit) continue;
    spared->pid[spared->count] = e->pid;
    spared->started[spared->count++] = e->started;
  }
}

bool is_self_or_ancestor(pid_t pid) { return contains(ancestry(), pid); }

bool ancestry_readable() {
  std::vector<pid_t> chain;
  return read_ancestry_whole(&chain);
}
