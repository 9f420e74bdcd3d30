// Runs held in cgroups of their own: what a kill, a signal and the end reach, what a run that
// ended by itself keeps, and that no cgroup is left behind. Needs a cgroup v2 hierarchy that
// lets us make cgroups (root here); skipped otherwise.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>

#include "common/monotonic_clock.h"
#include "platform/process.h"
#include "platform/run_cgroup.h"
#include "platform/run_cgroup_linux.h"

namespace {

template <typename F>
bool within(long ms, F done) {
  std::int64_t deadline = monotonic_now() + ms;
  while (!done() && monotonic_now() < deadline) usleep(10000);
  return done();
}

std::string cgroup_of(pid_t pid) {
  std::ifstream f("/proc/" + std::to_string(pid) + "/cgroup");
  for (std::string line; std::getline(f, line);)
    if (line.rfind("0::", 0) == 0) return line.substr(3);
  return "";
}

bool alive(pid_t pid) { return kill(pid, 0) == 0 && cgroup_of(pid) != ""; }

class RunCgroup : public ::testing::Test {
 protected:
  void SetUp() override {
    become_subreaper();  // as watchdog: orphans of the runs come to us
    watch_child_events();
    std::string how = choose_run_cgroups(true);
    if (how.find("cgroups of their own below ") == std::string::npos) GTEST_SKIP() << how;
    folder = how.substr(how.find(" below ") + 7);
    our_cgroup = cgroup_of(getpid());
  }
  // Whatever a failed test left in cgroups of ours goes, and so do the cgroups.
  void TearDown() override {
    for (pid_t pid : processes_in_run_cgroups()) kill(pid, SIGKILL);
    end_run_cgroups();
  }
  // Starts `script` in a cgroup of its own and waits until it holds `count` processes.
  void start(process_handle* h, const std::string& script, int count) {
    char* argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"), const_cast<char*>(script.c_str()), nullptr};
    child_setup setup;
    setup.own_cgroup = true;
    ASSERT_EQ(spawn_process(h, argv, child_stdio{}, nullptr, nullptr, setup), 0);
    ASSERT_GE(h->cgroup_fd, 0);
    ASSERT_TRUE(within(5000, [&] { return static_cast<int>(processes_in_run_cgroups().size()) >= count; }));
  }
  // The folder of the cgroup that holds `pid`.
  std::string folder_of(pid_t pid) {
    std::string path = cgroup_of(pid);
    return folder + path.substr(path.rfind('/'));
  }
  static bool exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
  }
  std::string folder, our_cgroup;
};

const char* const run_with_detached = "(setsid sleep 300 &); (sleep 301 &); exec sleep 302";

TEST_F(RunCgroup, AKillEndsEverythingTheRunStartedWithOrWithoutCgroupKill) {
  for (bool freezing : {false, true}) {
    process_handle h;
    start(&h, run_with_detached, 3);
    std::string where = folder_of(h.pid);
    EXPECT_NE(cgroup_of(h.pid), our_cgroup);
    if (freezing) {
      h.kill_sent = true;
      EXPECT_EQ(kill_run_cgroup_by_freezing(h.cgroup_fd), 0);
    } else {
      EXPECT_EQ(terminate_process_tree(&h), 0);
    }
    EXPECT_TRUE(stop_process(&h, 0, 3000)) << "freezing " << freezing;
    EXPECT_FALSE(run_cgroup_populated(h.cgroup_fd));
    EXPECT_EQ(h.exit_code, 127);
    release_process(&h);
    EXPECT_TRUE(within(2000, [&] {
      remove_empty_run_cgroups();
      return !exists(where);
    })) << where;
  }
}

TEST_F(RunCgroup, ASignalReachesEveryProcessOfTheRun) {
  process_handle h;
  start(&h, run_with_detached, 3);
  std::vector<pid_t> pids = processes_in_run_cgroups();
  EXPECT_TRUE(stop_process(&h, SIGTERM, 3000));
  for (pid_t pid : pids) EXPECT_FALSE(alive(pid)) << pid;
  EXPECT_EQ(h.exit_code, 128 + SIGTERM);
  release_process(&h);
}

TEST_F(RunCgroup, WhatARunThatEndedByItselfLeftIsSparedUntilOurEnd) {
  process_handle first;
  start(&first, "(setsid sleep 303 &)", 1);
  ASSERT_TRUE(within(5000, [&] { return process_status(&first) == 0; }));
  std::vector<pid_t> daemons = processes_in_run_cgroups();
  ASSERT_EQ(daemons.size(), 1u);
  pid_t daemon = daemons[0];
  std::string kept = folder_of(daemon);
  release_process(&first);
  EXPECT_TRUE(exists(kept)) << "the cgroup of a run with a living daemon stays";
  spared_processes spared;
  spare_processes_below_us(&spared);
  EXPECT_EQ(spared.count, 0) << "a cgroup spares what it holds: nothing to record";

  // Neither a later run's kill nor a process-tree operation over everything below us reaches it.
  process_handle second;
  start(&second, "exec sleep 304", 2);
  stop_scope everything;
  everything.everything_below_us = true;
  EXPECT_TRUE(stop_process(&second, terminate_at_once, 3000, everything));
  release_process(&second);
  process_handle plain;
  char* argv[] = {const_cast<char*>("sleep"), const_cast<char*>("305"), nullptr};
  ASSERT_EQ(spawn_process(&plain, argv, child_stdio{}), 0);
  EXPECT_TRUE(stop_process(&plain, terminate_at_once, 3000, everything));
  release_process(&plain);
  EXPECT_TRUE(alive(daemon));

  // At our end it is moved into our own cgroup, and no cgroup of ours is left.
  end_run_cgroups();
  EXPECT_TRUE(alive(daemon));
  EXPECT_EQ(cgroup_of(daemon), our_cgroup);
  EXPECT_FALSE(exists(kept));
  kill(daemon, SIGKILL);
}

TEST_F(RunCgroup, TheCgroupOfARunGoesOnceItsLastProcessHasEnded) {
  process_handle h;
  start(&h, "(setsid sleep 306 &)", 1);
  ASSERT_TRUE(within(5000, [&] { return process_status(&h) == 0; }));
  pid_t daemon = processes_in_run_cgroups().at(0);
  std::string kept = folder_of(daemon);
  release_process(&h);
  ASSERT_TRUE(exists(kept));
  kill(daemon, SIGKILL);
  // The daemon is our orphan: once it is reaped, a status query looks at the cgroups again.
  process_handle other;
  char* argv[] = {const_cast<char*>("sleep"), const_cast<char*>("30"), nullptr};
  ASSERT_EQ(spawn_process(&other, argv, child_stdio{}), 0);
  EXPECT_TRUE(within(3000, [&] {
    process_status(&other);
    return !exists(kept);
  })) << kept;
  stop_process(&other, terminate_at_once, 1000);
  release_process(&other);
}

}  // namespace
