// The supervision cycle. Each run starts the command (or adopts a running process), then
// makes monitoring passes: status query, readiness poll, one read per ready pipe relayed at
// once, the timeout test and the hang tests. A hang kills the child; after a grace wait and
// a one-second pause the next run starts, until a repeat bound or end condition holds.
#include "watchdog/supervise.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/time_stamp.h"
#include "platform/pipe.h"
#include "platform/poll.h"
#include "platform/process.h"
#include "platform/signal.h"
#include "watchdog/child_status.h"
#include "watchdog/run_settings.h"
#include "watchdog/termination.h"
#include "watchdog/wildcmp.h"

supervision_state supervision;

namespace {

constexpr int chunk_size = 1023;          // one read per stream and pass
constexpr int grace_queries = 30;         // status queries after a run, 100 ms apart
constexpr long final_relay_limit = 4L * 65536;  // what is relayed from the pipes at a run's end

enum hang_state { no_hang = 0, hang_silence, hang_error_string, hang_stale_file, hang_file_missing };

// Values that live for one run.
struct run_record {
  process_handle child;
  bool adopted = false;
  bool killed = false;
  int out_fd = -1;
  int err_fd = -1;
  int poll_bound = 0;
  char out_chunk[chunk_size + 1];
  char err_chunk[chunk_size + 1];
  bool out_ended = false;
  bool err_ended = false;
  std::time_t now = 0;
  std::time_t last_out = 0;
  std::time_t last_err = 0;
  std::time_t file_base = 0;
};

const char* command_name() { return run_settings.cmd_argv[0]; }
bool debug(int bit) { return (run_settings.debug_mask & bit) != 0; }

void list_command_words() {
  for (int i = 0; i < run_settings.cmd_argc; ++i) std::fprintf(stderr, "[%2d] %s\n", i, run_settings.cmd_argv[i]);
}

// Output is piped through us when it has to be examined: patterns, or silence without a file.
bool redirect_mode() {
  return run_settings.match_mode != 0 || (run_settings.monitor_mode != 0 && run_settings.watch_file[0] == '\0');
}

// The child's environment: ours with the count and pid variables set. It is built afresh for
// each start rather than written into our own environment, where every new value would be
// kept for good and a supervisor running for months would slowly grow.
char* const* child_environment() {
  static std::vector<std::string> entries;
  static std::vector<char*> pointers;
  entries.clear();
  auto named = [](const char* entry, const char* name) {
    std::size_t n = std::strlen(name);
    return std::strncmp(entry, name, n) == 0 && entry[n] == '=';
  };
  for (char* const* e = current_environment(); *e != nullptr; ++e)
    if (!named(*e, run_settings.count_env) && !named(*e, run_settings.pid_env)) entries.emplace_back(*e);
  char value[64];
  std::snprintf(value, sizeof value, "=%d,%d", supervision.run_count, supervision.end_reason);
  entries.push_back(run_settings.count_env + std::string(value));
  std::snprintf(value, sizeof value, "=%d", static_cast<int>(own_process_id()));
  entries.push_back(run_settings.pid_env + std::string(value));
  pointers.clear();
  for (auto& entry : entries) pointers.push_back(entry.data());
  pointers.push_back(nullptr);
  return pointers.data();
}

[[noreturn]] void fail_start(const char* what, int err) {
  errno = err;
  std::perror(what);
  std::exit(1);
}

void start_command(run_record* run) {
  ++supervision.run_count;
  char* const* environment = child_environment();
  int out_pipe[2];
  int err_pipe[2];
  int rc = make_pipe(out_pipe, 0);
  if (rc < 0) fail_start(command_name(), -rc);
  rc = make_pipe(err_pipe, 0);
  if (rc < 0) fail_start(command_name(), -rc);
  if (debug(2)) list_command_words();

  child_stdio stdio;
  if (redirect_mode()) {
    stdio.out = out_pipe[1];
    stdio.err = err_pipe[1];
  }
  rc = spawn_process(&run->child, run_settings.cmd_words, stdio, environment, run_settings.cmd_argv);
  // The child holds the only write ends now, so reads see the end when it is gone.
  close_fd(&out_pipe[1]);
  close_fd(&err_pipe[1]);
  run->out_fd = out_pipe[0];
  run->err_fd = err_pipe[0];
  if (rc < 0) fail_start(command_name(), -rc);
  if (debug(2)) std::fprintf(stderr, "pid: %d\n", lookup_process_id(&run->child));
}

bool adopt_running_process(run_record* run) {
  if (debug(1)) std::fprintf(stderr, "check process (%d)\n", run_settings.reuse_pid);
  process_handle handle;
  if (adopt_process(&handle, run_settings.reuse_pid) != 0) return false;
  if (child_status(&handle, 0) != 0) {
    release_process(&handle);
    return false;
  }
  if (debug(1)) std::fputs("process exist A\n", stderr);
  run->child = handle;
  run_settings.reuse_pid = 0;
  return true;
}

// Reads one chunk from a ready pipe and relays it to `out`. Returns false at the stream's end.
bool read_and_relay(int fd, int out, char* chunk, std::time_t now, std::time_t* last) {
  ssize_t n = read_some(fd, chunk, chunk_size);
  if (n <= 0) return false;
  *last = now;
  write_all(out, chunk, static_cast<std::size_t>(n));
  chunk[n] = '\0';
  return true;
}

// At a run's end, relays what a pipe holds right now, without the hang tests, so the last
// words of a dying child are not lost. Bounded, so a writer that keeps going cannot stall us.
void relay_remaining(int fd, int out) {
  char buffer[4096];
  long left = std::min<long>(bytes_available(fd), final_relay_limit);
  while (left > 0) {
    ssize_t n = read_some(fd, buffer, static_cast<std::size_t>(std::min<long>(left, sizeof buffer)));
    if (n <= 0) break;
    write_all(out, buffer, static_cast<std::size_t>(n));
    left -= n;
  }
}

hang_state test_watched_file(run_record* run) {
  const char* file = run_settings.watch_file;
  struct stat st {};
  if (debug(2)) {
    int r = stat(file, &st);
    std::fprintf(stderr, "file (%s) stat:%d %d > %d \n", file, r, static_cast<int>(run->now - st.st_mtime),
                 run_settings.monitor_sec);
  }
  if (run->now - run->file_base <= run_settings.monitor_sec) return no_hang;
  if (stat(file, &st) != 0) {
    std::perror(file);
    return hang_file_missing;
  }
  hang_state state = run->now - st.st_mtime > run_settings.monitor_sec ? hang_stale_file : no_hang;
  run->file_base = st.st_mtime;
  return state;
}

hang_state test_silence(const run_record* run) {
  const int limit = run_settings.monitor_sec;
  bool out_silent = run->now - run->last_out > limit;
  if (run_settings.monitor_mode == 2 && out_silent && run->now - run->last_err > limit) return hang_silence;
  if (run_settings.monitor_mode == 1 && out_silent) return hang_silence;
  return no_hang;
}

bool error_string_found(const run_record* run) {
  for (int i = 0; i < run_settings.pattern_count; ++i) {
    if (wildcmp(run_settings.patterns[i], run->out_chunk) == 0) return true;
    if (run_settings.match_mode == 2 && wildcmp(run_settings.patterns[i], run->err_chunk) == 0) return true;
  }
  return false;
}

hang_state hang_tests(run_record* run) {
  hang_state state = no_hang;
  if (run_settings.watch_file[0] != '\0')
    state = test_watched_file(run);
  else
    state = test_silence(run);
  if (run_settings.match_mode != 0 && error_string_found(run)) state = hang_error_string;
  return state;
}

void print_hang(hang_state state) {
  const char* stamp = time_stamp(0);
  switch (state) {
    case hang_silence:
      std::fprintf(stderr, "%s ****** WATCHDOG --hung up-- (%d sec no output) ******\n", stamp, run_settings.monitor_sec);
      break;
    case hang_error_string:
      std::fprintf(stderr, "%s ****** WATCHDOG --hung up-- (error string output) ******\n", stamp);
      break;
    case hang_stale_file:
      std::fprintf(stderr, "%s ****** WATCHDOG --hung up-- (%d sec file[%s] no update) ******\n", stamp,
                   run_settings.monitor_sec, run_settings.watch_file);
      break;
    case hang_file_missing:
      std::fprintf(stderr, "%s ****** WATCHDOG --hung up-- (%d sec file[%s] none) ******\n", stamp,
                   run_settings.monitor_sec, run_settings.watch_file);
      break;
    case no_hang:
      break;
  }
}

enum pass_outcome { pass_continue, pass_child_ended, pass_killed, pass_timeout, pass_terminated };

pass_outcome monitoring_pass(run_record* run) {
  if (termination_requested()) return pass_terminated;
  if (child_status(&run->child, 0) < 0) {
    supervision.end_reason = 1;
    return pass_child_ended;
  }
  poll_timeout timeout{1, 0};
  descriptor_set set;
  descriptor_set_add(&set, run->out_fd);
  descriptor_set_add(&set, run->err_fd);
  if (debug(2)) std::fputs("select ... ", stderr);
  int ready = readiness_poll(run->poll_bound, &set, &timeout);
  run->now = std::time(nullptr);
  if (debug(2)) std::fprintf(stderr, "%d\n", ready);

  run->out_chunk[0] = '\0';
  run->err_chunk[0] = '\0';
  if (ready > 0) {
    if (descriptor_set_has(&set, run->out_fd)) {
      if (debug(2)) std::fprintf(stderr, "outfd:%d read()\n", run->out_fd);
      if (!read_and_relay(run->out_fd, 1, run->out_chunk, run->now, &run->last_out)) run->out_ended = true;
    }
    if (descriptor_set_has(&set, run->err_fd)) {
      if (debug(2)) std::fprintf(stderr, "errfd:%d read()\n", run->err_fd);
      if (!read_and_relay(run->err_fd, 2, run->err_chunk, run->now, &run->last_err)) run->err_ended = true;
      if (debug(2)) std::fprintf(stderr, "|%s|\n", run->err_chunk);
    }
  }

  if (run_settings.timeout_sec > 0 && run->now - supervision.timeout_start >= run_settings.timeout_sec) {
    if (!run_settings.quiet)
      std::fprintf(stderr, "%s ****** WATCHDOG timeout (%d sec) [%s] ******\n", time_stamp(0),
                   run_settings.timeout_sec, command_name());
    child_status(&run->child, 9);
    return pass_timeout;
  }
  if (run_settings.monitor_mode == 0 && run_settings.match_mode == 0 && run_settings.watch_file[0] == '\0')
    return pass_continue;

  hang_state state = hang_tests(run);
  if (state == no_hang) return pass_continue;
  if (!run_settings.quiet) print_hang(state);
  child_status(&run->child, 9);
  supervision.end_reason = state + 1;
  run->killed = true;
  return pass_killed;
}

// Closes the run's pipes after relaying what they still hold.
void close_run_pipes(run_record* run) {
  if (run->adopted) return;
  relay_remaining(run->out_fd, 1);
  relay_remaining(run->err_fd, 2);
  close_fd(&run->out_fd);
  close_fd(&run->err_fd);
}

// We were asked to end: the child gets the same signal and the grace wait, while its output
// is still relayed; whatever still runs then is killed. Then we end by that signal.
[[noreturn]] void end_by_termination(run_record* run) {
  int sig = termination_signal();
  if (child_status(&run->child, 0) == 0) {
    signal_process(&run->child, sig);
    bool ended = false;
    for (int i = 0; i < grace_queries && !ended; ++i) {
      if (!run->adopted) {
        relay_remaining(run->out_fd, 1);
        relay_remaining(run->err_fd, 2);
      }
      ended = child_status(&run->child, 0) < 0;
      if (!ended) sleep_ms(100);
    }
    if (!ended) child_status(&run->child, 9);
  }
  close_run_pipes(run);
  wait_process(&run->child);
  release_process(&run->child);
  die_by_signal(sig);
}

void print_start(int runs_begun) {
  if (run_settings.quiet) return;
  if (runs_begun == 0)
    std::fprintf(stderr, "%s ****** WATCHDOG START [%s] ******\n", time_stamp(0), command_name());
  else
    std::fprintf(stderr, "\n%s ****** WATCHDOG RESTART(%d) [%s] ******\n", time_stamp(0), supervision.end_reason,
                 command_name());
}

}  // namespace

