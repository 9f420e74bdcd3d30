// watchdog's hold on its processes, both ways a run holds them (a cgroup of its own, and the
// process tree that WATCHDOG_NO_CGROUP=1 asks for): what every end of a run reaches and
// spares, zombies however many end at once, and -p without a view of the ancestors. Loads
// run in a PID namespace of their own, so the process count stays bounded.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/e2e_test.h"

namespace {

std::string first_line(const std::string& path) {
  std::ifstream f(path);
  std::string line;
  std::getline(f, line);
  return line;
}

std::vector<pid_t> children_of(pid_t pid) {
  std::istringstream in(first_line("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children"));
  std::vector<pid_t> kids;
  for (pid_t kid; in >> kid;) kids.push_back(kid);
  return kids;
}

bool zombie(pid_t pid) {
  std::string stat = first_line("/proc/" + std::to_string(pid) + "/stat");
  return stat.find(") Z ") != std::string::npos;
}

int zombies_of(pid_t pid) {
  int n = 0;
  for (pid_t kid : children_of(pid)) n += zombie(kid);
  return n;
}

pid_t descendant_named(pid_t root, const std::string& name) {
  for (pid_t kid : children_of(root)) {
    if (first_line("/proc/" + std::to_string(kid) + "/comm") == name) return kid;
    if (pid_t found = descendant_named(kid, name)) return found;
  }
  return 0;
}

constexpr const char* held_in_cgroups = "runs held in cgroups of their own below ";

class WatchdogOwnership : public E2eTokenTest, public ::testing::WithParamInterface<std::string> {
 protected:
  bool cgroups() const { return GetParam() == "cgroup"; }
  // The debug trace says once, before the first run, which way runs are held.
  void SetUp() override {
    E2eTokenTest::SetUp();
    std::string err = run_program({WATCHDOG_BIN, "-d1", "-n2", "true"}, options()).err;
    ASSERT_EQ(count_lines_with(err, "runs held "), 1) << err;
    std::string how = err.substr(0, err.find('\n'));
    if (!cgroups()) {
      ASSERT_EQ(how, "runs held as process trees: cgroups not wanted");
    } else if (how.find(held_in_cgroups) != 0) {
      GTEST_SKIP() << how;
    }
    folder = how.substr(std::string(held_in_cgroups).size());
  }
  program_options options() const {
    program_options o;
    o.cwd = dir;
    o.env.push_back({"WATCHDOG_NO_CGROUP", cgroups() ? "0" : "1"});
    return o;
  }
  static bool pid_namespace_allowed() { return run_program({"unshare", "-fp", "--mount-proc", "true"}).status == 0; }
  // Living processes of this test's sleeper (watchdog's own command line names it too).
  int living_sleepers() {
    std::string n = run_program({"pgrep", "-c", "-x", "-r", "D,R,S,T", token}).out;
    return n.empty() ? 0 : std::stoi(n);
  }
  // Starts watchdog with `args` in a PID namespace of its own (first in it, or below a shell);
  // returns the namespace's outer process and sets *wd to watchdog's.
  pid_t start_in_namespace(bool first, std::vector<std::string> args, pid_t* wd) {
    std::vector<std::string> argv = {"unshare", "-fp", "--mount-proc"};
    if (!first) argv.insert(argv.end(), {"sh", "-c", "\"$0\" \"$@\"; :"});
    argv.push_back(WATCHDOG_BIN);
    argv.insert(argv.end(), args.begin(), args.end());
    pid_t ns = start_program(argv, dir + "/out", dir + "/err", options());
    wait_until(10, [&] { return (*wd = descendant_named(ns, "watchdog")) != 0; });
    return ns;
  }
  // Ends watchdog (and with it the namespace); true when that took at most `seconds`.
  bool end_namespace(pid_t ns, pid_t wd, double seconds = 15) {
    kill(wd, SIGCONT);
    kill(wd, SIGTERM);
    int status = 0;
    if (wait_until(seconds, [&] { return waitpid(ns, &status, WNOHANG) == ns; })) return true;
    kill(ns, SIGKILL);
    waitpid(ns, &status, 0);
    return false;
  }
  // Runs watchdog to its end, sending `sig` (if any) once its output holds "second". No cgroup
  // of it may be left.
  void run_watchdog(std::vector<std::string> args, int sig = 0) {
    args.insert(args.begin(), WATCHDOG_BIN);
    pid_t pid = start_program(args, dir + "/out", dir + "/err", options());
    if (sig != 0 && wait_until(10, [&] { return read_file(dir + "/out").find("second") != std::string::npos; }))
      kill(pid, sig);
    int status = 0;
    if (!wait_until(40, [&] { return waitpid(pid, &status, WNOHANG) == pid; })) {
      ADD_FAILURE() << "watchdog did not end";
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
    }
    std::string prefix = "watchdog-" + std::to_string(pid) + "-";
    DIR* d = cgroups() ? opendir(folder.c_str()) : nullptr;
    while (dirent* e = d != nullptr ? readdir(d) : nullptr) EXPECT_NE(std::string(e->d_name).rfind(prefix, 0), 0u);
    if (d != nullptr) closedir(d);
  }
  std::string folder;
};

TEST_P(WatchdogOwnership, EveryEndReachesTheRunAndSparesWhatEarlierRunsLeft) {
  // Run 1 leaves a daemon and ends; run 2 detaches a process of its own and hangs.
  std::string late = "(sleep 0.3; exec setsid -f " + sleeper + " 311) &";
  std::string daemons[] = {"(setsid " + sleeper + " 311 &)", late};
  struct {
    const char* what;
    std::vector<std::string> args;
    int signal;
  } ends[] = {{"a hang kill", {"-m1", "-n2"}, 0}, {"the timeout", {"-t4"}, 0}, {"a stop", {"-m30"}, SIGTERM}};
  for (const std::string& daemon : daemons) {
    // The process tree cannot tell a process that detaches after its run ended from the next run's.
    if (!cgroups() && daemon == late) continue;
    for (const auto& e : ends) {
      std::string what = daemon + ", then " + e.what;
      std::vector<std::string> args = e.args;
      args.insert(args.end(), {"sh", "-c",
                               "if [ ${WATCHDOG_COUNT%,*} = 1 ]; then\n" + daemon + "\nexit 0\nfi\n(setsid " + sleeper +
                                   " 318 &); echo second; exec " + sleeper + " 319"});
      run_watchdog(args, e.signal);
      EXPECT_TRUE(wait_until(
          3, [&] { return count_lines_with(leftovers(), " 318") + count_lines_with(leftovers(), " 319") == 0; }))
          << what << ": run 2 was not ended whole";
      EXPECT_EQ(count_lines_with(leftovers(), " 311"), 1) << what << ": the daemon was ended";
      EXPECT_EQ(count_lines_with(read_file(dir + "/err"), "can't kill"), 0) << what;
      run_program({"pkill", "-KILL", "-f", token});
    }
  }
}

// The empty cgroup that a copy killed outright left behind is removed by the next copy.
TEST_P(WatchdogOwnership, EmptyCgroupsOfACopyThatIsGoneAreRemoved) {
  if (!cgroups()) GTEST_SKIP() << "only where runs are held in cgroups";
  std::string stale = folder + "/watchdog-4999999-1";  // a pid above any pid_max
  ASSERT_EQ(mkdir(stale.c_str(), 0755), 0);
  run_watchdog({"-n1", "true"});
  EXPECT_NE(access(stale.c_str(), F_OK), 0) << "left behind";
  rmdir(stale.c_str());
}

TEST_P(WatchdogOwnership, AStopUnderAForkStormEndsWithinTheGrace) {
  if (!pid_namespace_allowed()) GTEST_SKIP() << "no PID namespace can be made here (needs root)";
  // 32 processes that ignore the stop and fork without pause, one child at a time each.
  write_file(dir + "/storm.sh", "trap '' TERM INT HUP; while :; do sh -c :; done\n");
  pid_t wd = 0;
  pid_t ns = start_in_namespace(false,
                                {"-m60", "sh", "-c",
                                 "i=0; while [ $i -lt 32 ]; do sh storm.sh & i=$((i+1)); done; "
                                 "echo started; exec " +
                                     sleeper + " 320"},
                                &wd);
  ASSERT_TRUE(wait_until(10, [&] { return read_file(dir + "/out") == "started\n"; }));
  auto asked = std::chrono::steady_clock::now();
  EXPECT_TRUE(end_namespace(ns, wd, 60));
  double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - asked).count();
  // The grace of 3 s, the kill and the wait for the cgroup to empty, the exit's bounded drain.
  if (cgroups()) {
    EXPECT_LT(took, 3 + 1 + 1 + 3) << read_file(dir + "/err");
  }
}

