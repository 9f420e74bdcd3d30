// The supervision cycle end to end: real children, real pipes, real clocks (-m1/-t1 sized).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/e2e_test.h"

namespace {

class WatchdogCycle : public E2eDirTest {
 protected:
  program_result watchdog(std::vector<std::string> args, program_options options = {}) {
    args.insert(args.begin(), WATCHDOG_BIN);
    if (options.cwd.empty()) options.cwd = dir;
    options.timeout_seconds = 90;
    return run_program(args, options);
  }
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
  program_result p =
      watchdog({"-q", "-n1", "-EMY_COUNT", "-PMY_PID", "sh", "-c", "echo $MY_COUNT ${WATCHDOG_COUNT:-unset}"});
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

// Each run's end is said: how the child ended, or that the run was killed or timed out, or
// could not start; -k asks first with its signal, and kills what is left after its grace.
TEST_F(WatchdogCycle, EachRunsEndIsSaid) {
  const std::string trap = "trap 'echo asked; exit 4' TERM; echo up; while :; do sleep 0.1; done";
  struct {
    std::vector<std::string> args;
    const char* line;
    const char* out;
    double min_seconds;
  } rows[] = {
      {{"-n1", "sh", "-c", "exit 3"}, "run ended (exit status 3)", "", 0},
      {{"-n1", "sh", "-c", "kill -SEGV $$"}, "run ended (killed by signal 11", "", 0},
      {{"-m1", "-n1", "sh", "-c", "exec sleep 30"}, "run ended (hang kill)", "", 0},
      {{"-t1", "sh", "-c", "exec sleep 30"}, "run ended (timeout)", "", 0},
      {{"-n1", "/nonexistent/prog"}, "run ended (could not start: No such file or directory)", "", 0},
      {{"-m1", "-k3", "-n1", "sh", "-c", trap}, "run ended (hang kill)", "up\nasked\n", 0},
      {{"-m1", "-k3", "-n1", "sh", "-c", "trap '' TERM; echo up; exec sleep 30"}, "run ended (hang kill)", "up\n", 3},
      {{"-t1", "-k3,10", "sh", "-c", "trap 'echo usr1; exit' USR1; echo up; while :; do sleep 0.1; done"},
       "run ended (timeout)",
       "up\nusr1\n",
       0},
  };
  for (const auto& r : rows) {
    program_result p = watchdog(r.args);
    EXPECT_EQ(count_lines_with(p.err, std::string("****** WATCHDOG ") + r.line), 1) << r.args.back() << p.err;
    EXPECT_LT(p.err.find(r.line), p.err.find("WATCHDOG END")) << p.err;
    EXPECT_EQ(p.out, r.out) << r.args.back();
    EXPECT_GE(p.seconds, r.min_seconds) << r.args.back() << ": the -k grace";
    EXPECT_EQ(count_lines_with(p.err, "can't kill"), 0) << r.args.back();
  }
}

TEST_F(WatchdogCycle, EndedChildIsRestartedWithReasonOne) {
  program_result p = watchdog({"-n2", "sh", "-c", "echo $WATCHDOG_COUNT"});
  EXPECT_EQ(p.out, "1,0\n2,1\n");
  EXPECT_EQ(count_lines_with(p.err, "RESTART(1) [sh]"), 1);
}

TEST_F(WatchdogCycle, ErrorStringKills) {
  program_result p =
      watchdog({"-sERR*fail", "-n2", "sh", "-c", "echo $WATCHDOG_COUNT; echo 'ERR: disk fail'; exec sleep 30"});
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
  struct {
    std::string option;
    int status;
  } rows[] = {{"-t1", 99}, {"-t1,7", 7}};
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
  program_result p =
      watchdog({"-d1", "-m1", "-n1", "-p" + std::to_string(victim), "sh", "-c", "echo started $WATCHDOG_COUNT"});
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
  // -m2: a child on a loaded machine has time to write its line before it counts as silent.
  program_result p = watchdog({"-q", "-m2", "-n10", "sh", "-c", script});
  auto lines = lines_of(p.out);
  ASSERT_EQ(lines.size(), 10u) << p.out;
  for (const auto& line : lines) {
    EXPECT_EQ(line.substr(0, line.find(" own")), lines[0].substr(0, lines[0].find(" own"))) << line;
    EXPECT_NE(line.find(" own 4 "), std::string::npos) << "only 0-2 and ls's own: " << line;
    EXPECT_NE(line.find("zombies 0"), std::string::npos) << line;
  }
}

TEST_F(WatchdogCycle, RestartPausesAndTheDeadline) {
  // Each child notes its start (seconds of uptime), so the pauses between starts are measured.
  struct row {
    std::vector<std::string> args;
    std::string script;
    int status, pause_lines;
    std::vector<double> gaps;  // seconds from one start to the next
  } rows[] = {
      {{"-w8", "-n5"}, "exit 1", 0, 3, {1, 2, 4, 8}},
      {{"-w2", "-n4"}, "[ ${WATCHDOG_COUNT%,*} = 3 ] && sleep 2.3; exit 1", 0, 1, {1, 2, 2.3 + 1}},  // a long run
      {{"-t2"}, "sleep 1.5", 99, 0, {}},          // the deadline falls in the pause: no run starts
      {{"-t4", "-w8"}, "exit 1", 99, 2, {1, 2}},  // ... in a grown pause
  };
  for (const auto& r : rows) {
    std::remove((dir + "/starts").c_str());
    std::vector<std::string> args = r.args;
    args.insert(args.end(), {"sh", "-c", "cut -d' ' -f1 /proc/uptime >> starts; " + r.script});
    program_result p = watchdog(args);
    EXPECT_EQ(p.status, r.status) << r.args[0];
    EXPECT_EQ(count_lines_with(p.err, "WATCHDOG restart pause ("), r.pause_lines) << p.err;
    EXPECT_EQ(count_lines_with(p.err, "WATCHDOG timeout"), r.status == 99 ? 1 : 0) << p.err;
    std::istringstream in(read_file(dir + "/starts"));
    std::vector<double> starts{std::istream_iterator<double>(in), std::istream_iterator<double>()};
    ASSERT_EQ(starts.size(), r.gaps.size() + 1) << r.args[0] << "\n" << p.err;
    for (std::size_t i = 0; i < r.gaps.size(); ++i) {
      double gap = starts[i + 1] - starts[i];
      EXPECT_TRUE(gap >= r.gaps[i] - 0.05 && gap <= r.gaps[i] + 1.0) << r.args[0] << ", pause " << i + 1 << ": " << gap;
    }
    if (r.status == 99) {
      EXPECT_LT(p.seconds, std::stoi(r.args[0].substr(2)) + 0.9) << "declared at the deadline";
    }
  }
  // A stop request ends a long pause at once.
  pid_t pid = start_program({WATCHDOG_BIN, "-w8", "sh", "-c", "exit 1"}, dir + "/out", dir + "/err");
  ASSERT_TRUE(wait_until(20, [&] { return count_lines_with(read_file(dir + "/err"), "restart pause (4 sec)") == 1; }));
  kill(pid, SIGTERM);
  int status = 0;
  EXPECT_TRUE(wait_until(1.5, [&] { return waitpid(pid, &status, WNOHANG) == pid; })) << "the pause held the stop";
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
}

TEST_F(WatchdogCycle, LaterStartsThatFailForAPassingReasonAreRetried) {
  // The first run waits until the test has made the program unstartable; the test mends it
  // once the failed start is said.
  const std::string job = dir + "/job", moved = dir + "/job.new";
  int writer = -1;
  program_options in_dir;
  in_dir.cwd = dir;
  struct row {
    std::function<void()> break_it, mend_it;
    const char* error;
    int status;  // 0: retried until a run met -x; 1: a reason that does not pass ends it
  } rows[] = {
      {[&] { rename(job.c_str(), moved.c_str()); }, [&] { rename(moved.c_str(), job.c_str()); }, "No such file", 0},
      {[&] { writer = open(job.c_str(), O_WRONLY | O_CLOEXEC); }, [&] { close(writer); }, "Text file busy", 0},
      {[&] { chmod(job.c_str(), 0644); }, [] {}, "Permission denied", 1},
  };
  for (const auto& r : rows) {
    write_file(job,
               "#!/bin/sh\necho $WATCHDOG_COUNT; [ ${WATCHDOG_COUNT%,*} = 1 ] || exit 0\n"
               "while [ ! -e go ]; do sleep 0.05; done; rm go; exit 1\n",
               true);
    pid_t pid = start_program({WATCHDOG_BIN, "-x", "-n30", "./job"}, dir + "/out", dir + "/err", in_dir);
    ASSERT_TRUE(wait_until(10, [&] { return read_file(dir + "/out") == "1,0\n"; })) << r.error;
    r.break_it();
    write_file(dir + "/go", "");
    EXPECT_TRUE(wait_until(10, [&] { return count_lines_with(read_file(dir + "/err"), r.error) > 0; })) << r.error;
    r.mend_it();
    int status = 0;
    ASSERT_TRUE(wait_until(20, [&] { return waitpid(pid, &status, WNOHANG) == pid; })) << r.error;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == r.status) << read_file(dir + "/err");
    EXPECT_EQ(count_lines_with(read_file(dir + "/err"), "END [./job] <OK-exitstatus>"), r.status == 0 ? 1 : 0);
  }
}

}  // namespace
