// The supervision cycle end to end: real children, real pipes, real clocks (-m1/-t1 sized).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/e2e_test.h"

namespace {

class WatchdogCycle : public E2eTest {
 protected:
  void SetUp() override {
    E2eTest::SetUp();
    dir = make_temp_dir();
  }
  void TearDown() override {
    E2eTest::TearDown();
    remove_tree(dir);
  }

  program_result watchdog(std::vector<std::string> args, program_options options = {}) {
    args.insert(args.begin(), WATCHDOG_BIN);
    if (options.cwd.empty()) options.cwd = dir;
    options.timeout_seconds = 90;
    return run_program(args, options);
  }
  std::string dir;
};

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST_F(WatchdogCycle, ChildSeesCountAndSupervisorPid) {
  program_result p = watchdog({"-n1", "sh", "-c", "echo $WATCHDOG_COUNT $WATCHDOG_PID $PPID"});
  ASSERT_EQ(p.status, 0) << p.err;
  std::istringstream in(p.out);
  std::string count, pid, ppid;
  in >> count >> pid >> ppid;
  EXPECT_EQ(count, "1,0");
  EXPECT_EQ(pid, ppid);
  EXPECT_EQ(count_lines_with(p.err, "****** WATCHDOG START [sh] ******"), 1);
  EXPECT_EQ(count_lines_with(p.err, "****** WATCHDOG END [sh] count:1 ******"), 1);
}

TEST_F(WatchdogCycle, OtherVariableNames) {
  program_result p = watchdog({"-q", "-n1", "-EMY_COUNT", "-PMY_PID", "sh", "-c", "echo $MY_COUNT ${WATCHDOG_COUNT:-unset}"});
  EXPECT_EQ(p.out, "1,0 unset\n");
  EXPECT_EQ(p.err, "");
}

TEST_F(WatchdogCycle, SilenceKillThenRestartSeesTwoTwo) {
  program_result p = watchdog({"-m1", "-n2", "sh", "-c", "echo $WATCHDOG_COUNT; exec sleep 30"});
  EXPECT_EQ(p.status, 0);
  EXPECT_EQ(p.out, "1,0\n2,2\n");
  EXPECT_EQ(count_lines_with(p.err, "****** WATCHDOG --hung up-- (1 sec no output) ******"), 2);
  EXPECT_EQ(count_lines_with(p.err, "****** WATCHDOG RESTART(2) [sh] ******"), 1);
  EXPECT_EQ(count_lines_with(p.err, "****** WATCHDOG END [sh] count:2 ******"), 1);
  EXPECT_LT(p.seconds, 20);
  // The RESTART message is preceded by an empty line; every message starts with a stamp.
  EXPECT_NE(p.err.find("\n\n"), std::string::npos);
  for (const auto& line : lines_of(p.err))
    if (!line.empty()) {
      EXPECT_EQ(line.substr(17, 7), " ******") << line;
    }
}

TEST_F(WatchdogCycle, EndedChildIsRestartedWithReasonOne) {
  program_result p = watchdog({"-n2", "sh", "-c", "echo $WATCHDOG_COUNT"});
  EXPECT_EQ(p.out, "1,0\n2,1\n");
  EXPECT_EQ(count_lines_with(p.err, "RESTART(1) [sh]"), 1);
}

TEST_F(WatchdogCycle, ErrorStringKills) {
  program_result p = watchdog({"-sERR*fail", "-n2", "sh", "-c", "echo $WATCHDOG_COUNT; echo 'ERR: disk fail'; exec sleep 30"});
  EXPECT_EQ(p.out, "1,0\nERR: disk fail\n2,3\nERR: disk fail\n");
  EXPECT_EQ(count_lines_with(p.err, "****** WATCHDOG --hung up-- (error string output) ******"), 2);
  EXPECT_EQ(count_lines_with(p.err, "RESTART(3)"), 1);
}

TEST_F(WatchdogCycle, StandardErrorIsMatchedOnlyWithCapitalS) {
  program_result both = watchdog({"-S", "-sFAIL", "-n1", "sh", "-c", "echo FAIL >&2; exec sleep 30"});
  EXPECT_EQ(both.status, 0);
  EXPECT_EQ(count_lines_with(both.err, "(error string output)"), 1);
  EXPECT_EQ(count_lines_with(both.err, "FAIL"), 1) << "relayed to our stderr";
  program_result out_only = watchdog({"-sFAIL", "-t2", "sh", "-c", "echo FAIL >&2; exec sleep 30"});
  EXPECT_EQ(out_only.status, 99);
  EXPECT_EQ(count_lines_with(out_only.err, "(error string output)"), 0);
}

TEST_F(WatchdogCycle, InvertedPatternKillsWhenTheTextIsMissing) {
  program_result p = watchdog({"-s~alive", "-n1", "sh", "-c", "echo alive; sleep 30"});
  EXPECT_EQ(count_lines_with(p.err, "(error string output)"), 1);
  EXPECT_LT(p.seconds, 15);
}

TEST_F(WatchdogCycle, TimeoutEndsWithItsStatus) {
  struct { std::string option; int status; } rows[] = {{"-t1", 99}, {"-t1,7", 7}};
  for (const auto& r : rows) {
    program_result p = watchdog({r.option, "sh", "-c", "exec sleep 30"});
    EXPECT_EQ(p.status, r.status);
    EXPECT_EQ(count_lines_with(p.err, "****** WATCHDOG timeout (1 sec) [sh] ******"), 1);
    EXPECT_EQ(count_lines_with(p.err, "****** WATCHDOG END [sh] count:1 ******"), 1);
    EXPECT_LT(p.seconds, 10);
  }
}

TEST_F(WatchdogCycle, TimeoutWinsOverAHangInTheSamePass) {
  program_result p = watchdog({"-t2", "-m1", "sh", "-c", "exec sleep 30"});
  // Silence fires first (after more than 1 s); whichever comes, one timeout ends it with 99.
  EXPECT_EQ(p.status, 99);
  EXPECT_EQ(count_lines_with(p.err, "WATCHDOG timeout (2 sec)"), 1);
}

TEST_F(WatchdogCycle, ExitStatusAndExitFileEnds) {
  program_result s = watchdog({"-x", "-n5", "sh", "-c", "exit $(( ${WATCHDOG_COUNT%,*} < 2 ))"});
  EXPECT_EQ(count_lines_with(s.err, "****** WATCHDOG END [sh] <OK-exitstatus> count:2 ******"), 1);
  program_result s3 = watchdog({"-x3", "sh", "-c", "exit 3"});
  EXPECT_EQ(count_lines_with(s3.err, "<OK-exitstatus> count:1"), 1);
  program_result f = watchdog({"-Xdone.flag", "-n5", "sh", "-c", "[ ${WATCHDOG_COUNT%,*} -ge 2 ] && touch done.flag"});
  EXPECT_EQ(count_lines_with(f.err, "****** WATCHDOG END [sh] <OK-exitfile> count:2 ******"), 1);
  // A killed run makes no end test.
  program_result k = watchdog({"-x0", "-m1", "-n2", "sh", "-c", "sleep 30"});
  EXPECT_EQ(count_lines_with(k.err, "END [sh] count:2"), 1);
}

TEST_F(WatchdogCycle, LastOutputOfAnEndingChildIsRelayed) {
  // The child writes far more than one chunk and ends at once: nothing may be lost.
  program_result p = watchdog({"-m5", "-n1", "sh", "-c", "seq 1 20000"});
  std::string want;
  for (int i = 1; i <= 20000; ++i) want += std::to_string(i) + "\n";
  EXPECT_EQ(p.out, want);
}

TEST_F(WatchdogCycle, WhatThePipeHoldsIsRelayedAtAKill) {
  std::string block = "TRIGGER\n";
  for (int i = 0; i < 2000; ++i) block += "line " + std::to_string(i) + "\n";
  write_file(dir + "/block.txt", block);
  program_result p = watchdog({"-sTRIGGER", "-n1", "sh", "-c", "cat block.txt; exec sleep 30"});
  EXPECT_EQ(count_lines_with(p.err, "(error string output)"), 1);
  EXPECT_EQ(p.out, block);
}

TEST_F(WatchdogCycle, WatchedFileAgeAndMissingFile) {
  write_file(dir + "/old.txt", "x");
  ASSERT_EQ(run_program({"touch", "-d", "1 hour ago", dir + "/old.txt"}).status, 0);
  program_result old = watchdog({"-m1,old.txt", "-n1", "sh", "-c", "echo direct; exec sleep 30"});
  EXPECT_EQ(count_lines_with(old.err, "****** WATCHDOG --hung up-- (1 sec file[old.txt] no update) ******"), 1);
  EXPECT_EQ(old.out, "direct\n");
  program_result missing = watchdog({"-m1,gone.txt", "-n1", "sh", "-c", "exec sleep 30"});
  EXPECT_EQ(count_lines_with(missing.err, "gone.txt: No such file or directory"), 1);
  EXPECT_EQ(count_lines_with(missing.err, "****** WATCHDOG --hung up-- (1 sec file[gone.txt] none) ******"), 1);
  // A file kept fresh is no hang.
  program_result fresh = watchdog(
      {"-m2,beat.txt", "-n1", "sh", "-c", "for i in 1 2 3 4 5 6 7 8 9 10 11 12; do touch beat.txt; sleep 0.3; done"});
  EXPECT_EQ(count_lines_with(fresh.err, "hung up"), 0);
}

TEST_F(WatchdogCycle, StandardErrorCountsAsOutputWithCapitalM) {
  const char* script = "for i in 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16; do echo tick >&2; sleep 0.3; done";
  program_result both = watchdog({"-M", "-m2", "-n1", "sh", "-c", script});
  EXPECT_EQ(count_lines_with(both.err, "hung up"), 0);
  EXPECT_EQ(count_lines_with(both.err, "tick"), 16);
  program_result out_only = watchdog({"-m2", "-n1", "sh", "-c", script});
  EXPECT_EQ(count_lines_with(out_only.err, "(2 sec no output)"), 1);
}

TEST_F(WatchdogCycle, AdoptsARunningProcessThenStartsTheCommand) {
  pid_t victim = start_program({"sleep", "30"}, dir + "/v.out", dir + "/v.err");
  ASSERT_GT(victim, 0);
  program_result p = watchdog({"-d1", "-m1", "-n1", "-p" + std::to_string(victim), "sh", "-c", "echo started $WATCHDOG_COUNT"});
  int status = 0;
  ASSERT_EQ(waitpid(victim, &status, 0), victim);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the adopted process was killed";
  EXPECT_EQ(count_lines_with(p.err, "check process (" + std::to_string(victim) + ")"), 1);
  EXPECT_EQ(count_lines_with(p.err, "process exist A"), 1);
  EXPECT_EQ(count_lines_with(p.err, "(1 sec no output)"), 1);
  EXPECT_EQ(p.out, "started 1,2\n");
  EXPECT_EQ(count_lines_with(p.err, "END [sh] count:1"), 1);
  // A pid that does not exist: the command is started, silently.
  program_result none = watchdog({"-q", "-n1", "-p999999", "sh", "-c", "echo started"});
  EXPECT_EQ(none.out, "started\n");
  EXPECT_EQ(none.err, "");
}

TEST_F(WatchdogCycle, QuietAndDebugTraces) {
  program_result q = watchdog({"-q", "-m1", "-n1", "sh", "-c", "exec sleep 30"});
  EXPECT_EQ(q.err, "");
  program_result d = watchdog({"-q", "-d2", "-n1", "-m5", "sh", "-c", "echo hi >&2; sleep 1"});
  EXPECT_EQ(count_lines_with(d.err, "[ 0] sh"), 1);
  EXPECT_EQ(count_lines_with(d.err, "[ 2] \"echo hi >&2; sleep 1\""), 1);
  EXPECT_EQ(count_lines_with(d.err, "pid: "), 1);
  EXPECT_GE(count_lines_with(d.err, "select ... "), 1);
  EXPECT_GE(count_lines_with(d.err, "errfd:"), 1);
  EXPECT_NE(d.err.find("|hi\n|\n"), std::string::npos);
  EXPECT_NE(d.err.find(" is valid\n"), std::string::npos);
}

TEST_F(WatchdogCycle, NoDescriptorLeakNoZombieAcrossRuns) {
  // Each child reports the supervisor's descriptor count, its own descriptors, and the
  // supervisor's zombie children (the killed one before it must be gone). It waits a moment
  // first, so the supervisor has closed the pipe ends it handed over.
  const char* script =
      "sleep 0.3; echo fds $(ls /proc/$WATCHDOG_PID/fd | wc -l) own $(ls /proc/self/fd | wc -l) "
      "zombies $(ps --ppid $WATCHDOG_PID -o stat= | grep -c Z); "
      "[ $(( ${WATCHDOG_COUNT%,*} % 2 )) = 0 ] && exec sleep 30; exit 0";
  program_result p = watchdog({"-q", "-m1", "-n20", "sh", "-c", script});
  auto lines = lines_of(p.out);
  ASSERT_EQ(lines.size(), 20u) << p.out;
  for (const auto& line : lines) {
    EXPECT_EQ(line.substr(0, line.find(" own")), lines[0].substr(0, lines[0].find(" own"))) << line;
    EXPECT_NE(line.find(" own 4 "), std::string::npos) << "only 0-2 and ls's own: " << line;
    EXPECT_NE(line.find("zombies 0"), std::string::npos) << line;
  }
}

}  // namespace

