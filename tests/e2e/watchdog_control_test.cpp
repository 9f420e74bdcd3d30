// watchdog staying in control: of its own output (a stalled or non-blocking reader), of time
// (the time of day stepped under it), of every process a run started, of what it may adopt,
// and of its exit status when an end condition is never met.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/e2e_test.h"

extern char** environ;

namespace {

const char* faketime_library = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1";

class WatchdogControl : public E2eTokenTest {
 protected:
  program_result watchdog(std::vector<std::string> args, program_options o = {}) {
    args.insert(args.begin(), WATCHDOG_BIN);
    o.cwd = dir;
    if (o.timeout_seconds == 60) o.timeout_seconds = 40;
    return run_program(args, o);
  }
  static bool ended_by(pid_t pid, double seconds, int* status) {
    return wait_until(seconds, [&] { return waitpid(pid, status, WNOHANG) == pid; });
  }
};

// A fifo with a reader that never reads: whatever is written to it stalls once it is full.
struct stalled_fifo {
  std::string path;
  int reader = -1;
  explicit stalled_fifo(const std::string& p) : path(p) {
    mkfifo(path.c_str(), 0600);
    reader = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  }
  ~stalled_fifo() { close(reader); }
};

// Starts `words` with its standard output on `out_fd` (and everything else inherited), in
// `cwd` when given; returns its pid, or -1.
pid_t spawn_with_stdout(std::vector<std::string> words, int out_fd, const char* cwd = nullptr) {
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, out_fd, 1);
  if (cwd != nullptr) posix_spawn_file_actions_addchdir_np(&fa, cwd);
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&fa);
  return pid;
}

TEST_F(WatchdogControl, StalledReaderLeavesTimeoutAndStopSignalsWorking) {
  stalled_fifo fifo(dir + "/stuck.fifo");
  ASSERT_GE(fifo.reader, 0);
  std::string burst = "yes 'a line of output that nobody reads' | head -c 3000000; exec " + sleeper + " 60";
  // -t fires on time although our stdout takes nothing.
  auto start = std::chrono::steady_clock::now();
  pid_t pid = start_program({WATCHDOG_BIN, "-m3", "-t2,7", "sh", "-c", burst}, fifo.path, dir + "/err");
  int status = 0;
  ASSERT_TRUE(ended_by(pid, 15, &status)) << "frozen by its own output";
  double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 7);
  EXPECT_LT(took, 5.5);
  EXPECT_EQ(count_lines_with(read_file(dir + "/err"), "WATCHDOG timeout (2 sec)"), 1);
  EXPECT_TRUE(wait_until(3, [&] { return leftovers().empty(); })) << leftovers();

  // Every stop signal ends it within the grace and a second, with nothing left behind. The
  // fifo is full from the burst above; the child writes more than its own pipe holds (64 KiB)
  // and less than that and our backlog together, so once it is done our backlog holds the
  // rest, which can only be dropped.
  const std::string written = dir + "/written";
  const std::string short_burst =
      "yes 'a line of output that nobody reads' | head -c 100000; touch " + written + "; exec " + sleeper + " 60";
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
    unlink(written.c_str());
    pid = start_program({WATCHDOG_BIN, "-m30", "sh", "-c", short_burst}, fifo.path, dir + "/err");
    ASSERT_TRUE(wait_until(10, [&] { return access(written.c_str(), F_OK) == 0; }));
    auto asked = std::chrono::steady_clock::now();
    kill(pid, sig);
    ASSERT_TRUE(ended_by(pid, 10, &status)) << "signal " << sig << " ignored";
    double stop_took = std::chrono::duration<double>(std::chrono::steady_clock::now() - asked).count();
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << sig;
    EXPECT_LT(stop_took, 3 + 1 + 1.5) << "grace + 1 s, and the exit's own bounded drain";
    EXPECT_EQ(count_lines_with(read_file(dir + "/err"), "bytes of standard output were dropped"), 1) << sig;
    EXPECT_TRUE(wait_until(3, [&] { return leftovers().empty(); })) << leftovers();
  }
}