TEST_P(WatchdogOwnership, EndsThatComeTogetherAreAllCollectedAtOnce) {
  if (!pid_namespace_allowed()) GTEST_SKIP() << "no PID namespace can be made here (needs root)";
  // Run 1 leaves more orphans than one child signal used to collect; they and run 2's child
  // end together while watchdog is stopped.
  std::string script = "case ${WATCHDOG_COUNT%,*} in 1) sh -c 'i=0; while [ $i -lt 1500 ]; do " + sleeper +
                       " 100 & i=$((i+1)); done'; exit 0;; 2) echo > ready; exec " + sleeper + " 101;; *) exec " +
                       sleeper + " 102;; esac";
  for (bool first : {true, false}) {
    pid_t wd = 0;
    pid_t ns = start_in_namespace(first, {"-n3", "sh", "-c", script}, &wd);
    ASSERT_TRUE(
        wait_until(60, [&] { return access((dir + "/ready").c_str(), F_OK) == 0 && living_sleepers() > 1500; }));
    kill(wd, SIGSTOP);
    run_program({"pkill", "-KILL", "-x", token});
    EXPECT_TRUE(wait_until(10, [&] { return living_sleepers() == 0; }));
    kill(wd, SIGCONT);
    EXPECT_TRUE(wait_until(2, [&] { return zombies_of(wd) == 0; })) << zombies_of(wd) << " zombies, first " << first;
    // Run 2's end is seen in the next pass: RESTART after the one-second pause.
    EXPECT_TRUE(wait_until(4, [&] { return count_lines_with(read_file(dir + "/err"), "RESTART(1)") == 2; }));
    end_namespace(ns, wd);
    unlink((dir + "/ready").c_str());
  }
}