namespace {

// Start times, in seconds of the system's uptime, that each child appended to `path`.
std::vector<double> start_times(const std::string& path) {
  std::vector<double> times;
  std::istringstream in(read_file(path));
  for (double t; in >> t;) times.push_back(t);
  return times;
}

const std::string note_start = "cut -d' ' -f1 /proc/uptime >> starts; ";

TEST_F(WatchdogCycle, RestartPauseGrowsWithWAndStartsAgainAfterALongRun) {
  struct row {
    std::vector<std::string> args;
    std::string script;
    std::vector<double> gaps;     // seconds between one start and the next
    std::vector<int> pause_lines; // the pauses said on stderr
  } rows[] = {
      {{"-w8", "-n5"}, "exit 1", {1, 2, 4, 8}, {2, 4, 8}},
      // The third run lasts the maximum: the sequence starts again at one second.
      {{"-w2", "-n4"}, "[ ${WATCHDOG_COUNT%,*} = 3 ] && sleep 2.3; exit 1", {1, 2, 2.3 + 1}, {2}},
      {{"-n3"}, "exit 1", {1, 1}, {}},
  };
  for (const auto& r : rows) {
    std::remove((dir + "/starts").c_str());
    std::vector<std::string> args = r.args;
    args.insert(args.end(), {"sh", "-c", note_start + r.script});
    program_result p = watchdog(args);
    std::string what = r.args[0];
    EXPECT_EQ(p.status, 0) << what;
    std::vector<double> starts = start_times(dir + "/starts");
    ASSERT_EQ(starts.size(), r.gaps.size() + 1) << what;
    for (std::size_t i = 0; i < r.gaps.size(); ++i) {
      double gap = starts[i + 1] - starts[i];
      EXPECT_GE(gap, r.gaps[i] - 0.05) << what << ", pause " << i + 1;
      EXPECT_LE(gap, r.gaps[i] + 1.0) << what << ", pause " << i + 1;
    }
    EXPECT_EQ(count_lines_with(p.err, "WATCHDOG restart pause"), static_cast<int>(r.pause_lines.size())) << p.err;
    for (int sec : r.pause_lines)
      EXPECT_EQ(count_lines_with(p.err, "WATCHDOG restart pause (" + std::to_string(sec) + " sec) [sh]"), 1) << p.err;
  }
}

TEST_F(WatchdogCycle, StopEndsAGrowingPauseAtOnce) {
  pid_t pid = start_program({WATCHDOG_BIN, "-w8", "sh", "-c", "exit 1"}, dir + "/out", dir + "/err");
  ASSERT_TRUE(wait_until(20, [&] { return count_lines_with(read_file(dir + "/err"), "restart pause (4 sec)") == 1; }));
  auto asked = std::chrono::steady_clock::now();
  kill(pid, SIGTERM);
  int status = 0;
  ASSERT_TRUE(wait_until(10, [&] { return waitpid(pid, &status, WNOHANG) == pid; }));
  double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - asked).count();
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
  EXPECT_LT(took, 1.5) << "the 4-second pause held the stop";
}

