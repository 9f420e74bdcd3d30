// Runs held in cgroups of their own, beyond what the end-to-end tests reach: the kill for
// kernels without cgroup.kill, and what a run that ended by itself left, which no later
// operation reaches and whose cgroup goes once it has ended. Needs cgroups we may make.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "common/monotonic_clock.h"
#include "platform/platform_system_linux.h"
#include "platform/process.h"
#include "platform/run_cgroup.h"
#include "platform/run_cgroup_linux.h"
#include "tests/helpers/test_platform.h"

namespace {

template <typename F>
bool within(long ms, F done) {
  std::int64_t deadline = system_monotonic_ms() + ms;
  while (!done() && system_monotonic_ms() < deadline) usleep(10000);
  return done();
}

class RunCgroup : public ::testing::Test {
 protected:
  void SetUp() override {
    become_subreaper();  // as watchdog: orphans of the runs come to us
    watch_child_events(system.get());
    std::string how = choose_run_cgroups(system.get(), true);
    if (how.find(" below ") == std::string::npos) GTEST_SKIP() << how;
    folder = how.substr(how.find(" below ") + 7);
  }
  void TearDown() override {
    for (pid_t pid : held()) kill(pid, SIGKILL);
    end_run_cgroups(system.get());
  }
  std::vector<pid_t> held() { return processes_in_run_cgroups(&system.get()->system->cgroups); }
  // Starts `script` in a cgroup of its own, waits until the cgroups hold `count` processes, and
  // notes the run's cgroup folder in `where`.
  void start(process_handle* h, const char* script, unsigned count) {
    char* argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"), const_cast<char*>(script), nullptr};
    child_setup setup;
    setup.own_cgroup = true;
    ASSERT_EQ(spawn_process(system.get(), h, argv, child_stdio{}, nullptr, nullptr, setup), 0);
    ASSERT_TRUE(within(5000, [&] { return held().size() >= count; }));
    std::ifstream f("/proc/" + std::to_string(h->pid) + "/cgroup");
    for (std::string line; std::getline(f, line);)
      if (line.rfind("0::", 0) == 0) where = folder + line.substr(line.rfind('/'));
  }
  bool there() const {
    struct stat st;
    return stat(where.c_str(), &st) == 0;
  }
  test_platform system;
  std::string folder, where;
};

TEST_F(RunCgroup, FreezingKillsEverythingTheRunStarted) {
  process_handle h;
  start(&h, "(setsid sleep 300 &); (sleep 301 &); exec sleep 302", 3);
  h.kill_sent = true;
  kill_run_cgroup_by_freezing(h.system.cgroup_fd);
  EXPECT_TRUE(stop_process(&h, already_asked, 3000));
  EXPECT_EQ(h.exit_code, 127);
  release_process(&h);
  EXPECT_FALSE(there()) << where;
}

TEST_F(RunCgroup, WhatARunThatEndedByItselfLeftIsLeftAloneUntilItEnds) {
  process_handle first, second, plain;
  start(&first, "(setsid sleep 303 &)", 1);
  ASSERT_TRUE(within(5000, [&] { return process_status(&first) == process_state::ended; }));
  std::string kept = where;
  pid_t daemon = held().at(0);
  release_process(&first);
  spared_processes spared;
  spare_processes_below_us(system.get(), &spared);
  EXPECT_EQ(spared.count, 0) << "the cgroup spares it: nothing to record";
  // Neither a later run's kill nor a process-tree kill of everything below us reaches it.
  stop_scope everything;
  everything.everything_below_us = true;
  start(&second, "exec sleep 304", 2);
  EXPECT_TRUE(stop_process(&second, kill_at_once, 3000, everything));
  char* argv[] = {const_cast<char*>("sleep"), const_cast<char*>("305"), nullptr};
  ASSERT_EQ(spawn_process(system.get(), &plain, argv, child_stdio{}), 0);
  EXPECT_TRUE(stop_process(&plain, kill_at_once, 3000, everything));
  release_process(&second);
  release_process(&plain);
  EXPECT_EQ(kill(daemon, 0), 0);
  // Once it has ended and is reaped (it is our orphan), the next look removes its cgroup.
  where = kept;
  kill(daemon, SIGKILL);
  EXPECT_TRUE(within(3000, [&] {
    reap_children(system.get());
    remove_empty_run_cgroups(&system.get()->system->cgroups, true);
    return !there();
  })) << where;
}

// Where our cgroup lies, read from /proc/self/cgroup and mountinfo texts as a host, a hybrid
// system and a container show them.
TEST(CgroupFolder, FoundFromCgroupAndMountinfoTexts) {
  const std::string host = "36 25 0:31 / /sys/fs/cgroup rw,nosuid shared:9 - cgroup2 cgroup2 rw\n";
  struct {
    const char* cgroup;
    std::string mountinfo;
    const char* folder;  // empty: not found, and `why` says so
    const char* why;
  } rows[] = {
      {"0::/user.slice/a.scope\n", host, "/sys/fs/cgroup/user.slice/a.scope", ""},
      {"0::/\n", host, "/sys/fs/cgroup", ""},
      {"12:pids:/a\n0::/a\n",
       "30 25 0:26 / /sys/fs/cgroup/pids rw - cgroup cgroup rw,pids\n"
       "31 25 0:27 / /sys/fs/cgroup/unified rw - cgroup2 cgroup2 rw",
       "/sys/fs/cgroup/unified/a", ""},
      {"0::/docker/abc/sub\n", "40 30 0:31 /docker/abc /sys/fs/cgroup ro - cgroup2 cgroup rw\n", "/sys/fs/cgroup/sub",
       ""},
      {"0::/docker/abc\n", "40 30 0:31 /docker/abc /sys/fs/cgroup ro - cgroup2 cgroup rw\n", "/sys/fs/cgroup", ""},
      {"0::/a\n", "50 25 0:31 / /mnt/my\\040cgroups rw - cgroup2 none rw\n", "/mnt/my cgroups/a", ""},
      {"0::/docker/abcd\n", "40 30 0:31 /docker/abc /sys/fs/cgroup ro - cgroup2 cgroup rw\n", "",
       "no cgroup2 mount shows our cgroup"},
      {"0::/a\n", "short line\n22 1 8:1 / / rw - ext4 /dev/sda1 rw\n", "", "no cgroup2 mount shows our cgroup"},
      {"1:name=systemd:/a\n", host, "", "no cgroup2 hierarchy holds us"},
      {"0::/../../outside\n", host, "", "our cgroup lies outside our cgroup namespace"},
  };
  for (const auto& r : rows) {
    std::string folder, why;
    bool found = find_cgroup_folder(r.cgroup, r.mountinfo, &folder, &why);
    EXPECT_EQ(found, r.folder[0] != '\0') << r.cgroup << why;
    if (found)
      EXPECT_EQ(folder, r.folder) << r.cgroup;
    else
      EXPECT_EQ(why, r.why) << r.cgroup;
  }
}

}  // namespace