TEST_F(WatchdogControl, StalledReaderSilenceAndLoss) {
  // Our stdout takes nothing: once our backlog is full the child's pipe is left unread. A child
  // that then writes nothing is silent; one that waits to write to us is not. What cannot be
  // relayed in the end is said in one line, and it is all that did not arrive.
  stalled_fifo fifo(dir + "/stuck.fifo");
  const std::string silent = "head -c 150000 /dev/zero; exec " + sleeper + " 300";
  struct row {
    std::vector<std::string> args;
    std::string script;
    int status;
    double hung_by, at_least, below;  // seconds: a hang seen by then (0: none); the run's length
  } rows[] = {
      {{"-m2", "-n1"}, silent, 0, 5, 10, 15},  // then 10 s without taking anything at the end
      {{"-m1", "-t2"}, silent, 99, 0, 2, 5},
      {{"-m1", "-t4,7"}, "yes | head -c 3000000", 7, 0, 4, 7},
      {{"-m1", "-t4,7"}, "while :; do head -c 3000 /dev/zero; done", 7, 0, 4, 7},  // pipe full at 48000 bytes
  };
  for (const auto& r : rows) {
    std::vector<std::string> args = r.args;
    args.insert(args.begin(), WATCHDOG_BIN);
    args.insert(args.end(), {"sh", "-c", r.script});
    auto start = std::chrono::steady_clock::now();
    auto seconds = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
    pid_t pid = start_program(args, fifo.path, dir + "/err");
    int status = 0;
    if (r.hung_by > 0) {
      EXPECT_TRUE(wait_until(15, [&] { return count_lines_with(read_file(dir + "/err"), "hung up") == 1; }));
      EXPECT_LT(seconds(), r.hung_by) << r.script;
    }
    ASSERT_TRUE(ended_by(pid, 30, &status));
    EXPECT_TRUE(seconds() >= r.at_least && seconds() < r.below) << r.script << ": " << seconds();
    std::string err = read_file(dir + "/err");
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == r.status) << err;
    EXPECT_EQ(count_lines_with(err, "hung up"), r.hung_by > 0 ? 1 : 0) << err;
    std::size_t arrived = 0;
    char buf[65536];
    for (ssize_t n; (n = read(fifo.reader, buf, sizeof buf)) > 0;) arrived += static_cast<std::size_t>(n);
    std::string line = "ERROR: " + std::to_string(150000 - arrived) +
                       " bytes of standard output were dropped: its reader did not take them in time";
    if (r.script == silent) {
      EXPECT_EQ(count_lines_with(err, line), 1) << err;
    }
    EXPECT_TRUE(wait_until(3, [&] { return leftovers().empty(); })) << leftovers();
  }
}

TEST_F(WatchdogControl, OutputIsRelayedWholeOrItsLossSaid) {
  // A child that enlarges its stdout pipe to 1 MiB and fills it before it ends; a reader that
  // is busy elsewhere for 3 s once 150000 bytes are left, more than a pipe holds; one that goes.
  write_file(dir + "/big.pl", "use Fcntl; fcntl(STDOUT, 1031, 1 << 20) or die; print 'x' x (1 << 20);\n");
  const std::string w = std::string(WATCHDOG_BIN) + " -q -m5 -n1 ";
  program_options in_dir;
  in_dir.cwd = dir;
  struct row {
    std::string command, out, err;
  } rows[] = {
      {w + "perl big.pl | wc -c", "1048576\n", ""},
      {w + "head -c 3000000 /dev/zero | { head -c 2850000 >/dev/null; sleep 3; wc -c; }", "150000\n", ""},
      {w + "seq 1 200000 | head -c 4", "1\n2\n", "bytes of standard output were dropped: its reader has gone"},
  };
  for (const auto& r : rows) {
    program_result p = run_program({"sh", "-c", r.command}, in_dir);
    EXPECT_EQ(p.out, r.out) << r.command;
    EXPECT_EQ(r.err.empty() ? p.err.size() : count_lines_with(p.err, r.err), r.err.empty() ? 0u : 1u) << p.err;
  }
}

