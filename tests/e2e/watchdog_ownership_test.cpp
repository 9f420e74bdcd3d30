// watchdog's hold on its processes under load: zombies collected however many end at once,
// in a PID namespace of their own so that the process count stays bounded.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
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

// The state letter of a process (Z for a zombie), or 0 when it has gone.
char state_of(pid_t pid) {
  std::string stat = first_line("/proc/" + std::to_string(pid) + "/stat");
  std::size_t close_paren = stat.rfind(')');
  return close_paren == std::string::npos || close_paren + 2 >= stat.size() ? 0 : stat[close_paren + 2];
}

int zombies_of(pid_t pid) {
  int n = 0;
  for (pid_t kid : children_of(pid)) n += state_of(kid) == 'Z';
  return n;
}

// The first process named `name` below `root`, or 0.
pid_t descendant_named(pid_t root, const std::string& name) {
  for (pid_t kid : children_of(root)) {
    if (first_line("/proc/" + std::to_string(kid) + "/comm") == name) return kid;
    if (pid_t found = descendant_named(kid, name)) return found;
  }
  return 0;
}

class WatchdogOwnership : public E2eTokenTest {
 protected:
  void SetUp() override {
    E2eTokenTest::SetUp();
    if (run_program({"unshare", "-fp", "--mount-proc", "true"}).status != 0)
      GTEST_SKIP() << "no PID namespace can be made here (needs root)";
  }
  // Runs watchdog with `args` in a PID namespace of its own, as its first process or below a
  // shell; returns the namespace's outer process and sets *wd to watchdog's.
  pid_t start_in_namespace(bool as_init, std::vector<std::string> args, pid_t* wd, const program_options& o = {}) {
    std::vector<std::string> argv = {"unshare", "-fp", "--mount-proc"};
    if (!as_init) argv.insert(argv.end(), {"sh", "-c", "\"$0\" \"$@\"; :"});
    argv.push_back(WATCHDOG_BIN);
    argv.insert(argv.end(), args.begin(), args.end());
    program_options with_dir = o;
    with_dir.cwd = dir;
    pid_t ns = start_program(argv, dir + "/out", dir + "/err", with_dir);
    *wd = 0;
    wait_until(10, [&] { return (*wd = descendant_named(ns, "watchdog")) != 0; });
    return ns;
  }
  void end_namespace(pid_t ns, pid_t wd) {
    if (wd > 0) kill(wd, SIGCONT);
    if (wd > 0) kill(wd, SIGTERM);
    int status = 0;
    if (!wait_until(15, [&] { return waitpid(ns, &status, WNOHANG) == ns; })) {
      kill(ns, SIGKILL);
      waitpid(ns, &status, 0);
    }
  }
  // The sleepers running under this test's name, zombies not counted (watchdog's own command
  // line names them too, so the name is what counts).
  int living_tokens() {
    int n = 0;
    DIR* proc = opendir("/proc");
    while (dirent* d = proc != nullptr ? readdir(proc) : nullptr) {
      pid_t pid = std::atoi(d->d_name);
      if (pid > 0 && first_line("/proc/" + std::string(d->d_name) + "/comm") == token) n += state_of(pid) != 'Z';
    }
    if (proc != nullptr) closedir(proc);
    return n;
  }
};

