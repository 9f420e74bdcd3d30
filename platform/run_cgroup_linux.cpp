// Cgroups of runs on Linux, through the cgroup v2 files: a folder per run below our own
// cgroup (we stay where we are; cgroup.kill and cgroup.freeze need no controller, so a cgroup
// of ours that holds processes may still have cgroups below it), cgroup.procs to enter and to
// list, cgroup.events to see whether anything is left.
#include "platform/run_cgroup.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "common/monotonic_clock.h"
#include "platform/platform_system_linux.h"
#include "platform/run_cgroup_linux.h"
#include "platform/system_error.h"
#include "platform/wake_up.h"

namespace {

constexpr int signal_rounds = 8;             // readings of a cgroup while signalling what it holds
constexpr int kill_rounds = 3;               // readings of a frozen cgroup while killing what it holds
constexpr int move_rounds = 50;              // readings of a cgroup while moving what it holds out
constexpr long freeze_wait_ms = 200;         // how long a cgroup is given to report itself frozen
constexpr long removal_wait_ms = 500;        // how long an emptied cgroup is given to be removable
constexpr std::int64_t sweep_gap_ms = 1000;  // between looks for empty cgroups as processes end

bool read_text(int dir, const char* name, std::string* text) {
  text->clear();
  int fd = openat(dir, name, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buf[4096];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text->append(buf, static_cast<std::size_t>(n));
  }
  close(fd);
  return true;
}

// 0, or -errno.
int write_text(int dir, const char* name, const char* text) {
  int fd = openat(dir, name, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return -errno;
  std::size_t len = std::strlen(text);
  int rc = write(fd, text, len) == static_cast<ssize_t>(len) ? 0 : -errno;
  close(fd);
  return rc;
}

// "key value" lines, as cgroup.events holds them.
bool has_line(const std::string& text, const char* line) {
  std::size_t n = std::strlen(line);
  for (std::size_t pos = 0; pos < text.size();) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    if (end - pos == n && text.compare(pos, n, line) == 0) return true;
    pos = end + 1;
  }
  return false;
}

bool populated(int cgroup) {
  std::string events;
  return read_text(cgroup, "cgroup.events", &events) && has_line(events, "populated 1");
}

enum class nap_end { ready, stopped, timed_out };

// Waits until `fd` (-1: none) reports `events` or `deadline` (monotonic ms) passes. A stop
// request of `owner` (null: none) that comes meanwhile ends it, as it ends every wait; the
// record's other wake-ups (a child's end, kept in its count for the reaper) are taken and the
// wait goes on. A stop already under way when it begins does not cut short the clean-up it is
// part of.
nap_end nap(platform* owner, int fd, short events, std::int64_t deadline) {
  const int wake = owner != nullptr && stop_request(owner) == 0 ? owner->system->wake_fds[0] : -1;
  for (;;) {
    std::int64_t left = deadline - system_monotonic_ms();
    if (left <= 0) return nap_end::timed_out;
    pollfd looks[2] = {{fd, events, 0}, {wake, POLLIN, 0}};
    if (poll(looks, 2, static_cast<int>(left)) <= 0) continue;
    if (looks[0].revents != 0) return nap_end::ready;
    take_wake_ups(owner);
    if (stop_request(owner) != 0) return nap_end::stopped;
  }
}

// Waits up to `ms` until cgroup.events holds `line`; the file reports each change to poll.
bool wait_for_event(int cgroup, const char* line, long ms, platform* owner) {
  int fd = openat(cgroup, "cgroup.events", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::int64_t deadline = system_monotonic_ms() + ms;
  bool seen = false;
  for (;;) {
    char buf[256];
    ssize_t n = pread(fd, buf, sizeof buf - 1, 0);
    if (n > 0 && has_line(std::string(buf, static_cast<std::size_t>(n)), line)) {
      seen = true;
      break;
    }
    if (nap(owner, fd, POLLPRI, deadline) != nap_end::ready) break;
  }
  close(fd);
  return seen;
}

// The names of the folders (cgroups) right below the folder `dir`, read through a copy of it.
std::vector<std::string> subfolders(int dir) {
  std::vector<std::string> names;
  int copy = fcntl(dir, F_DUPFD_CLOEXEC, 0);
  DIR* listing = copy >= 0 ? fdopendir(copy) : nullptr;
  if (listing == nullptr) {
    if (copy >= 0) close(copy);
    return names;
  }
  while (dirent* d = readdir(listing))
    if (d->d_type == DT_DIR && std::strcmp(d->d_name, ".") != 0 && std::strcmp(d->d_name, "..") != 0)
      names.emplace_back(d->d_name);
  closedir(listing);
  return names;
}

// The processes in the cgroup, with `below` those in cgroups below it too.
void members(int cgroup, std::vector<pid_t>* pids, bool below) {
  std::string procs;
  if (read_text(cgroup, "cgroup.procs", &procs)) {
    const char* p = procs.c_str();
    char* end = nullptr;
    for (long pid = std::strtol(p, &end, 10); end != p; pid = std::strtol(p, &end, 10)) {
      if (pid > 0) pids->push_back(static_cast<pid_t>(pid));
      p = end;
    }
  }
  if (!below) return;
  for (const std::string& name : subfolders(cgroup)) {
    int sub = openat(cgroup, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (sub < 0) continue;
    members(sub, pids, true);
    close(sub);
  }
}

// Removes the empty cgroups below `cgroup` (a program of the run may have made its own).
void remove_cgroups_below(int cgroup) {
  for (const std::string& name : subfolders(cgroup)) {
    int sub = openat(cgroup, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (sub < 0) continue;
    remove_cgroups_below(sub);
    close(sub);
    unlinkat(cgroup, name.c_str(), AT_REMOVEDIR);
  }
}

// True once the cgroup `name` below ours is gone; one that holds processes stays. Empty
// cgroups below it go first (a program of the run may have made its own). The look is cheap
// enough to be made often: the events file is read without the kernel's cgroup lock, which a
// removal takes. With `patiently`, a killed process is given a moment to let go of it.
bool remove_cgroup(const run_cgroup_record* cgroups, const std::string& name, bool patiently) {
  int fd = openat(cgroups->base, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT;
  bool busy = populated(fd);
  bool gone = !busy && (unlinkat(cgroups->base, name.c_str(), AT_REMOVEDIR) == 0 || errno == ENOENT);
  if (!busy && !gone && errno == EBUSY) remove_cgroups_below(fd);
  close(fd);
  if (busy || gone) return gone;
  std::int64_t deadline = system_monotonic_ms() + removal_wait_ms;
  for (;;) {
    if (unlinkat(cgroups->base, name.c_str(), AT_REMOVEDIR) == 0 || errno == ENOENT) return true;
    if (!patiently || errno != EBUSY || system_monotonic_ms() >= deadline) return false;
    if (nap(cgroups->owner, -1, 0, system_monotonic_ms() + 10) == nap_end::stopped) return false;
  }
}

// Moves the processes of the cgroup `name` into ours and removes it. Frozen meanwhile where it
// can be, so that none forks away unseen; each thaws as it leaves.
void move_out_and_remove(const run_cgroup_record* cgroups, const std::string& name) {
  int fd = openat(cgroups->base, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  if (populated(fd)) {
    bool frozen = write_text(fd, "cgroup.freeze", "1") == 0;
    if (frozen) wait_for_event(fd, "frozen 1", freeze_wait_ms, cgroups->owner);
    int ours = openat(cgroups->base, "cgroup.procs", O_WRONLY | O_CLOEXEC);
    for (int round = 0; round < move_rounds && ours >= 0; ++round) {
      std::vector<pid_t> pids;
      members(fd, &pids, false);
      if (pids.empty()) break;
      for (pid_t pid : pids) {
        char text[32];
        int len = std::snprintf(text, sizeof text, "%d\n", static_cast<int>(pid));
        if (write(ours, text, static_cast<std::size_t>(len)) < 0) {
          // gone meanwhile, or not to be moved: the cgroup then stays
        }
      }
    }
    if (ours >= 0) close(ours);
    if (frozen) write_text(fd, "cgroup.freeze", "0");
  }
  close(fd);
  remove_cgroup(cgroups, name, true);
}

// A path as /proc/self/mountinfo writes it: blanks and the like as \ooo.
std::string unescape_mount_field(const std::string& field) {
  auto octal = [&](std::size_t i) { return i < field.size() && field[i] >= '0' && field[i] <= '7'; };
  std::string out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && octal(i + 1) && octal(i + 2) && octal(i + 3)) {
      out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0'));
      i += 3;
    } else {
      out += field[i];
    }
  }
  return out;
}

// Our cgroup v2 folder: our path from /proc/self/cgroup ("0::<path>") under a cgroup2 mount
// whose root holds it (/proc/self/mountinfo). False with the reason otherwise.
bool find_own_cgroup(std::string* folder, std::string* why) {
  std::string cgroup_text, mountinfo_text;
  if (!read_text(AT_FDCWD, "/proc/self/cgroup", &cgroup_text)) {
    *why = "no /proc/self/cgroup";
    return false;
  }
  if (!read_text(AT_FDCWD, "/proc/self/mountinfo", &mountinfo_text)) {
    *why = "no /proc/self/mountinfo";
    return false;
  }
  return find_cgroup_folder(cgroup_text, mountinfo_text, folder, why);
}

// The blank-separated fields of one mountinfo line.
std::vector<std::string> fields_of(const std::string& text, std::size_t pos, std::size_t end) {
  std::vector<std::string> fields;
  for (std::size_t f = pos; f < end;) {
    std::size_t blank = text.find(' ', f);
    if (blank == std::string::npos || blank > end) blank = end;
    fields.push_back(text.substr(f, blank - f));
    f = blank + 1;
  }
  return fields;
}

// Where a cgroup2 mount line (its fields) shows the cgroup `path`; false when it does not.
bool folder_in_mount(const std::vector<std::string>& fields, const std::string& path, std::string* folder) {
  // id parent major:minor root mount-point options [optional...] - type source super-options
  auto dash = std::find(fields.begin(), fields.end(), "-");
  if (fields.size() < 5 || dash == fields.end() || dash + 1 == fields.end() || dash[1] != "cgroup2") return false;
  std::string root = unescape_mount_field(fields[3]);
  std::string mount_point = unescape_mount_field(fields[4]);
  std::string below;
  if (root == "/")
    below = path;
  else if (path == root || path.rfind(root + "/", 0) == 0)
    below = path.substr(root.size());
  else
    return false;
  *folder = mount_point + (below == "/" ? "" : below);
  return true;
}

// Moves a short-lived child into the cgroup, as a run's child will move itself: 0, or the errno.
int try_moving_a_process(int cgroup) {
  pid_t pid = fork();
  if (pid < 0) return errno;
  if (pid == 0) {
    int fd = openat(cgroup, "cgroup.procs", O_WRONLY | O_CLOEXEC);
    _exit(fd < 0 ? errno : write(fd, "0\n", 2) == 2 ? 0 : errno);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : EIO;
}

// Makes the next cgroup of ours: 0 with its name, or the errno. A name that is taken (by a copy
// of ours in another PID namespace, where pids repeat, or one that ended without cleaning up)
// is skipped.
int make_cgroup(run_cgroup_record* cgroups, std::string* name) {
  for (;;) {
    *name = cgroups->prefix + std::to_string(++cgroups->made);
    if (mkdirat(cgroups->base, name->c_str(), 0755) == 0) return 0;
    if (errno != EEXIST) return errno;
  }
}

std::string process_trees(const std::string& why) { return "runs held as process trees: " + why; }

// Removes the empty cgroups that a copy of ours which no longer runs left behind (one that was
// killed outright cannot clean up), so they do not pile up over the copies' lifetimes. Only
// empty ones go: a cgroup that still holds a spared daemon keeps it. A copy in another PID
// namespace may carry the pid of a process that lives here (1, say): its cgroups go once they
// have been empty for a minute, long after any start could still be moving a child in.
constexpr long stale_after_s = 60;

void remove_stale_cgroups(const run_cgroup_record* cgroups, const std::string& program) {
  std::vector<std::string> stale;
  const std::string lead = program + "-";
  for (const std::string& name : subfolders(cgroups->base)) {
    if (name.rfind(lead, 0) != 0) continue;
    char* end = nullptr;
    long owner = std::strtol(name.c_str() + lead.size(), &end, 10);
    if (owner <= 0 || owner == getpid() || *end != '-') continue;
    bool owner_gone = kill(static_cast<pid_t>(owner), 0) != 0 && errno == ESRCH;
    struct stat st {};
    bool old = fstatat(cgroups->base, name.c_str(), &st, 0) == 0 && time(nullptr) - st.st_mtime > stale_after_s;
    if (!owner_gone && !old) continue;
    stale.push_back(name);
  }
  for (const std::string& name : stale) remove_cgroup(cgroups, name, false);
}

// Why a cgroup made in `folder` cannot hold runs (empty when it can): it must be open, killable
// or freezable, enterable by a process, and removable.
std::string probe_cgroups(run_cgroup_record* cgroups, const std::string& folder) {
  std::string probe;
  if (int err = make_cgroup(cgroups, &probe))
    return "cannot make a cgroup in " + folder + ": " + system_error_text(err);
  int fd = openat(cgroups->base, probe.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  std::string reason;
  if (fd < 0) {
    reason = "cannot open a cgroup in " + folder + ": " + system_error_text(errno);
  } else if (faccessat(fd, "cgroup.kill", W_OK, 0) != 0 && faccessat(fd, "cgroup.freeze", W_OK, 0) != 0) {
    reason = "the cgroups in " + folder + " can be neither killed nor frozen";
  } else if (int err = try_moving_a_process(fd)) {
    reason = "cannot move a process into a cgroup in " + folder + ": " + system_error_text(err);
  }
  if (fd >= 0) close(fd);
  bool removed = remove_cgroup(cgroups, probe, true);
  if (reason.empty() && !removed) reason = "cannot remove a cgroup in " + folder;
  return reason;
}

std::string decide(run_cgroup_record* cgroups, bool wanted) {
  if (!wanted) return process_trees("cgroups not wanted");
  std::string folder, why;
  if (!find_own_cgroup(&folder, &why)) return process_trees(why);
  cgroups->base = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (cgroups->base < 0) return process_trees("cannot open " + folder + ": " + system_error_text(errno));
  // The name tells our cgroups from those of other programs and of other copies of ours.
  std::string program;
  for (const char* c = program_invocation_short_name; *c != '\0' && program.size() < 32; ++c)
    program += std::isalnum(static_cast<unsigned char>(*c)) || *c == '_' || *c == '.' ? *c : '_';
  cgroups->prefix = program + "-" + std::to_string(getpid()) + "-";
  std::string reason = probe_cgroups(cgroups, folder);
  if (!reason.empty()) {
    close(cgroups->base);
    cgroups->base = -1;
    return process_trees(reason);
  }
  cgroups->in_use = true;
  remove_stale_cgroups(cgroups, program);
  return "runs held in cgroups of their own below " + folder;
}

}  // namespace

bool find_cgroup_folder(const std::string& cgroup_text, const std::string& mountinfo_text, std::string* folder,
                        std::string* why) {
  std::size_t at = cgroup_text.rfind("0::", 0) == 0 ? 0 : cgroup_text.find("\n0::");
  if (at == std::string::npos) {
    *why = "no cgroup2 hierarchy holds us";
    return false;
  }
  at = cgroup_text.find("::", at) + 2;
  std::string path = cgroup_text.substr(at, cgroup_text.find('\n', at) - at);
  if (path.empty() || path[0] != '/' || path.rfind("/..", 0) == 0) {
    *why = "our cgroup lies outside our cgroup namespace";
    return false;
  }
  for (std::size_t pos = 0; pos < mountinfo_text.size();) {
    std::size_t end = mountinfo_text.find('\n', pos);
    if (end == std::string::npos) end = mountinfo_text.size();
    if (folder_in_mount(fields_of(mountinfo_text, pos, end), path, folder)) return true;
    pos = end + 1;
  }
  *why = "no cgroup2 mount shows our cgroup";
  return false;
}

const char* choose_run_cgroups(platform* p, bool wanted) {
  run_cgroup_record* cgroups = &p->system->cgroups;
  cgroups->owner = p;
  if (!cgroups->decided) {
    cgroups->decided = true;
    cgroups->how = decide(cgroups, wanted);
  }
  return cgroups->how.c_str();
}

bool run_cgroups_in_use(const run_cgroup_record* cgroups) { return cgroups->in_use; }

bool every_run_in_a_cgroup(const run_cgroup_record* cgroups) { return cgroups->in_use && cgroups->every_run_held; }

void note_run_without_cgroup(run_cgroup_record* cgroups) { cgroups->every_run_held = false; }

int make_run_cgroup(run_cgroup_record* cgroups) {
  if (!cgroups->in_use) return -ENOSYS;
  remove_empty_run_cgroups(cgroups);
  std::string name;
  if (int err = make_cgroup(cgroups, &name)) return -err;
  int fd = openat(cgroups->base, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    int err = errno;
    unlinkat(cgroups->base, name.c_str(), AT_REMOVEDIR);
    return -err;
  }
  cgroups->held.push_back(held_cgroup{fd, name});
  return fd;
}

bool run_cgroup_populated(int cgroup) { return populated(cgroup); }

void signal_run_cgroup(int cgroup, int sig) {
  std::vector<pid_t> done;
  for (int round = 0; round < signal_rounds; ++round) {
    std::vector<pid_t> now;
    members(cgroup, &now, true);
    bool fresh = false;
    for (pid_t pid : now) {
      if (std::binary_search(done.begin(), done.end(), pid)) continue;
      if (pid != getpid()) {
        kill(pid, sig);
        kill(pid, SIGCONT);  // a stopped process would not see the request until it goes on
      }
      done.push_back(pid);
      fresh = true;
    }
    if (!fresh) return;
    std::sort(done.begin(), done.end());
  }
}

int kill_run_cgroup(int cgroup, platform* stop_on) {
  // Missing before Linux 5.14: then the cgroup is frozen and each process killed.
  return write_text(cgroup, "cgroup.kill", "1") == 0 ? 0 : kill_run_cgroup_by_freezing(cgroup, stop_on);
}

int kill_run_cgroup_by_freezing(int cgroup, platform* stop_on) {
  int rc = write_text(cgroup, "cgroup.freeze", "1");
  if (rc < 0) return rc;
  // A frozen process cannot fork, and one forked while the cgroup froze starts frozen; a
  // fatal signal still ends each. The cgroup stays frozen: it is removed once empty.
  wait_for_event(cgroup, "frozen 1", freeze_wait_ms, stop_on);
  for (int round = 0; round < kill_rounds; ++round) {
    std::vector<pid_t> pids;
    members(cgroup, &pids, true);
    if (pids.empty()) break;
    for (pid_t pid : pids)
      if (pid != getpid()) kill(pid, SIGKILL);
  }
  return 0;
}

void release_run_cgroup(run_cgroup_record* cgroups, int* cgroup) {
  if (*cgroup < 0) return;
  for (auto it = cgroups->held.begin(); it != cgroups->held.end(); ++it) {
    if (it->fd != *cgroup) continue;
    std::string name = it->name;
    cgroups->held.erase(it);
    close(*cgroup);
    if (!remove_cgroup(cgroups, name, false)) cgroups->kept.push_back(name);
    break;
  }
  *cgroup = -1;
}

void note_processes_ended(run_cgroup_record* cgroups) { cgroups->sweep_due = true; }

void remove_empty_run_cgroups(run_cgroup_record* cgroups, bool when_due) {
  if (cgroups->kept.empty()) return;
  std::int64_t now = system_monotonic_ms();
  if (when_due && (!cgroups->sweep_due || now - cgroups->last_sweep < sweep_gap_ms)) return;
  cgroups->last_sweep = now;
  cgroups->sweep_due = false;
  std::erase_if(cgroups->kept, [cgroups](const std::string& name) { return remove_cgroup(cgroups, name, false); });
}

std::vector<pid_t> processes_in_run_cgroups(const run_cgroup_record* cgroups) {
  std::vector<pid_t> pids;
  if (!cgroups->in_use) return pids;
  for (const held_cgroup& h : cgroups->held) members(h.fd, &pids, true);
  for (const std::string& name : cgroups->kept) {
    int fd = openat(cgroups->base, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) continue;
    members(fd, &pids, true);
    close(fd);
  }
  std::sort(pids.begin(), pids.end());
  return pids;
}

void end_run_cgroups(platform* p) {
  run_cgroup_record* cgroups = &p->system->cgroups;
  if (!cgroups->in_use) return;
  stop_run_keeper(p);
  for (held_cgroup& h : cgroups->held) {
    // A run still held at our end is ended with it.
    kill_run_cgroup(h.fd, p);
    wait_for_event(h.fd, "populated 0", removal_wait_ms, p);
    close(h.fd);
    cgroups->kept.push_back(h.name);
  }
  cgroups->held.clear();
  for (const std::string& name : cgroups->kept) move_out_and_remove(cgroups, name);
  cgroups->kept.clear();
}