int supervise() {
  run_settings.cmd_argv[run_settings.cmd_argc] = nullptr;
  run_settings.cmd_words[run_settings.cmd_argc] = nullptr;
  int result = 0;
  int runs_begun = 0;
  static run_record run;  // chunk buffers are fixed areas, reused by every run

  for (;;) {
    run = run_record{};
    print_start(runs_begun);
    ++runs_begun;
    if (debug(1)) list_command_words();

    if (run_settings.reuse_pid != 0) run.adopted = adopt_running_process(&run);
    if (!run.adopted) {
      start_command(&run);
      run.poll_bound = std::max(run.out_fd, run.err_fd) + 1;
    }
    run.now = std::time(nullptr);
    run.last_out = run.last_err = run.file_base = run.now;
    if (supervision.timeout_start == 0) supervision.timeout_start = run.now;

    pass_outcome outcome = pass_continue;
    while ((!run.out_ended || !run.err_ended) && outcome == pass_continue) outcome = monitoring_pass(&run);

    if (outcome == pass_terminated) end_by_termination(&run);
    close_run_pipes(&run);
    if (outcome == pass_timeout) {
      release_process(&run.child);
      result = run_settings.timeout_status;
      break;
    }

    bool ended = false;
    for (int i = 0; i < grace_queries && !ended; ++i) {
      ended = child_status(&run.child, 0) < 0;
      if (!ended) sleep_ms(100);
    }
    if (termination_requested()) die_by_signal(termination_signal());
    if (run.killed && !ended && !run_settings.quiet)
      std::fprintf(stderr, "%s ****** WATCHDOG can't kill ignore [%s] ******\n", time_stamp(0), command_name());
    release_process(&run.child);

    supervision.end_mark = 0;
    if (!run.killed) {
      if (run_settings.end_on_status && last_exit_status == run_settings.end_status) {
        supervision.end_mark = 1;
        break;
      }
      if (run_settings.end_on_file && access(run_settings.end_file, F_OK) == 0) {
        supervision.end_mark = 2;
        break;
      }
    }
    sleep_ms(1000, termination_requested);
    if (termination_requested()) die_by_signal(termination_signal());
    if (run_settings.max_count != 0 && supervision.run_count >= run_settings.max_count) break;
  }

  reap_children();
  if (!run_settings.quiet) {
    const char* insert = supervision.end_mark == 1 ? "<OK-exitstatus> " : supervision.end_mark == 2 ? "<OK-exitfile> " : "";
    std::fprintf(stderr, "%s ****** WATCHDOG END [%s] %scount:%d ******\n", time_stamp(0), command_name(), insert,
                 supervision.run_count);
  }
  return result;
}