TEST_P(WatchdogOwnership, ChildrenThatKeepReForkingLeaveFewZombies) {
  if (!pid_namespace_allowed()) GTEST_SKIP() << "no PID namespace can be made here (needs root)";
  // 32 chains in which each process forks once and ends, 100 generations each (3200 pids at
  // most). Run 1 starts them and ends; later runs end at once, so the pauses count too.
  write_file(dir + "/chain.pl", "for (1..100) { exit 0 if fork; select(undef, undef, undef, 0.005) }\n");
  pid_t wd = 0;
  pid_t ns = start_in_namespace(false,
                                {"sh", "-c",
                                 "[ ${WATCHDOG_COUNT%,*} = 1 ] || exit 0; sh -c 'i=0; while [ $i "
                                 "-lt 32 ]; do perl chain.pl & i=$((i+1)); done'; echo > ready"},
                                &wd);
  ASSERT_TRUE(wait_until(20, [&] { return access((dir + "/ready").c_str(), F_OK) == 0; }));
  int samples = 0, sum = 0;
  wait_until(2, [&] {
    sum += zombies_of(wd);
    ++samples;
    return false;
  });
  end_namespace(ns, wd);
  EXPECT_LT(sum / samples, 200) << "zombies on average over " << samples << " samples";
}

TEST_P(WatchdogOwnership, NoAdoptionWhenTheAncestorsCannotBeRead) {
  if (run_program({"unshare", "-m", "true"}).status != 0) GTEST_SKIP() << "no mount namespace here (needs root)";
  // watchdog is asked to adopt its parent shell where it cannot see its ancestors: no /proc at
  // all, or the /proc of another PID namespace.
  std::string adopt_parent = std::string(WATCHDOG_BIN) + " -n1 -m2 -p$$ true; echo \"status $?\"";
  std::vector<std::string> empty_proc = {"unshare", "-m", "sh", "-c", "mount --bind \"$0\" /proc && " + adopt_parent,
                                         dir};
  for (const auto& argv : {empty_proc, {"unshare", "-fp", "sh", "-c", adopt_parent}}) {
    program_result p = run_program(argv, options());
    EXPECT_EQ(p.out, "status 1\n") << argv[1] << ": the shell must live on\n" << p.err;
    EXPECT_EQ(count_lines_with(p.err, "the ancestors of watchdog cannot be read"), 1) << p.err;
  }
}

// Killed outright, watchdog takes its run with it: the child always (its parent-death
// signal), everything the run started where a cgroup holds it (the run keeper).
TEST_P(WatchdogOwnership, AKillOutrightTakesTheRunAlong) {
  pid_t wd =
      start_program({WATCHDOG_BIN, "-m30", "sh", "-c", "(" + sleeper + " 320 &); echo up; exec " + sleeper + " 321"},
                    dir + "/out", dir + "/err", options());
  // This test's sleepers by their own name, "<pid> <token> <seconds>".
  auto sleeping = [&](const char* seconds) {
    return count_lines_with(run_program({"pgrep", "-a", "-x", token}).out, std::string(" ") + seconds);
  };
  ASSERT_TRUE(wait_until(10, [&] { return sleeping("320") == 1 && sleeping("321") == 1; })) << leftovers();
  kill(wd, SIGKILL);
  waitpid(wd, nullptr, 0);
  EXPECT_TRUE(wait_until(3, [&] { return sleeping("321") == 0; })) << "the child lives on";
  if (cgroups()) {
    EXPECT_TRUE(wait_until(3, [&] { return sleeping("320") == 0; })) << "the run lives on";
  }
  // The process tree method leaves what detached from the child: not covered.
  run_program({"pkill", "-KILL", "-f", token});
}

// A process that a run which ended by itself left running keeps writing through the next run:
// its lines are relayed, and they are no output of that run, which is killed for silence.
TEST_P(WatchdogOwnership, WhatARunLeftRunningKeepsItsOutput) {
  std::string loop = "while :; do echo tick; " + sleeper + " 0.1; done";
  run_watchdog({"-m2", "-n2", "sh", "-c",
                "if [ ${WATCHDOG_COUNT%,*} = 1 ]; then (" + loop + ") & exit 0; fi; exec " + sleeper + " 30"});
  std::string err = read_file(dir + "/err");
  EXPECT_EQ(count_lines_with(err, "--hung up-- (2 sec no output)"), 1) << err;
  // Run 2 lasts about 3 s after a pause of 1: at 10 a second, that is some 40 lines.
  EXPECT_GE(count_lines_with(read_file(dir + "/out"), "tick"), 20);
  // Once watchdog has gone, the loop's next write fails and it ends.
}

INSTANTIATE_TEST_SUITE_P(BothWays, WatchdogOwnership, ::testing::Values("cgroup", "process_tree"));

}  // namespace
