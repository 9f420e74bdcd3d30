// Faults watchdog must survive: process trees, closed and flooded streams, stubborn children,
// vanishing files, odd adoptions, a reader that goes away, and its own termination.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/e2e/e2e_test.h"

namespace {

class WatchdogFaults : public E2eTokenTest {
 protected:
  program_result watchdog(std::vector<std::string> args, double timeout = 40) {
    args.insert(args.begin(), WATCHDOG_BIN);
    program_options o;
    o.cwd = dir;
    o.timeout_seconds = timeout;
    return run_program(args, o);
  }
  static double cpu_seconds_of_children() {
    struct rusage ru {};
    getrusage(RUSAGE_CHILDREN, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
  }
};

TEST_F(WatchdogFaults, GrandchildThatKeepsThePipesOpenIsEndedWithTheChild) {
  std::string script = "(while :; do echo " + token + "; sleep 0.05; done) & echo KILLME; wait";
  program_result p = watchdog({"-sKILLME", "-n2", "sh", "-c", script});
  EXPECT_EQ(p.status, 0);
  EXPECT_EQ(count_lines_with(p.err, "(error string output)"), 2);
  EXPECT_EQ(count_lines_with(p.err, "END [sh] count:2"), 1);
  EXPECT_LT(p.seconds, 20);
}

TEST_F(WatchdogFaults, ThreeLevelTreeIsEndedWhole) {
  std::string inner = sleeper + " 300";
  std::string script = "sh -c 'sh -c \"" + inner + "\"; :'; :";
  program_result p = watchdog({"-m1", "-n2", "sh", "-c", script});
  EXPECT_EQ(count_lines_with(p.err, "(1 sec no output)"), 2);
  EXPECT_EQ(count_lines_with(p.err, "can't kill"), 0);
  // A pipeline behind a shell: both sides go.
  program_result pipe = watchdog({"-m1", "-n1", "sh", "-c", sleeper + " 301 | cat; :"});
  EXPECT_EQ(count_lines_with(pipe.err, "(1 sec no output)"), 1);
}

TEST_F(WatchdogFaults, ChildClosingStdoutEarlyCostsNoBusyLoop) {
  double before = cpu_seconds_of_children();
  program_result p = watchdog({"-m2", "-n1", "sh", "-c", "exec >&-; " + sleeper + " 30"});
  double cpu = cpu_seconds_of_children() - before;
  EXPECT_EQ(count_lines_with(p.err, "(2 sec no output)"), 1);
  EXPECT_LT(cpu, 1.0) << "over about 4 seconds of supervision";
}

TEST_F(WatchdogFaults, ChildIgnoringTermAndIntIsStillEnded) {
  program_result p = watchdog({"-m1", "-n1", "sh", "-c", "trap '' TERM INT; " + sleeper + " 30"});
  EXPECT_EQ(count_lines_with(p.err, "(1 sec no output)"), 1);
  EXPECT_EQ(count_lines_with(p.err, "can't kill"), 0);
}

TEST_F(WatchdogFaults, SignalDeathFromOutsideIsStatus128PlusN) {
  struct {
    std::string option, signal_name;
  } rows[] = {{"-x137", "KILL"}, {"-x143", "TERM"}, {"-x130", "INT"}};
  for (const auto& r : rows) {
    program_result p = watchdog({r.option, "-n3", "sh", "-c", "kill -" + r.signal_name + " $$"});
    EXPECT_EQ(count_lines_with(p.err, "END [sh] <OK-exitstatus> count:1"), 1) << r.signal_name;
  }
}

TEST_F(WatchdogFaults, FloodOnBothStreamsArrivesWholeAndInOrder) {
  const char* program =
      "BEGIN { for (i = 0; i < 100000; i++) { print \"out \" i; print \"err \" i > \"/dev/stderr\" } }";
  program_result p = watchdog({"-q", "-m5", "-n1", "awk", program});
  std::string want_out, want_err;
  for (int i = 0; i < 100000; ++i) {
    want_out += "out " + std::to_string(i) + "\n";
    want_err += "err " + std::to_string(i) + "\n";
  }
  EXPECT_TRUE(p.out == want_out) << "stdout differs, " << p.out.size() << " bytes of " << want_out.size();
  EXPECT_TRUE(p.err == want_err) << "stderr differs, " << p.err.size() << " bytes of " << want_err.size();
}

TEST_F(WatchdogFaults, WatchedFileThatVanishesAndReturns) {
  write_file(dir + "/beat", "");
  std::string script = "if [ ${WATCHDOG_COUNT%,*} = 1 ]; then rm -f beat; " + sleeper +
                       " 30; else for i in 1 2 3 4 5 6 7 8; do touch beat; sleep 0.4; done; fi";
  program_result p = watchdog({"-m1,beat", "-n2", "sh", "-c", script});
  EXPECT_EQ(count_lines_with(p.err, "file[beat] none"), 1);
  EXPECT_EQ(count_lines_with(p.err, "hung up"), 1);
  EXPECT_EQ(count_lines_with(p.err, "RESTART(5)"), 1);
  EXPECT_EQ(count_lines_with(p.err, "END [sh] count:2"), 1);
}

TEST_F(WatchdogFaults, AdoptedProcessThatEndsDuringTheRun) {
  pid_t victim = start_program({"sleep", "1"}, dir + "/v.out", dir + "/v.err");
  program_result p = watchdog({"-d1", "-m5", "-n1", "-p" + std::to_string(victim), "sh", "-c", "echo started"});
  EXPECT_EQ(count_lines_with(p.err, "process exist A"), 1);
  EXPECT_EQ(count_lines_with(p.err, "RESTART(1)"), 1);
  EXPECT_EQ(p.out, "started\n");
  waitpid(victim, nullptr, 0);
}

TEST_F(WatchdogFaults, AdoptingAProcessThatIsNotOursFails) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run watchdog as another user";
  pid_t victim = start_program({sleeper, "30"}, dir + "/v.out", dir + "/v.err");
  program_result p = run_program({"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", WATCHDOG_BIN, "-q",
                                  "-d1", "-n1", "-p" + std::to_string(victim), "sh", "-c", "echo started"});
  EXPECT_EQ(p.out, "started\n");
  EXPECT_EQ(count_lines_with(p.err, "process exist A"), 0);
  EXPECT_EQ(kill(victim, 0), 0) << "the process was left alone";
  kill(victim, SIGKILL);
  waitpid(victim, nullptr, 0);
}

// A reader that goes away ends watchdog as it ends a pipeline's writer: at once, status 141,
// the run stopped as on SIGTERM, nothing left.
TEST_F(WatchdogFaults, ReaderThatGoesAwayEndsTheSupervisorAsAPipelineWriter) {
  program_options o;
  o.cwd = dir;
  program_result p = run_program(
      {"bash", "-c",
       std::string(WATCHDOG_BIN) + " -m5 yes " + token + " | head -1; echo \"status ${PIPESTATUS[0]}\" >&2"},
      o);
  EXPECT_EQ(p.out, token + "\n");
  EXPECT_NE(p.err.find("ERROR: the reader of standard output has gone: the run is stopped and watchdog ends\n"),
            std::string::npos)
      << p.err;
  EXPECT_NE(p.err.find("status 141\n"), std::string::npos) << p.err;
  EXPECT_LT(p.seconds, 3) << "within a second, with room for a loaded machine";
}

// Every signal that would end watchdog is a stop, passed on to the run, which watchdog names
// before its END; SIGUSR1 and SIGUSR2 reach the child and the run goes on.
TEST_F(WatchdogFaults, TerminationIsForwardedAndNothingIsLeft) {
  struct {
    int sig;
    const char* name;
    bool stops;
  } rows[] = {{SIGTERM, "TERM", true},  {SIGINT, "INT", true},   {SIGHUP, "HUP", true},
              {SIGQUIT, "QUIT", true},  {SIGALRM, "ALRM", true}, {SIGRTMIN + 2, "RTMIN+2", true},
              {SIGUSR1, "USR1", false}, {SIGUSR2, "USR2", false}};
  for (const auto& r : rows) {
    // The child's own trap: the run goes on after a passed-on signal, ends on a stop.
    std::string script = std::string("trap 'echo got ") + r.name + (r.stops ? "; exit 3' " : "' ") + r.name +
                         (r.stops ? "" : "; trap 'exit 3' TERM") + "; echo ready; while :; do sleep 0.1; done # " +
                         token;
    pid_t pid = start_program({WATCHDOG_BIN, "-m30", "sh", "-c", script}, dir + "/out", dir + "/err");
    ASSERT_TRUE(wait_until(10, [&] { return read_file(dir + "/out") == "ready\n"; }));
    kill(pid, r.sig);
    std::string got = std::string("ready\ngot ") + r.name + "\n";
    EXPECT_TRUE(wait_until(10, [&] { return read_file(dir + "/out") == got; }))
        << r.name << ": " << read_file(dir + "/out");
    if (!r.stops) kill(pid, SIGTERM);
    int status = 0;
    ASSERT_TRUE(wait_until(10, [&] { return waitpid(pid, &status, WNOHANG) == pid; })) << r.name;
    int ended_by = r.stops ? r.sig : SIGTERM;
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == ended_by) << r.name << " " << status;
    std::string err = read_file(dir + "/err");
    EXPECT_NE(err.find("WATCHDOG stop by signal " + std::to_string(ended_by) + " (SIG"), std::string::npos) << err;
    EXPECT_LT(err.find("stop by signal"), err.find("WATCHDOG END [sh] count:1")) << err;
    EXPECT_TRUE(wait_until(2, [&] { return leftovers().empty(); })) << leftovers();
  }
  // A child that ignores the signal is killed after the grace wait.
  std::string stubborn = "trap '' TERM; echo ready; while :; do sleep 0.1; done # " + token;
  pid_t pid = start_program({WATCHDOG_BIN, "-m30", "sh", "-c", stubborn}, dir + "/out", dir + "/err");
  ASSERT_TRUE(wait_until(10, [&] { return read_file(dir + "/out") == "ready\n"; }));
  kill(pid, SIGTERM);
  int status = 0;
  ASSERT_TRUE(wait_until(10, [&] { return waitpid(pid, &status, WNOHANG) == pid; }));
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
  EXPECT_TRUE(wait_until(2, [&] { return leftovers().empty(); })) << leftovers();
}

}  // namespace