TEST_F(WatchdogCycle, NoRunStartsAfterTheDeadline) {
  struct row {
    std::vector<std::string> args;
    std::string script;
    int runs;
    double at_least, below;  // seconds
  } rows[] = {
      {{"-t2"}, "sleep 1.5", 1, 2, 2.9},           // the deadline falls in the pause
      {{"-t4", "-w8"}, "exit 1", 3, 4, 4.9},        // ... in a grown pause (starts at 0, 1, 3)
      {{"-t2", "-m1"}, "exec sleep 30", 1, 2, 3.9},  // after a hang kill
  };
  for (const auto& r : rows) {
    std::vector<std::string> args = r.args;
    args.insert(args.end(), {"sh", "-c", r.script});
    program_result p = watchdog(args);
    std::string what = r.args[0] + " " + r.script;
    EXPECT_EQ(p.status, 99) << what;
    EXPECT_EQ(count_lines_with(p.err, "WATCHDOG timeout (" + r.args[0].substr(2) + " sec) [sh]"), 1) << what;
    EXPECT_EQ(count_lines_with(p.err, "END [sh] count:" + std::to_string(r.runs) + " "), 1) << what << "\n" << p.err;
    EXPECT_GE(p.seconds, r.at_least) << what;
    EXPECT_LT(p.seconds, r.below) << what;
  }
}

