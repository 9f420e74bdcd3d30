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

namespace {

struct tree_entry {
  pid_t pid;
  pid_t parent;
  unsigned long long started;  // clock ticks after boot: tells a reused pid apart
  bool ended;                  // a zombie: gone, only not yet collected
};

// One process as /proc shows it. The command name may hold blanks and parentheses, so the
// fields are read after its last ')'.
bool read_entry(pid_t pid, tree_entry* e) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
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
  unsigned long long started = 0;
  // state ppid pgrp session tty tpgid flags minflt cminflt majflt cmajflt utime stime cutime
  // cstime priority nice threads itrealvalue starttime
  if (std::sscanf(close_paren + 1, " %c %d %*d %*d %*d %*d %*u %*u %*u %*u %*u %*u %*u %*d %*d %*d %*d %*d %*d %llu",
                  &state, &parent, &started) != 3)
    return false;
  *e = tree_entry{pid, parent, started, state == 'Z' || state == 'X'};
  return true;
}

tree_entry table[process_tree_limit];

int read_process_table() {
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return 0;
  int count = 0;
  while (dirent* d = readdir(proc)) {
    if (count >= process_tree_limit) break;
    char* end = nullptr;
    long pid = std::strtol(d->d_name, &end, 10);
    if (pid <= 0 || *end != '\0') continue;
    if (read_entry(static_cast<pid_t>(pid), &table[count])) ++count;
  }
  closedir(proc);
  return count;
}

bool contains(const pid_t* pids, int count, pid_t pid) { return std::find(pids, pids + count, pid) != pids + count; }

const tree_entry* find(int entries, pid_t pid) {
  for (int i = 0; i < entries; ++i)
    if (table[i].pid == pid) return &table[i];
  return nullptr;
}

// Ourselves and every ancestor: never signalled, whatever the tree says.
int untouchable(int entries, pid_t* out, int limit) {
  int n = 0;
  for (pid_t p = getpid(); p > 0 && n < limit && !contains(out, n, p);) {
    out[n++] = p;
    const tree_entry* e = find(entries, p);
    p = e != nullptr ? e->parent : 0;
  }
  return n;
}

bool is_spared(const spared_processes* spared, const tree_entry& e) {
  if (spared == nullptr) return false;
  for (int i = 0; i < spared->count; ++i)
    if (spared->pid[i] == e.pid && spared->started[i] == e.started) return true;
  return false;
}

// Adds to `pids` every living process below one already there (or below the roots), in scope.
// Returns how many were added; `freeze` stops each as it is found.
int grow(int entries, const pid_t* roots, int root_count, const stop_scope& scope, pid_t* pids, int* count, int limit,
         bool freeze) {
  pid_t keep_out[64];
  int kept = untouchable(entries, keep_out, 64);
  int added = 0;
  bool grew = true;
  while (grew) {
    grew = false;
    for (int i = 0; i < entries; ++i) {
      const tree_entry& e = table[i];
      bool below = contains(roots, root_count, e.parent) || contains(pids, *count, e.parent);
      if (!below || e.ended || contains(roots, root_count, e.pid) || contains(pids, *count, e.pid) ||
          contains(keep_out, kept, e.pid) || *count >= limit)
        continue;
      // A process set aside, and everything below it, is left alone: it never joins the list,
      // so nothing below it is reached through it.
      if (is_spared(scope.spared, e)) continue;
      pids[(*count)++] = e.pid;
      if (freeze) kill(e.pid, SIGSTOP);
      ++added;
      grew = true;
    }
  }
  return added;
}

int collect(pid_t root, const stop_scope& scope, pid_t* pids, int limit, bool freeze) {
  pid_t roots[2] = {root, 0};
  int root_count = root > 0 ? 1 : 0;
  if (scope.everything_below_us) roots[root_count++] = getpid();
  int count = 0;
  // A process forked just before its parent was stopped shows up in the next reading.
  for (int round = 0; round < 20; ++round) {
    int entries = read_process_table();
    if (grow(entries, roots, root_count, scope, pids, &count, limit, freeze) == 0 || !freeze) break;
  }
  return count;
}

}  // namespace

int stop_descendants(pid_t root, const stop_scope& scope, pid_t* pids, int limit) {
  return collect(root, scope, pids, limit, true);
}

int list_descendants(pid_t root, const stop_scope& scope, pid_t* pids, int limit) {
  return collect(root, scope, pids, limit, false);
}

void spare_processes_below_us(spared_processes* spared) {
  int entries = read_process_table();
  // Entries whose process has gone make room first.
  int kept = 0;
  for (int i = 0; i < spared->count; ++i) {
    const tree_entry* e = find(entries, spared->pid[i]);
    if (e == nullptr || e->ended || e->started != spared->started[i]) continue;
    spared->pid[kept] = spared->pid[i];
    spared->started[kept++] = spared->started[i];
  }
  spared->count = kept;
  static pid_t below[process_tree_limit];
  pid_t self = getpid();
  int count = 0;
  stop_scope scope;
  scope.spared = spared;
  grow(entries, &self, 1, scope, below, &count, process_tree_limit, false);
  for (int i = 0; i < count && spared->count < spared_limit; ++i) {
    const tree_entry* e = find(entries, below[i]);
    if (e == nullptr) continue;
    spared->pid[spared->count] = e->pid;
    spared->started[spared->count++] = e->started;
  }
}

bool is_self_or_ancestor(pid_t pid) {
  int entries = read_process_table();
  pid_t chain[64];
  int n = untouchable(entries, chain, 64);
  return contains(chain, n, pid);
}