TEST_F(WatchdogOwnership, EndsThatComeTogetherAreAllCollectedAtOnce) {
  // Run 1 leaves more orphans than one child signal used to collect, run 2 waits; all of them
  // and run 2's child end together while watchdog is stopped.
  constexpr int orphans = 1500;
  std::string script = "case ${WATCHDOG_COUNT%,*} in 1) sh -c 'i=0; while [ $i -lt " + std::to_string(orphans) +
                       " ]; do " + sleeper + " 100 & i=$((i+1)); done'; exit 0;; 2) echo > ready; exec " + sleeper +
                       " 101;; *) exec " + sleeper + " 102;; esac";
  for (bool as_init : {true, false}) {
    const char* where = as_init ? "as the namespace's first process" : "below a shell";
    pid_t wd = 0;
    pid_t ns = start_in_namespace(as_init, {"-n3", "sh", "-c", script}, &wd);
    ASSERT_GT(wd, 0) << where;
    ASSERT_TRUE(wait_until(60, [&] { return access((dir + "/ready").c_str(), F_OK) == 0 && living_tokens() > orphans; }))
        << where;
    kill(wd, SIGSTOP);
    run_program({"pkill", "-KILL", "-x", token});
    EXPECT_TRUE(wait_until(10, [&] { return living_tokens() == 0; })) << where;
    EXPECT_GT(zombies_of(wd), orphans) << where;
    kill(wd, SIGCONT);
    EXPECT_TRUE(wait_until(2, [&] { return zombies_of(wd) == 0; })) << where << ": " << zombies_of(wd) << " zombies";
    // Run 2's end is seen in the next pass: RESTART after the one-second pause.
    EXPECT_TRUE(wait_until(4, [&] { return count_lines_with(read_file(dir + "/err"), "RESTART(1)") == 2; }))
        << where << "\n" << read_file(dir + "/err");
    end_namespace(ns, wd);
    unlink((dir + "/ready").c_str());
  }
}

TEST_F(WatchdogOwnership, ChildrenThatKeepReForkingLeaveFewZombies) {
  if (run_program({"perl", "-e", "exit 0"}).status != 0) GTEST_SKIP() << "perl is not installed";
  // 32 chains: each process forks once and ends, its child does the same, 100 generations
  // each (at most 3200 pids even if nobody reaped). Run 1 starts them and ends; the runs after
  // it end at once, so watchdog spends its time between runs as well.
  write_file(dir + "/chain.pl", "for (1..100) { my $p = fork; exit 0 if $p; select(undef, undef, undef, 0.005) }\n");
  std::string script = "[ ${WATCHDOG_COUNT%,*} = 1 ] || exit 0; sh -c 'i=0; while [ $i -lt 32 ]; do perl chain.pl & "
                       "i=$((i+1)); done'; echo > ready";
  pid_t wd = 0;
  pid_t ns = start_in_namespace(false, {"sh", "-c", script}, &wd);
  ASSERT_GT(wd, 0);
  ASSERT_TRUE(wait_until(20, [&] { return access((dir + "/ready").c_str(), F_OK) == 0; }));
  int samples = 0, sum = 0;
  wait_until(2, [&] {
    sum += zombies_of(wd);
    ++samples;
    return false;
  });
  end_namespace(ns, wd);
  ASSERT_GT(samples, 0);
  EXPECT_LT(sum / samples, 200) << "zombies on average over " << samples << " samples";
}

}  // namespace

namespace {

class WatchdogAdoptionProof : public E2eTokenTest {};

TEST_F(WatchdogAdoptionProof, NoAdoptionWhenTheAncestorsCannotBeRead) {
  if (run_program({"unshare", "-m", "true"}).status != 0) GTEST_SKIP() << "no mount namespace can be made here (needs root)";
  // The shell asks watchdog to adopt the shell itself, where watchdog cannot see that it is
  // its parent: no /proc at all, or one of another PID namespace.
  std::string adopt_parent = std::string(WATCHDOG_BIN) + " -n1 -m2 -p$$ true; echo \"status $?\"";
  struct {
    const char* what;
    std::vector<std::string> argv;
  } rows[] = {
      {"an empty folder over /proc", {"unshare", "-m", "sh", "-c", "mount --bind \"$0\" /proc && " + adopt_parent, dir}},
      {"the /proc of another PID namespace", {"unshare", "-fp", "sh", "-c", adopt_parent}},
  };
  for (const auto& r : rows) {
    program_options o;
    o.cwd = dir;
    o.timeout_seconds = 20;
    program_result p = run_program(r.argv, o);
    EXPECT_EQ(p.out, "status 1\n") << r.what << ": the shell must live on\n" << p.err;
    EXPECT_EQ(count_lines_with(p.err, "the ancestors of watchdog cannot be read"), 1) << r.what << "\n" << p.err;
    EXPECT_EQ(count_lines_with(p.err, "WATCHDOG START"), 0) << r.what;
  }
}

}  // namespace

