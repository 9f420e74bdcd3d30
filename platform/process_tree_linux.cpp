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

// The parent of `pid` as /proc shows it, or -1.
pid_t parent_of(pid_t pid) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  char buf[512];
  ssize_t n = read(fd, buf, sizeof buf - 1);
  close(fd);
  if (n <= 0) return -1;
  buf[n] = '\0';
  const char* close_paren = std::strrchr(buf, ')');
  if (close_paren == nullptr) return -1;
  char state = 0;
  int parent = -1;
  if (std::sscanf(close_paren + 1, " %c %d", &state, &parent) != 2) return -1;
  return parent;
}

struct tree_entry {
  pid_t pid;
  pid_t parent;
};

// Every process with its parent. The command name in /proc/<pid>/stat may hold blanks and
// parentheses, so the fields are read after its last ')'.
int read_process_table(tree_entry* table, int limit) {
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return 0;
  int count = 0;
  while (dirent* e = readdir(proc)) {
    if (count >= limit) break;
    char* end = nullptr;
    long pid = std::strtol(e->d_name, &end, 10);
    if (pid <= 0 || *end != '\0') continue;
    pid_t parent = parent_of(static_cast<pid_t>(pid));
    if (parent >= 0) table[count++] = tree_entry{static_cast<pid_t>(pid), parent};
  }
  closedir(proc);
  return count;
}

bool contains(const pid_t* pids, int count, pid_t pid) { return std::find(pids, pids + count, pid) != pids + count; }

}  // namespace

int stop_descendants(pid_t root, pid_t* pids, int limit) {
  static tree_entry table[process_tree_limit];
  int count = 0;
  // A process forked just before its parent was stopped shows up in the next reading.
  for (int round = 0; round < 20; ++round) {
    int found_new = 0;
    int entries = read_process_table(table, process_tree_limit);
    bool grew = true;
    while (grew) {
      grew = false;
      for (int i = 0; i < entries; ++i) {
        pid_t parent = table[i].parent;
        if ((parent == root || contains(pids, count, parent)) && table[i].pid != root &&
            !contains(pids, count, table[i].pid) && count < limit) {
          pids[count++] = table[i].pid;
          kill(table[i].pid, SIGSTOP);
          ++found_new;
          grew = true;
        }
      }
    }
    if (found_new == 0) break;
  }
  return count;
}