TEST_F(WatchdogControl, NonBlockingStdoutReceivesEveryByte) {
  int p[2];
  ASSERT_EQ(pipe2(p, O_CLOEXEC), 0);
  fcntl(p[1], F_SETFL, fcntl(p[1], F_GETFL) | O_NONBLOCK);  // as an inherited non-blocking stdout
  fcntl(p[0], F_SETPIPE_SZ, 4096);
  std::string script = "i=0; while [ $i -lt 200 ]; do head -c 10000 /dev/zero | tr '\\0' x; i=$((i+1)); done";
  pid_t pid = spawn_with_stdout({WATCHDOG_BIN, "-q", "-m5", "-n1", "sh", "-c", script}, p[1]);
  ASSERT_GT(pid, 0);
  close(p[1]);
  // A slow reader at first, so the pipe is full again and again.
  std::string got;
  char buf[65536];
  for (;;) {
    if (got.size() < 200000) usleep(2000);
    ssize_t n = read(p[0], buf, got.size() < 200000 ? 512 : sizeof buf);
    if (n <= 0) break;
    got.append(buf, static_cast<std::size_t>(n));
  }
  close(p[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(got.size(), 2000000u);
  EXPECT_EQ(got.find_first_not_of('x'), std::string::npos);
}

class TimeOfDayStep : public WatchdogControl, public ::testing::WithParamInterface<const char*> {};

TEST_P(TimeOfDayStep, NeitherFiresNorHides) {
  if (access(faketime_library, R_OK) != 0) GTEST_SKIP() << "libfaketime is not installed";
  std::string clock_file = dir + "/faketime";
  struct row {
    const char* what;
    std::vector<std::string> args;
    std::string script;  // STEP is replaced by the step written into the clock file mid-run
    int status;
    const char* must_see;      // a line that must appear (or "")
    const char* must_not_see;  // a text that must not appear
    double at_most;            // seconds
  };
  const std::string step_now = "echo STEP > " + clock_file + "; ";
  const std::string ticking = "i=0; while [ $i -lt 10 ]; do echo tick; sleep 0.4; i=$((i+1)); done";
  const std::string beating = "i=0; while [ $i -lt 10 ]; do touch beat; sleep 0.4; i=$((i+1)); done";
  std::vector<row> rows = {
      {"healthy output", {"-m2", "-n1"}, "echo go; " + step_now + ticking, 0, "", "hung up", 15},
      {"real silence",
       {"-m2", "-n1"},
       "echo go; " + step_now + "exec " + sleeper + " 60",
       0,
       "(2 sec no output)",
       "timeout",
       2 + 2 + 2},
      {"timeout on time",
       {"-t2"},
       step_now + "exec " + sleeper + " 60",
       99,
       "WATCHDOG timeout (2 sec)",
       "hung up",
       2 + 2},
      {"no early timeout", {"-t600", "-n1"}, step_now + "sleep 2", 0, "", "timeout", 15},
      {"fresh heartbeat", {"-m2,beat", "-n1"}, "touch beat; " + step_now + beating, 0, "", "hung up", 15},
      {"stale heartbeat",
       {"-m2,beat", "-n1"},
       "touch beat; " + step_now + "exec " + sleeper + " 60",
       0,
       "(2 sec file[beat] no update)",
       "timeout",
       2 + 2 + 2},
  };
  {
    const char* step = GetParam();
    for (const auto& r : rows) {
      write_file(clock_file, "+0\n");
      std::string script = r.script;
      script.replace(script.find("STEP"), 4, step);
      std::vector<std::string> args = r.args;
      args.insert(args.end(), {"sh", "-c", script});
      program_options o;
      o.env = {{"LD_PRELOAD", faketime_library},
               {"FAKETIME_TIMESTAMP_FILE", clock_file},
               {"FAKETIME_NO_CACHE", "1"},
               {"DONT_FAKE_MONOTONIC", "1"}};
      // A sanitizer build wants its runtime loaded first; the preloaded clock comes before it.
      const char* asan = getenv("ASAN_OPTIONS");
      o.env.push_back({"ASAN_OPTIONS", std::string(asan ? asan : "") + ":verify_asan_link_order=0"});
      program_result p = watchdog(args, o);
      std::string what = std::string(r.what) + " with a step of " + step;
      EXPECT_EQ(p.status, r.status) << what << "\n" << p.err;
      if (*r.must_see) {
        EXPECT_EQ(count_lines_with(p.err, r.must_see), 1) << what << "\n" << p.err;
      }
      EXPECT_EQ(p.err.find(r.must_not_see), std::string::npos) << what << "\n" << p.err;
      EXPECT_LT(p.seconds, r.at_most) << what;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(ForwardAndBack, TimeOfDayStep, ::testing::Values("+1h", "-1h"));

TEST_F(WatchdogControl, DetachedAndDoubleForkedDescendantsEndWithTheRun) {
  // The child detaches one grandchild into its own session and double-forks another, both
  // re-parented to us once their parents are gone, then hangs.
  std::string script =
      "(setsid " + sleeper + " 301 &); (" + sleeper + " 302 &); echo started; exec " + sleeper + " 303";
  struct row {
    const char* what;
    std::vector<std::string> args;
    int status;
    int kills;
  };
  std::vector<row> rows = {
      {"five hang kills", {"-m1", "-n5"}, 0, 5},
      {"a timeout", {"-t2"}, 99, 0},
  };
  for (const auto& r : rows) {
    std::vector<std::string> args = r.args;
    args.insert(args.end(), {"sh", "-c", script});
    program_result p = watchdog(args);
    EXPECT_EQ(p.status, r.status) << r.what;
    EXPECT_EQ(count_lines_with(p.err, "(1 sec no output)"), r.kills) << r.what;
    EXPECT_EQ(count_lines_with(p.err, "can't kill"), 0) << r.what;
    EXPECT_TRUE(wait_until(3, [&] { return leftovers().empty(); })) << r.what << ":\n" << leftovers();
  }
  // A stop request: the same, after the grace.
  pid_t pid = start_program({WATCHDOG_BIN, "-m30", "sh", "-c", script}, dir + "/out", dir + "/err");
  ASSERT_TRUE(wait_until(10, [&] { return read_file(dir + "/out") == "started\n"; }));
  ASSERT_TRUE(wait_until(5, [&] { return count_lines_with(leftovers(), token) >= 3; })) << leftovers();
  kill(pid, SIGTERM);
  int status = 0;
  ASSERT_TRUE(ended_by(pid, 10, &status));
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
  EXPECT_TRUE(wait_until(3, [&] { return leftovers().empty(); })) << leftovers();
  // The shell that dies of the forwarded signal does not save its own child either.
  pid = start_program({WATCHDOG_BIN, "-m30", "sh", "-c", "echo started; " + sleeper + " 1001; echo done"}, dir + "/out",
                      dir + "/err");
  ASSERT_TRUE(wait_until(10, [&] { return read_file(dir + "/out") == "started\n"; }));
  ASSERT_TRUE(wait_until(5, [&] { return !leftovers().empty(); }));
  kill(pid, SIGTERM);
  ASSERT_TRUE(ended_by(pid, 10, &status));
  EXPECT_TRUE(wait_until(3, [&] { return leftovers().empty(); })) << leftovers();
}

TEST_F(WatchdogControl, WhatARunThatEndedByItselfLeftIsLeftAlone) {
  // The first run starts a daemon and ends; the second hangs and is killed: the daemon stays.
  std::string script =
      "if [ ${WATCHDOG_COUNT%,*} = 1 ]; then (setsid " + sleeper + " 304 &); exit 0; fi; echo second; exec sleep 30";
  program_result p = watchdog({"-m1", "-n2", "sh", "-c", script});
  EXPECT_EQ(p.status, 0);
  EXPECT_EQ(count_lines_with(p.err, "(1 sec no output)"), 1);
  EXPECT_EQ(count_lines_with(leftovers(), " 304"), 1) << "the daemon of the first run was ended";
  run_program({"pkill", "-KILL", "-f", token});
  wait_until(3, [&] {
    while (waitpid(-1, nullptr, WNOHANG) > 0) {
    }
    return leftovers().empty();
  });
}

TEST_F(WatchdogControl, AdoptingOurselvesOrAnAncestorIsRefused) {
  struct {
    const char* what;
    std::string command;
  } rows[] = {
      {"our own pid", std::string("exec ") + WATCHDOG_BIN + " -m1 -n1 -p$$ true"},
      {"our parent's pid", std::string(WATCHDOG_BIN) + " -m1 -n1 -p$$ true; echo parent-alive"},
  };
  for (const auto& r : rows) {
    program_options o;
    o.cwd = dir;
    o.timeout_seconds = 20;
    program_result p = run_program({"sh", "-c", r.command}, o);
    EXPECT_FALSE(p.timed_out) << r.what;
    EXPECT_EQ(count_lines_with(p.err, "is watchdog itself or one of its ancestors"), 1) << r.what << p.err;
    EXPECT_EQ(count_lines_with(p.err, "WATCHDOG START"), 0) << r.what;
  }
  program_options o;
  o.cwd = dir;
  program_result own = run_program({"sh", "-c", std::string("exec ") + WATCHDOG_BIN + " -n1 -p$$ true"}, o);
  EXPECT_EQ(own.status, 1);
  program_result parent = run_program({"sh", "-c", std::string(WATCHDOG_BIN) + " -n1 -p$$ true; echo $?"}, o);
  EXPECT_EQ(parent.out, "1\n");
}

TEST_F(WatchdogControl, ErrorStringAfterANulByteIsCaught) {
  program_result p =
      watchdog({"-s*FATAL*", "-n1", "sh", "-c", "printf 'x\\000 FATAL error\\n'; exec " + sleeper + " 30"});
  EXPECT_EQ(count_lines_with(p.err, "(error string output)"), 1);
  EXPECT_EQ(p.out, std::string("x\0 FATAL error\n", 15)) << "relayed as it came";
}

TEST_F(WatchdogControl, AnEndConditionNeverMetIsAFailure) {
  write_file(dir + "/present", "");
  struct {
    std::vector<std::string> args;
    int status;
  } rows[] = {
      {{"-x", "-n2", "false"}, 2},
      {{"-x", "-n2", "true"}, 0},
      {{"-x3", "-n2", "sh", "-c", "exit 3"}, 0},
      {{"-Xabsent", "-n2", "true"}, 2},
      {{"-Xpresent", "-n2", "true"}, 0},
      {{"-x", "-m1", "-n2", "sleep", "30"}, 2},  // killed runs never meet it
      {{"-n2", "false"}, 0},                     // without -x or -X a normal end is 0
  };
  for (const auto& r : rows) {
    program_result p = watchdog(r.args);
    std::string what;
    for (const auto& a : r.args) what += a + " ";
    EXPECT_EQ(p.status, r.status) << what << "\n" << p.err;
  }
}

}  // namespace

namespace {

// Reads a pipe slowly, about 400 KB a second, as a busy log collector would.
std::string read_slowly(int fd) {
  std::string got;
  char buf[4096];
  for (;;) {
    usleep(10000);
    ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) return got;
    got.append(buf, static_cast<std::size_t>(n));
  }
}

TEST_F(WatchdogControl, OutputAtAStopArrivesInOrderWithoutGaps) {
  // On SIGTERM the child writes a long shutdown log, numbered lines, to a slow reader.
  std::string script =
      "trap 'i=0; while [ $i -lt 300000 ]; do echo \"line $i\"; i=$((i+1)); done; exit 0' TERM; "
      "echo ready; while :; do " +
      sleeper + " 0.1; done";
  int p[2];
  ASSERT_EQ(pipe2(p, O_CLOEXEC), 0);
  pid_t pid = spawn_with_stdout({WATCHDOG_BIN, "-q", "-m60", "sh", "-c", script}, p[1]);
  ASSERT_GT(pid, 0);
  close(p[1]);
  char first[6] = {};
  ASSERT_EQ(read(p[0], first, 6), 6);  // "ready\n"
  kill(pid, SIGTERM);
  std::string got = read_slowly(p[0]);
  close(p[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
  // What arrived is the log's beginning, whole lines in order; whatever the grace did not
  // leave time for is missing at the end only.
  std::size_t pos = 0;
  int expected = 0;
  while (pos < got.size()) {
    std::size_t end = got.find('\n', pos);
    std::string want = "line " + std::to_string(expected);
    if (end == std::string::npos) {
      EXPECT_EQ(got.substr(pos), want.substr(0, got.size() - pos)) << "a cut last line may only be a prefix";
      break;
    }
    ASSERT_EQ(got.substr(pos, end - pos), want) << "at byte " << pos;
    pos = end + 1;
    ++expected;
  }
  EXPECT_GT(expected, 1000) << "the shutdown log was relayed";
}

TEST_F(WatchdogControl, OutputNotOursToReopenStillNeverHoldsUs) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run watchdog as another user";
  // Our stdout is a pipe of root's that another user cannot open anew, and nobody reads it.
  int p[2];
  ASSERT_EQ(pipe2(p, O_CLOEXEC), 0);
  std::string burst = "yes 'a line of output that nobody reads' | head -c 3000000; exec " + sleeper + " 60";
  pid_t pid = spawn_with_stdout(
      {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", WATCHDOG_BIN, "-m30", "-t2,7", "sh", "-c", burst},
      p[1], "/");
  ASSERT_GT(pid, 0);
  close(p[1]);
  auto start = std::chrono::steady_clock::now();
  int status = 0;
  bool ended = ended_by(pid, 15, &status);
  double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  close(p[0]);
  if (!ended) waitpid(pid, &status, 0);
  EXPECT_TRUE(ended) << "held by a blocking write";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 7);
  EXPECT_LT(took, 6);
}

TEST_F(WatchdogControl, WhatASparedDaemonDetachesLaterIsLeftAloneToo) {
  // The first run starts a daemon in a session of its own, which keeps detaching helpers
  // (each comes to watchdog as an orphan, noting its pid); the second run hangs and is killed.
  std::string helper = "sh -c \"echo \\$\\$ >> " + dir + "/helpers; exec " + sleeper + " 323\"";
  std::string daemon = "while :; do (" + helper + " &); sleep 0.3; done";
  std::string script = "if [ ${WATCHDOG_COUNT%,*} = 1 ]; then setsid sh -c '" + daemon +
                       "' >/dev/null 2>&1 & exit 0; fi; echo second; exec sleep 30";
  program_result p = watchdog({"-m1", "-n2", "sh", "-c", script});
  EXPECT_EQ(p.status, 0);
  EXPECT_EQ(count_lines_with(p.err, "(1 sec no output)"), 1);
  EXPECT_EQ(count_lines_with(p.err, "can't kill"), 0) << p.err;
  std::istringstream helpers(read_file(dir + "/helpers"));
  int noted = 0;
  for (int pid; helpers >> pid; ++noted)
    EXPECT_EQ(kill(pid, 0), 0) << "helper " << pid << " was killed with the hung run";
  EXPECT_GE(noted, 2);
  // The daemon may be forking a helper as it is killed: kill until none is left.
  wait_until(5, [&] {
    run_program({"pkill", "-KILL", "-f", token});
    while (waitpid(-1, nullptr, WNOHANG) > 0) {
    }
    return leftovers().empty();
  });
}

}  // namespace
