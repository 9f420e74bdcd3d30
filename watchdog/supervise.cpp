// The supervision cycle. Each run starts the command (or adopts a running process), then
// makes monitoring passes: status query, the wait for data, one read per ready pipe relayed to
// our own output queues, the timeout test and the hang tests. A hang ends the child and every
// process the run started; after the grace wait and a one-second pause the next run starts,
// until a repeat bound or end condition holds. Every interval is timed on the monotonic clock.
#include "watchdog/supervise.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "common/monotonic_clock.h"
#include "common/time_stamp.h"
#include "platform/pipe.h"
#include "platform/run_cgroup.h"
#include "platform/signal.h"
#include "platform/wait.h"
#include "watchdog/child_status.h"
#include "watchdog/final_output.h"
#include "watchdog/messages.h"
#include "watchdog/output_queue.h"
#include "watchdog/run_settings.h"
#include "watchdog/termination.h"
#include "watchdog/chunk_match.h"
#include "watchdog/wait_list.h"

namespace {

constexpr long grace_ms = 3000;                 // a killed or asked child's time to end
constexpr long pause_ms = 1000;                 // between runs
constexpr long pass_wait_ms = 1000;             // the longest idle wait of a pass
constexpr unsigned flowing_passes = 8;          // passes without a wait while a stream flows
constexpr long end_wait_ms = 10000;             // how long a normal end waits on a reader taking nothing
constexpr long short_wait_ms = 1000;            // the same after a timeout or a stop request
constexpr long unread_wait_ms = 250;            // the idle wait while silence is watched on an unread pipe

enum pass_outcome { pass_continue, pass_child_ended, pass_killed, pass_timeout, pass_stopped };

const char* command_name(const run_settings_record* settings) { return settings->cmd_argv[0]; }
bool debug(const run_settings_record* settings, int bit) { return (settings->debug_mask & bit) != 0; }
bool watching_file(const run_settings_record* settings) { return settings->watch_file[0] != '\0'; }
std::int64_t seconds_ms(int sec) { return static_cast<std::int64_t>(sec) * 1000; }

// "More than <sec> seconds" is counted in whole seconds, as the limits are given: a silence
// of 2.5 s is 2 seconds, which -m2 does not yet call a hang.
bool more_than(std::int64_t elapsed_ms, int sec) { return elapsed_ms / 1000 > sec; }

void list_command_words(const supervision_state* s) {
  for (int i = 0; i < s->settings->cmd_argc; ++i) say(s->outputs, "[%2d] %s\n", i, s->settings->cmd_argv[i]);
}

// Output is piped through us when it has to be examined: patterns, or silence without a file.
bool redirect_mode(const run_settings_record* settings) {
  return settings->match_mode != stream_scope::none ||
         (settings->monitor_mode != stream_scope::none && !watching_file(settings));
}

// Everything a run owns: the child and what it started, orphans re-parented to us included,
// but not what earlier runs that ended by themselves left running.
stop_scope run_scope(const supervision_state* s) {
  stop_scope scope;
  scope.everything_below_us = true;
  scope.spared = &s->spared;
  return scope;
}

// The child's environment: ours with the count and pid variables set. It is built afresh for
// each start rather than written into our own environment, where every new value would be
// kept for good and a supervisor running for months would slowly grow.
std::vector<char*> child_environment(const supervision_state* s, std::vector<std::string>* entries) {
  auto named = [](const char* entry, const char* name) {
    std::size_t n = std::strlen(name);
    return std::strncmp(entry, name, n) == 0 && entry[n] == '=';
  };
  for (char* const* e = current_environment(); *e != nullptr; ++e)
    if (!named(*e, s->settings->count_env) && !named(*e, s->settings->pid_env)) entries->emplace_back(*e);
  char value[64];
  std::snprintf(value, sizeof value, "=%d,%d", s->run_count, static_cast<int>(s->end_reason));
  entries->push_back(s->settings->count_env + std::string(value));
  std::snprintf(value, sizeof value, "=%d", static_cast<int>(own_process_id()));
  entries->push_back(s->settings->pid_env + std::string(value));
  std::vector<char*> pointers;
  for (auto& entry : *entries) pointers.push_back(entry.data());
  pointers.push_back(nullptr);
  return pointers;
}

// Starts the command on two new pipes. 0, or -errno with the reason said when it cannot be
// started.
int start_command(supervision_state* s) {
  run_record* run = &s->run;
  ++s->run_count;
  std::vector<std::string> entries;
  std::vector<char*> environment = child_environment(s, &entries);
  int out_pipe[2];
  int err_pipe[2];
  int rc = make_pipe(out_pipe, 0);
  if (rc == 0) {
    rc = make_pipe(err_pipe, 0);
    if (rc < 0) {
      close_fd(&out_pipe[0]);
      close_fd(&out_pipe[1]);
    }
  }
  if (rc < 0) {
    say(s->outputs, "ERROR: cannot make the output pipes for [%s]: %s\n", command_name(s->settings),
        std::strerror(-rc));
    return rc;
  }
  if (debug(s->settings, 2)) list_command_words(s);

  child_stdio stdio;
  if (redirect_mode(s->settings)) {
    stdio.out = out_pipe[1];
    stdio.err = err_pipe[1];
  }
  child_setup setup;
  setup.own_cgroup = true;  // where the system allows it, a cgroup holds all the run starts
  rc = spawn_process(&run->child, s->settings->child_argv, stdio, environment.data(), s->settings->cmd_argv, setup);
  // The child holds the only write ends now, so reads see the end when it is gone.
  close_fd(&out_pipe[1]);
  close_fd(&err_pipe[1]);
  run->out_fd = out_pipe[0];
  run->err_fd = err_pipe[0];
  // Our reads never wait: the pass's wait says when there is something.
  set_nonblocking(run->out_fd);
  set_nonblocking(run->err_fd);
  if (rc < 0) {
    say_error(s->outputs, command_name(s->settings), -rc);
    return rc;
  }
  if (debug(s->settings, 2)) say(s->outputs, "pid: %d\n", process_id_of(&run->child));
  return 0;
}

// A start that failed for a reason that can pass: a moment of pressure on processes, memory
// or descriptors, or a program file being replaced (missing, or still open for writing).
bool start_failure_passes(int err) {
  switch (err) {
    case EAGAIN:
    case ENOMEM:
    case ENOENT:
    case EMFILE:
    case ENFILE:
#ifdef ETXTBSY
    case ETXTBSY:
#endif
      return true;
    default:
      return false;
  }
}

bool adopt_running_process(supervision_state* s) {
  if (debug(s->settings, 1)) say(s->outputs, "check process (%d)\n", s->settings->reuse_pid);
  process_handle handle;
  if (adopt_process(&handle, s->settings->reuse_pid) != 0) return false;
  if (!child_running(&handle, &s->query)) {
    release_process(&handle);
    return false;
  }
  if (debug(s->settings, 1)) say(s->outputs, "process exist A\n");
  s->run.child = handle;
  s->adoption_pending = false;
  return true;
}

// Reads one chunk from a pipe and relays it to `queue`. Returns the bytes read (0 when none).
std::size_t read_and_relay(int fd, output_queue* queue, char* chunk, bool* flowing, pipe_activity* activity) {
  ssize_t n = read_some(fd, chunk, chunk_size);
  *flowing = n == static_cast<ssize_t>(chunk_size);
  if (n <= 0) {
    chunk[0] = '\0';
    return 0;
  }
  note_taken(activity, static_cast<std::size_t>(n));
  queue_put(queue, chunk, static_cast<std::size_t>(n));
  chunk[n] = '\0';
  return static_cast<std::size_t>(n);
}

// While a killed run's processes end, relays what a pipe holds right now, up to `limit`, without
// the hang tests, so the last words of a dying child are not lost.
void relay_remaining(int fd, output_queue* queue, long limit) {
  if (fd < 0) return;
  char buffer[4096];
  long left = std::min<long>({bytes_available(fd), limit, static_cast<long>(queue_room(queue))});
  while (left > 0) {
    ssize_t n = read_some(fd, buffer, static_cast<std::size_t>(std::min<long>(left, sizeof buffer)));
    if (n <= 0) break;
    queue_put(queue, buffer, static_cast<std::size_t>(n));
    left -= n;
  }
}

// Waits up to `ms`, writing held-back output as our readers take it; a stop request ends it
// early.
void wait_writing_output(our_outputs* outputs, long ms) {
  std::int64_t deadline = monotonic_now() + ms;
  for (;;) {
    flush_outputs(outputs);
    std::int64_t left = deadline - monotonic_now();
    if (left <= 0 || termination_requested()) return;
    wait_list waits = list_waits(outputs, -1, -1);
    wait_for_events(waits.items, waits.count, static_cast<long>(left));
  }
}

// The room a stream's backlog has for relayed output, as in a monitoring pass.
long backlog_room(const output_queue* q) {
  return queue_full(q) ? 0 : static_cast<long>(backlog_limit - queue_pending(q));
}

// A grace wait's step: the child's output is still relayed while it ends, as far as our
// readers take it, so the child feels their pace as in a pass.
void relay_while_waiting(long ms, void* context) {
  auto* s = static_cast<supervision_state*>(context);
  run_record* run = &s->run;
  std::int64_t deadline = monotonic_now() + ms;
  for (;;) {
    if (!run->adopted) {
      relay_remaining(run->out_fd, &s->outputs->out, backlog_room(&s->outputs->out));
      relay_remaining(run->err_fd, &s->outputs->err, backlog_room(&s->outputs->err));
    }
    flush_outputs(s->outputs);
    std::int64_t left = deadline - monotonic_now();
    if (left <= 0) return;
    // The grace has its own deadline: a stop request does not cut its steps short.
    wait_list waits = list_waits(s->outputs, run->adopted ? -1 : run->out_fd, run->adopted ? -1 : run->err_fd);
    wait_for_data(&waits, static_cast<long>(left));
  }
}

void print_hang(const supervision_state* s, run_end_reason reason) {
  const run_settings_record* settings = s->settings;
  const char* stamp = time_stamp(0);
  switch (reason) {
    case end_silence:
      say(s->outputs, "%s ****** WATCHDOG --hung up-- (%d sec no output) ******\n", stamp, settings->monitor_sec);
      break;
    case end_error_string:
      say(s->outputs, "%s ****** WATCHDOG --hung up-- (error string output) ******\n", stamp);
      break;
    case end_stale_file:
      say(s->outputs, "%s ****** WATCHDOG --hung up-- (%d sec file[%s] no update) ******\n", stamp,
          settings->monitor_sec, settings->watch_file);
      break;
    case end_file_missing:
      say(s->outputs, "%s ****** WATCHDOG --hung up-- (%d sec file[%s] none) ******\n", stamp, settings->monitor_sec,
          settings->watch_file);
      break;
    case end_none:
    case end_by_itself:
      break;
  }
}

// One look at the watched file: a modification time other than the one seen before, or a
// file that has appeared, is a change, seen now.
int examine_watched_file(supervision_state* s, file_time* when) {
  watched_file* f = &s->run.file;
  int rc = s->file_time(s->settings->watch_file, when);
  if (rc == 0) {
    if (f->looked && (!f->present || !(*when == f->mtime))) f->last_change = s->run.now;
    f->present = true;
    f->mtime = *when;
  } else {
    f->present = false;
  }
  f->looked = true;
  f->last_look = s->run.now;
  return rc;
}

bool error_string_found(const supervision_state* s) {
  const run_settings_record* settings = s->settings;
  const run_record* run = &s->run;
  our_outputs* trace = debug(settings, 1) ? s->outputs : nullptr;
  for (int i = 0; i < settings->pattern_count; ++i) {
    if (chunk_matches(settings->patterns[i], run->out_chunk, run->out_len, trace)) return true;
    if (settings->match_mode == stream_scope::output_and_error &&
        chunk_matches(settings->patterns[i], run->err_chunk, run->err_len, trace))
      return true;
  }
  return false;
}

run_end_reason test_watched_file(supervision_state* s) {
  watched_file* f = &s->run.file;
  if (!more_than(s->run.now - f->base, s->settings->monitor_sec)) return end_none;
  file_time when;
  int rc = examine_watched_file(s, &when);
  if (rc != 0) {
    say_error(s->outputs, s->settings->watch_file, -rc);
    return end_file_missing;
  }
  f->base = f->last_change;
  return more_than(s->run.now - f->last_change, s->settings->monitor_sec) ? end_stale_file : end_none;
}

run_end_reason test_silence(const run_settings_record* settings, const run_record* run) {
  const int limit = settings->monitor_sec;
  bool out_silent = more_than(run->now - run->last_out, limit);
  if (settings->monitor_mode == stream_scope::output_and_error && out_silent && more_than(run->now - run->last_err, limit))
    return end_silence;
  if (settings->monitor_mode == stream_scope::output_only && out_silent) return end_silence;
  return end_none;
}

// The -t deadline on the monotonic clock; never (INT64_MAX) without -t or before the first run.
std::int64_t timeout_deadline(const supervision_state* s) {
  if (s->settings->timeout_sec <= 0 || !s->timeout_started) return INT64_MAX;
  return s->timeout_start + seconds_ms(s->settings->timeout_sec);
}

// Milliseconds until the -t deadline; effectively never without -t.
std::int64_t until_deadline(const supervision_state* s) {
  std::int64_t deadline = timeout_deadline(s);
  return deadline == INT64_MAX ? INT64_MAX : deadline - monotonic_now();
}

void declare_timeout(supervision_state* s) {
  if (!s->settings->quiet)
    say(s->outputs, "%s ****** WATCHDOG timeout (%d sec) [%s] ******\n", time_stamp(0), s->settings->timeout_sec,
        command_name(s->settings));
  s->result = s->settings->timeout_status;
  s->timed_out = true;
}

bool silence_watched(const run_settings_record* settings) {
  return settings->monitor_mode != stream_scope::none && !watching_file(settings);
}

// The silence test's view of the child: it is not silent while bytes enter its pipes, nor
// while it waits to write to a pipe we leave unread for our own stalled reader. A read of
// ours is no sign: what it takes may have waited in the pipe for long. Bytes are seen at most
// a pass late, so silence is never found early. Standard error is looked at only where its
// silence counts.
void look_for_output(const run_settings_record* settings, run_record* run, bool out_unread, bool err_unread) {
  if (child_wrote(&run->out_activity, run->out_fd, out_unread)) run->last_out = run->now;
  if (settings->monitor_mode == stream_scope::output_and_error &&
      child_wrote(&run->err_activity, run->err_fd, err_unread))
    run->last_err = run->now;
}

// The wait of an idle pass: a second, or less when the timeout falls due before. A pipe left
// unread does not end the wait when its child writes, so while one is and silence is watched,
// passes come more often, and the child's writes are seen on time.
long pass_wait(const supervision_state* s, bool pipe_left_unread) {
  std::int64_t wait = pipe_left_unread && silence_watched(s->settings) ? unread_wait_ms : pass_wait_ms;
  wait = std::min(wait, timeout_deadline(s) - s->run.now);
  return static_cast<long>(std::max<std::int64_t>(wait, 0));
}

pass_outcome monitoring_pass(supervision_state* s) {
  run_record* run = &s->run;
  if (termination_requested()) return pass_stopped;
  if (!child_running(&run->child, &s->query)) {
    s->end_reason = end_by_itself;
    return pass_child_ended;
  }
  // A stream whose backlog is full is not read: its child waits, as on a stalled reader.
  bool read_out = !run->adopted && !queue_full(&s->outputs->out);
  bool read_err = !run->adopted && !queue_full(&s->outputs->err);
  ++run->passes;
  bool flowing = (run->out_flowing && read_out) || (run->err_flowing && read_err);
  bool polled = !(flowing && run->passes % flowing_passes != 0);
  unsigned ready = no_stream;  // the streams whose pipe is read in this pass
  if (!polled) {
    // Data is still coming: read on without waiting; every few passes the wait still looks at
    // both streams, so the quiet one is not left behind.
    if (run->out_flowing && read_out) ready |= out_stream;
    if (run->err_flowing && read_err) ready |= err_stream;
  } else {
    wait_list waits = list_waits(s->outputs, read_out ? run->out_fd : -1, read_err ? run->err_fd : -1);
    if (debug(s->settings, 2)) say(s->outputs, "select ... ");
    ready = wait_for_data(&waits, pass_wait(s, !run->adopted && (!read_out || !read_err)));
    if (debug(s->settings, 2)) {
      if (ready & out_stream) say(s->outputs, "fd:%d is valid\n", run->out_fd);
      if (ready & err_stream) say(s->outputs, "fd:%d is valid\n", run->err_fd);
      say(s->outputs, "%d\n", ((ready & out_stream) ? 1 : 0) + ((ready & err_stream) ? 1 : 0));
    }
  }
  run->now = monotonic_now();
  flush_outputs(s->outputs);

  run->out_len = run->err_len = 0;
  run->out_chunk[0] = run->err_chunk[0] = '\0';
  if (ready & out_stream) {
    if (debug(s->settings, 2)) say(s->outputs, "outfd:%d read()\n", run->out_fd);
    run->out_len = read_and_relay(run->out_fd, &s->outputs->out, run->out_chunk, &run->out_flowing, &run->out_activity);
  }
  if (ready & err_stream) {
    if (debug(s->settings, 2)) say(s->outputs, "errfd:%d read()\n", run->err_fd);
    run->err_len = read_and_relay(run->err_fd, &s->outputs->err, run->err_chunk, &run->err_flowing, &run->err_activity);
    if (debug(s->settings, 2)) {
      say(s->outputs, "|");
      say_bytes(s->outputs, run->err_chunk, run->err_len);
      say(s->outputs, "|\n");
    }
  }
  // Between the reads of a flowing stream the child is surely not silent; the look waits for
  // a pass that waited.
  if (polled && !run->adopted && silence_watched(s->settings)) look_for_output(s->settings, run, !read_out, !read_err);

  if (timeout_due(s)) {
    declare_timeout(s);
    end_child(&run->child, run_scope(s));
    return pass_timeout;
  }
  if (s->settings->monitor_mode == stream_scope::none && s->settings->match_mode == stream_scope::none &&
      !watching_file(s->settings))
    return pass_continue;

  run_end_reason hang = hang_tests(s);
  if (hang == end_none) return pass_continue;
  if (!s->settings->quiet) print_hang(s, hang);
  end_child(&run->child, run_scope(s));
  s->end_reason = hang;
  run->killed = true;
  return pass_killed;
}

// How long output is waited for at a normal end: while our readers keep taking bytes, up to
// 10 s in which they take nothing, ended at once by a stop request and by the -t deadline.
reader_wait normal_end_wait(const supervision_state* s) {
  return reader_wait{end_wait_ms, termination_requested, timeout_deadline(s)};
}

// After a timeout or a stop request the wait stays short.
reader_wait short_end_wait() { return reader_wait{short_wait_ms, nullptr, INT64_MAX}; }

// Closes the run's pipes after relaying everything they held when its processes ended, as far
// as `wait` lets our readers take it; what they still hold is dropped, and counted.
void close_run_pipes(supervision_state* s, const reader_wait& wait) {
  run_record* run = &s->run;
  relay_what_pipes_hold(s->outputs, run->out_fd, run->err_fd, wait);
  close_pipe_counting_loss(&run->out_fd, &s->outputs->out);
  close_pipe_counting_loss(&run->err_fd, &s->outputs->err);
}

// We were asked to end: every process of the run gets the same signal and the grace wait,
// while its output is still relayed; whatever still runs then is killed. Then we end by that
// signal.
[[noreturn]] void end_by_stop_request(supervision_state* s) {
  int sig = termination_signal();
  run_record* run = &s->run;
  if (run->child.pid > 0 || run->child.system_handle != nullptr)
    stop_process(&run->child, ask_with_signal(sig), grace_ms, run_scope(s), relay_while_waiting, s);
  close_run_pipes(s, short_end_wait());
  release_process(&run->child);
  end_run_cgroups();
  finish_output(s->outputs, short_end_wait());
  die_by_signal(sig);
}

bool runs_ran_out(const supervision_state* s) {
  return s->settings->max_count != 0 && s->run_count >= s->settings->max_count;
}

// The pause after a run that lasted `run_ms`; false when no run follows it.
bool pause_before_next_run(supervision_state* s, std::int64_t run_ms) {
  if (runs_ran_out(s)) {
    // No restart follows: the pause before the end stays the second it always was.
    wait_writing_output(s->outputs, pause_ms);
    if (termination_requested()) end_by_stop_request(s);
    // The runs ran out before the awaited end: that is a failure the caller must see.
    if (s->settings->end_on_status || s->settings->end_on_file) s->result = exit_condition_unmet;
    return false;
  }
  // Output dropped in the run just ended is said before the next one begins.
  report_dropped_output(s->outputs);
  std::int64_t pause = next_restart_pause(&s->pause, run_ms, s->settings->restart_pause_max);
  if (pause > pause_ms && !s->settings->quiet)
    say(s->outputs, "%s ****** WATCHDOG restart pause (%d sec) [%s] ******\n", time_stamp(0),
        static_cast<int>(pause / 1000), command_name(s->settings));
  // The deadline holds between runs too: it ends the pause, and no run starts after it.
  wait_writing_output(s->outputs, static_cast<long>(std::max<std::int64_t>(0, std::min(pause, until_deadline(s)))));
  if (termination_requested()) end_by_stop_request(s);
  if (until_deadline(s) <= 0) {
    declare_timeout(s);
    return false;
  }
  return true;
}

void print_start(const supervision_state* s, int runs_begun) {
  if (s->settings->quiet) return;
  if (runs_begun == 0)
    say(s->outputs, "%s ****** WATCHDOG START [%s] ******\n", time_stamp(0), command_name(s->settings));
  else
    say(s->outputs, "\n%s ****** WATCHDOG RESTART(%d) [%s] ******\n", time_stamp(0), static_cast<int>(s->end_reason),
        command_name(s->settings));
}

}  // namespace