TEST_F(WatchdogCycle, LaterStartsThatFailForAPassingReasonAreRetried) {
  // The first run waits for the test, which then makes the program unstartable; once the
  // failed start is said, it makes it startable again.
  const std::string job = dir + "/job";
  int writer = -1;
  struct row {
    const char* what;
    std::function<void()> break_it, mend_it;
    const char* error;
    int status;  // 0: retried until a run met -x; 1: ended at the failed start
  } rows[] = {
      {"program missing", [&] { rename(job.c_str(), (job + ".new").c_str()); },
       [&] { rename((job + ".new").c_str(), job.c_str()); }, "./job: No such file or directory", 0},
      {"program being written", [&] { writer = open(job.c_str(), O_WRONLY | O_CLOEXEC); },
       [&] { close(writer); }, "./job: Text file busy", 0},
      {"program not executable", [&] { chmod(job.c_str(), 0644); }, [] {}, "./job: Permission denied", 1},
  };
  for (const auto& r : rows) {
    write_file(job, "#!/bin/sh\necho run $WATCHDOG_COUNT\n"
                    "if [ ${WATCHDOG_COUNT%,*} = 1 ]; then while [ ! -e go ]; do sleep 0.05; done; exit 1; fi\n",
               true);
    std::remove((dir + "/go").c_str());
    program_options o;
    o.cwd = dir;
    pid_t pid = start_program({WATCHDOG_BIN, "-x", "-n30", "./job"}, dir + "/out", dir + "/err", o);
    ASSERT_TRUE(wait_until(10, [&] { return read_file(dir + "/out") == "run 1,0\n"; })) << r.what;
    r.break_it();
    write_file(dir + "/go", "");
    EXPECT_TRUE(wait_until(10, [&] { return count_lines_with(read_file(dir + "/err"), r.error) > 0; })) << r.what;
    r.mend_it();
    int status = 0;
    ASSERT_TRUE(wait_until(20, [&] { return waitpid(pid, &status, WNOHANG) == pid; })) << r.what;
    std::string err = read_file(dir + "/err");
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == r.status) << r.what << "\n" << err;
    if (r.status == 0) {
      EXPECT_EQ(count_lines_with(err, "END [./job] <OK-exitstatus> count:"), 1) << r.what << "\n" << err;
      EXPECT_EQ(read_file(dir + "/out").find("run 2,1\n"), std::string::npos) << "the failed start was no run";
    } else {
      EXPECT_EQ(count_lines_with(err, "END"), 0) << r.what << "\n" << err;
    }
  }
}

}  // namespace