namespace {

constexpr const char* held_in_cgroups = "runs held in cgroups of their own below ";

// Both ways a run holds its processes: a cgroup of its own, and the process tree that
// WATCHDOG_NO_CGROUP=1 asks for.
class RunHold : public E2eTokenTest, public ::testing::WithParamInterface<std::string> {
 protected:
  bool cgroups() const { return GetParam() == "cgroup"; }
  void SetUp() override {
    E2eTokenTest::SetUp();
    std::string how = run_program({WATCHDOG_BIN, "-d1", "-n1", "true"}, options()).err;
    how = how.substr(0, how.find('\n'));
    if (cgroups() && how.find(held_in_cgroups) != 0) GTEST_SKIP() << how;
    if (cgroups()) folder = how.substr(std::string(held_in_cgroups).size());
  }
  program_options options() const {
    program_options o;
    o.cwd = dir;
    if (cgroups())
      o.unset.push_back("WATCHDOG_NO_CGROUP");
    else
      o.env.push_back({"WATCHDOG_NO_CGROUP", "1"});
    return o;
  }
  struct outcome {
    int status = -1;
    std::string err;
  };
  // Runs watchdog with `args`; `meanwhile` is called with its pid once it has started. No cgroup
  // of it may be left once it has ended.
  outcome watchdog(std::vector<std::string> args, const std::function<void(pid_t)>& meanwhile = nullptr) {
    args.insert(args.begin(), WATCHDOG_BIN);
    pid_t pid = start_program(args, dir + "/out", dir + "/err", options());
    if (meanwhile) meanwhile(pid);
    int status = 0;
    if (!wait_until(40, [&] { return waitpid(pid, &status, WNOHANG) == pid; })) {
      ADD_FAILURE() << "watchdog did not end";
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
    }
    if (cgroups()) {
      EXPECT_EQ(cgroups_of(pid), "") << "left behind by watchdog";
    }
    outcome o;
    o.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    o.err = read_file(dir + "/err");
    return o;
  }
  std::string cgroups_of(pid_t pid) {
    std::string prefix = "watchdog-" + std::to_string(pid) + "-", names;
    DIR* d = opendir(folder.c_str());
    while (dirent* e = d != nullptr ? readdir(d) : nullptr)
      if (std::string(e->d_name).rfind(prefix, 0) == 0) names += std::string(e->d_name) + " ";
    if (d != nullptr) closedir(d);
    return names;
  }
  // Sends `sig` once the run's output holds `text`.
  void signal_after(pid_t pid, const std::string& text, int sig) {
    EXPECT_TRUE(wait_until(10, [&] { return read_file(dir + "/out").find(text) != std::string::npos; }));
    kill(pid, sig);
  }
  std::string folder;
};

TEST_P(RunHold, TheDebugTraceSaysOnceHowRunsAreHeld) {
  outcome traced = watchdog({"-d1", "-n2", "true"});
  EXPECT_EQ(count_lines_with(traced.err, "runs held "), 1) << traced.err;
  EXPECT_EQ(count_lines_with(traced.err, cgroups() ? held_in_cgroups : "runs held as process trees: cgroups not wanted"),
            1)
      << traced.err;
  EXPECT_EQ(count_lines_with(watchdog({"-n1", "true"}).err, "runs held "), 0);
}

TEST_P(RunHold, EndingARunEndsEverythingItStarted) {
  std::string script = "(setsid " + sleeper + " 301 &); (" + sleeper + " 302 &); echo started; exec " + sleeper + " 303";
  struct {
    const char* what;
    std::vector<std::string> args;
    int signal;  // sent once the run has started (0: none)
    int status;
  } rows[] = {
      {"two hang kills", {"-m1", "-n2"}, 0, 0},
      {"the timeout", {"-t2"}, 0, 99},
      {"a stop", {"-m30"}, SIGTERM, 128 + SIGTERM},
  };
  for (const auto& r : rows) {
    std::vector<std::string> args = r.args;
    args.insert(args.end(), {"sh", "-c", script});
    outcome o = watchdog(args, [&](pid_t pid) {
      if (r.signal != 0) signal_after(pid, "started", r.signal);
    });
    EXPECT_EQ(o.status, r.status) << r.what << "\n" << o.err;
    EXPECT_EQ(count_lines_with(o.err, "can't kill"), 0) << r.what;
    EXPECT_TRUE(wait_until(3, [&] { return leftovers().empty(); })) << r.what << ":\n" << leftovers();
  }
}

TEST_P(RunHold, WhatARunThatEndedByItselfLeftIsSparedByEveryLaterEnd) {
  struct {
    const char* what;
    std::string detach;
  } daemons[] = {
      {"detached before its run ended", "(setsid " + sleeper + " 311 &)"},
      {"detached after its run ended", "(sleep 0.3; exec setsid -f " + sleeper + " 311) &"},
  };
  struct {
    const char* what;
    std::vector<std::string> args;
    int signal;
  } ends[] = {
      {"a hang kill", {"-m1", "-n2"}, 0},
      {"the timeout", {"-t4"}, 0},
      {"a stop", {"-m30"}, SIGTERM},
  };
  for (const auto& d : daemons) {
    // The process tree cannot tell a process that detaches later from one the next run starts.
    if (!cgroups() && d.detach.find("sleep 0.3") != std::string::npos) continue;
    for (const auto& e : ends) {
      std::string what = std::string(d.what) + ", then " + e.what;
      std::string script =
          "if [ ${WATCHDOG_COUNT%,*} = 1 ]; then\n" + d.detach + "\nexit 0\nfi\necho second; exec " + sleeper + " 319";
      std::vector<std::string> args = e.args;
      args.insert(args.end(), {"sh", "-c", script});
      watchdog(args, [&](pid_t pid) {
        if (e.signal != 0) signal_after(pid, "second", e.signal);
      });
      EXPECT_TRUE(wait_until(3, [&] { return count_lines_with(leftovers(), " 319") == 0; })) << what;
      std::string left = leftovers();
      EXPECT_EQ(count_lines_with(left, " 311"), 1) << what << ": the daemon was ended\n" << left;
      run_program({"pkill", "-KILL", "-f", token});
      wait_until(3, [&] {
        while (waitpid(-1, nullptr, WNOHANG) > 0) {
        }
        return leftovers().empty();
      });
    }
  }
}

TEST_P(RunHold, AStopUnderAForkStormEndsWithinTheGrace) {
  if (run_program({"unshare", "-fp", "--mount-proc", "true"}).status != 0)
    GTEST_SKIP() << "no PID namespace can be made here (needs root)";
  // 32 processes that ignore the stop and fork without pause, one child at a time each, in a
  // PID namespace of their own.
  write_file(dir + "/storm.sh", "trap '' TERM INT HUP; while :; do sh -c :; done\n");
  std::string script = "i=0; while [ $i -lt 32 ]; do sh storm.sh & i=$((i+1)); done; echo started; exec " + sleeper + " 320";
  program_options o = options();
  pid_t ns = start_program({"unshare", "-fp", "--mount-proc", "sh", "-c", "\"$0\" \"$@\"; :", WATCHDOG_BIN, "-m60", "sh",
                            "-c", script},
                           dir + "/out", dir + "/err", o);
  pid_t wd = 0;
  ASSERT_TRUE(wait_until(10, [&] { return (wd = descendant_named(ns, "watchdog")) != 0; }));
  ASSERT_TRUE(wait_until(10, [&] { return read_file(dir + "/out") == "started\n"; }));
  auto asked = std::chrono::steady_clock::now();
  kill(wd, SIGTERM);
  int status = 0;
  bool ended = wait_until(60, [&] { return waitpid(ns, &status, WNOHANG) == ns; });
  double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - asked).count();
  if (!ended) {
    kill(ns, SIGKILL);
    waitpid(ns, &status, 0);
  }
  EXPECT_TRUE(ended);
  // The grace of 3 s, the kill and the wait for the cgroup to empty, the exit's bounded drain.
  if (cgroups()) {
    EXPECT_LT(took, 3 + 1 + 1 + 3) << read_file(dir + "/err");
  }
}

INSTANTIATE_TEST_SUITE_P(BothWays, RunHold, ::testing::Values("cgroup", "process_tree"));

}  // namespace