void init_supervision(supervision_state* state, const run_settings_record* settings, our_outputs* outputs) {
  *state = supervision_state{};
  state->settings = settings;
  state->outputs = outputs;
  state->query = read_child_query();
  state->adoption_pending = settings->reuse_pid != 0;
}

void begin_run_times(supervision_state* s) {
  run_record* run = &s->run;
  run->now = monotonic_now();
  run->started = run->now;
  run->last_out = run->last_err = run->now;
  run->file = watched_file{};
  run->file.last_change = run->file.base = run->now;
  if (watching_file(s->settings)) {
    file_time when;
    examine_watched_file(s, &when);
  }
  if (!s->timeout_started) {
    s->timeout_started = true;
    s->timeout_start = run->now;
  }
}

namespace {

void look_at_watched_file(supervision_state* s) {
  if (!watching_file(s->settings)) return;
  file_time when;
  // One look a second notices each change; the debug trace looks in every pass.
  if (debug(s->settings, 2)) {
    int rc = examine_watched_file(s, &when);
    long age = rc == 0 ? static_cast<long>(std::time(nullptr) - when.sec) : static_cast<long>(std::time(nullptr));
    say(s->outputs, "file (%s) stat:%d %ld > %d \n", s->settings->watch_file, rc == 0 ? 0 : -1, age,
        s->settings->monitor_sec);
  } else if (s->run.now - s->run.file.last_look >= 1000) {
    examine_watched_file(s, &when);
  }
}

}  // namespace

bool timeout_due(const supervision_state* s) {
  return s->run.now >= timeout_deadline(s);
}

run_end_reason hang_tests(supervision_state* s) {
  run_end_reason state = end_none;
  if (watching_file(s->settings)) {
    look_at_watched_file(s);
    state = test_watched_file(s);
  } else {
    state = test_silence(s->settings, &s->run);
  }
  if (s->settings->match_mode != stream_scope::none && error_string_found(s))
    state = end_error_string;
  return state;
}

int supervise(supervision_state* s) {
  int runs_begun = 0;
  for (;;) {
    s->run = run_record{};
    run_record* run = &s->run;
    print_start(s, runs_begun);
    ++runs_begun;
    if (debug(s->settings, 1)) list_command_words(s);

    if (s->adoption_pending) run->adopted = adopt_running_process(s);
    int start_error = run->adopted ? 0 : start_command(s);
    if (start_error != 0) {
      close_run_pipes(s, short_end_wait());
      release_process(&run->child);
      // The first start fails at once: a command that cannot start then is most likely
      // misspelt. Later, a reason that can pass ends only this attempt, which counts as a run
      // that lasted no time, and the start is tried again after the pause.
      if (s->run_count == 1 || !start_failure_passes(-start_error)) {
        finish_output(s->outputs, normal_end_wait(s));
        return exit_start_failed;
      }
      if (!pause_before_next_run(s, 0)) break;
      continue;
    }
    begin_run_times(s);

    pass_outcome outcome = pass_continue;
    while (outcome == pass_continue) outcome = monitoring_pass(s);
    std::int64_t run_ms = monotonic_now() - run->started;

    if (outcome == pass_stopped) end_by_stop_request(s);
    if (outcome == pass_timeout) {
      // No grace after a timeout: what the kill has not ended yet is killed again and reaped.
      stop_process(&run->child, already_asked, 0, run_scope(s));
      close_run_pipes(s, short_end_wait());
      release_process(&run->child);
      break;
    }

    bool ended = true;
    if (run->killed) {
      // The kill went out in the pass; the grace waits for the run's processes to be gone.
      ended = stop_process(&run->child, already_asked, grace_ms, run_scope(s), relay_while_waiting, s);
    }
    close_run_pipes(s, normal_end_wait(s));
    if (run->killed && !ended && !s->settings->quiet)
      say(s->outputs, "%s ****** WATCHDOG can't kill ignore [%s] ******\n", time_stamp(0), command_name(s->settings));
    if (termination_requested()) end_by_stop_request(s);
    release_process(&run->child);
    // What a run that ended by itself left running (a daemon it started) is its own business.
    if (!run->killed && !run->adopted) spare_processes_below_us(&s->spared);

    s->end_mark = mark_none;
    if (!run->killed) {
      if (s->settings->end_on_status && s->query.last_exit_status == s->settings->end_status) {
        s->end_mark = mark_exit_status;
        break;
      }
      if (s->settings->end_on_file && file_exists(s->settings->end_file)) {
        s->end_mark = mark_exit_file;
        break;
      }
    }
    if (!pause_before_next_run(s, run_ms)) break;
  }

  reap_children();
  if (!s->settings->quiet) {
    const char* insert = s->end_mark == mark_exit_status ? "<OK-exitstatus> "
                         : s->end_mark == mark_exit_file ? "<OK-exitfile> "
                                                         : "";
    say(s->outputs, "%s ****** WATCHDOG END [%s] %scount:%d ******\n", time_stamp(0), command_name(s->settings), insert,
        s->run_count);
  }
  finish_output(s->outputs, s->timed_out ? short_end_wait() : normal_end_wait(s));
  return s->result;
}
