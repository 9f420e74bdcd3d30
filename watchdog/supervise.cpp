// The supervision cycle. Each run starts the command (or adopts a running process), then
// makes monitoring passes: status query, the wait for data, one read per ready pipe relayed to
// our own output queues, the timeout test and the hang tests. A hang ends the child and every
// process the run started; after the grace wait and a one-second pause the next run starts,
// until a repeat bound or end condition holds. Every interval is timed on the monotonic clock.
#include "watchdog/supervise.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/monotonic_clock.h"
#include "common/time_stamp.h"
#include "platform/pipe.h"
#include "platform/platform.h"
#include "platform/run_cgroup.h"
#include "platform/signal.h"
#include "platform/system_error.h"
#include "platform/wait.h"
#include "watchdog/child_status.h"
#include "watchdog/hang_tests.h"
#include "watchdog/messages.h"
#include "watchdog/output_queue.h"
#include "watchdog/run_settings.h"

namespace {

constexpr long grace_ms = 3000;       // a killed or asked child's time to end
constexpr long pause_ms = 1000;       // between runs
constexpr long pass_wait_ms = 1000;   // the longest idle wait of a pass
constexpr long end_wait_ms = 10000;   // how long a normal end waits on a reader taking nothing
constexpr long short_wait_ms = 1000;  // the same after a timeout or a stop request
constexpr long unread_wait_ms = 250;  // the idle wait while silence is watched on an unread pipe

enum pass_outcome { pass_continue, pass_child_ended, pass_killed, pass_timeout, pass_stopped };

const char* command_name(const run_settings_record* settings) { return settings->cmd_argv[0]; }

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

// Starts the command, on two new pipes when its output is relayed. 0, or -errno with the
// reason said when it cannot be started.
int start_command(supervision_state* s) {
  run_record* run = &s->run;
  ++s->run_count;
  std::vector<std::string> entries;
  std::vector<char*> environment = child_environment(s, &entries);
  int out_pipe[2] = {-1, -1};
  int err_pipe[2] = {-1, -1};
  if (redirect_mode(s->settings)) {
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
          system_error_text(-rc));
      return rc;
    }
  }
  if (debug(s->settings, debug_trace_passes)) list_command_words(s);

  child_stdio stdio;
  stdio.out = out_pipe[1];
  stdio.err = err_pipe[1];
  child_setup setup;
  setup.own_cgroup = true;                  // where the system allows it, a cgroup holds all the run starts
  setup.parent_death_signal = kill_signal;  // killed outright, we take the child with us
  int rc = spawn_process(s->system, &run->child, s->settings->child_argv, stdio, environment.data(),
                         s->settings->cmd_argv, setup);
  // The child holds the only write ends now, so reads see the end when it is gone.
  close_fd(&out_pipe[1]);
  close_fd(&err_pipe[1]);
  if (rc < 0) {
    close_fd(&out_pipe[0]);
    close_fd(&err_pipe[0]);
    say_error(s->outputs, command_name(s->settings), -rc);
    return rc;
  }
  relay_run_pipes(&s->relay, out_pipe[0], err_pipe[0]);
  if (debug(s->settings, debug_trace_passes)) say(s->outputs, "pid: %d\n", process_id_of(&run->child));
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
    default: return false;
  }
}

bool adopt_running_process(supervision_state* s) {
  if (debug(s->settings, debug_trace_words)) say(s->outputs, "check process (%d)\n", s->settings->reuse_pid);
  process_handle handle;
  if (adopt_process(s->system, &handle, s->settings->reuse_pid) != 0) return false;
  if (!child_running(&handle, &s->query)) {
    release_process(&handle);
    return false;
  }
  if (debug(s->settings, debug_trace_words)) say(s->outputs, "process exist A\n");
  s->run.child = handle;
  s->adoption_pending = false;
  return true;
}

// The cycle must stop now: a stop request, or a reader of ours that has gone.
bool must_stop(const relay_unit* relay) {
  return stop_request(relay->system) != 0 || stream_reader_gone(relay) != no_stream;
}

// A stop request has come (a reader that has gone is not one).
bool stop_requested(const relay_unit* relay) { return stop_request(relay->system) != 0; }

bool stop_due(const supervision_state* s) { return must_stop(&s->relay); }

// Waits up to `ms`, relaying output; a stop ends it early.
void wait_writing_output(supervision_state* s, long ms) { relay_for(&s->relay, ms, must_stop); }

// A grace wait's step: the child's output is still relayed while it ends, as far as our
// readers take it, so the child feels their pace as in a pass. This grace (the one of a stop)
// has its own deadline: nothing cuts its steps short.
bool relay_while_waiting(long ms, void* context) {
  relay_for(&static_cast<supervision_state*>(context)->relay, ms, nullptr);
  return true;
}

// The same in the grace after a hang or a timeout, which a stop ends at once.
bool relay_until_stop(long ms, void* context) {
  auto* s = static_cast<supervision_state*>(context);
  return relay_for(&s->relay, ms, must_stop);
}

// The grace -k gives the run's processes after its signal (0 without -k).
long gentle_grace_ms(const supervision_state* s) { return s->settings->gentle_kill_sec * 1000L; }

// Milliseconds until the -t deadline; effectively never without -t.
std::int64_t until_deadline(const supervision_state* s) {
  std::int64_t deadline = timeout_deadline(s);
  return deadline == INT64_MAX ? INT64_MAX : deadline - now_ms(s->system);
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
void look_for_output(supervision_state* s) {
  run_record* run = &s->run;
  if (run_pipe_written(&s->relay, out_stream)) run->last_out = run->now;
  if (s->settings->monitor_mode == stream_scope::output_and_error && run_pipe_written(&s->relay, err_stream))
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

void trace_reads(const supervision_state* s, unsigned streams) {
  const run_record* run = &s->run;
  int out_fd = run_pipe(&s->relay, out_stream), err_fd = run_pipe(&s->relay, err_stream);
  if (streams & out_stream) say(s->outputs, "fd:%d is valid\n", out_fd);
  if (streams & err_stream) say(s->outputs, "fd:%d is valid\n", err_fd);
  say(s->outputs, "%d\n", ((streams & out_stream) ? 1 : 0) + ((streams & err_stream) ? 1 : 0));
  if (streams & out_stream) say(s->outputs, "outfd:%d read()\n", out_fd);
  if (streams & err_stream) {
    say(s->outputs, "errfd:%d read()\n", err_fd);
    say(s->outputs, "|");
    say_bytes(s->outputs, run->chunks.err, run->chunks.err_len);
    say(s->outputs, "|\n");
  }
}

// Passes SIGUSR1 and SIGUSR2 that reached us on to the child.
void forward_signals(supervision_state* s) {
  unsigned pending = take_forwarded_signals(s->system);
  for (int sig = 1; pending != 0 && sig < 32; ++sig) {
    if (!(pending >> sig & 1)) continue;
    pending &= ~(1u << sig);
    signal_process(&s->run.child, sig);
  }
}

// The hang or the timeout is dealt with: everything the run started is killed at once, or,
// with -k, first asked to end with the signal of -k.
void end_run_processes(supervision_state* s) {
  if (s->settings->gentle_kill_sec > 0)
    signal_process_tree(&s->run.child, s->settings->gentle_kill_signal, run_scope(s));
  else
    end_child(&s->run.child, run_scope(s));
}

pass_outcome monitoring_pass(supervision_state* s) {
  run_record* run = &s->run;
  if (stop_due(s)) return pass_stopped;
  forward_signals(s);
  if (!child_running(&run->child, &s->query)) {
    s->end_reason = end_by_itself;
    return pass_child_ended;
  }
  // A stream whose backlog is full is not read: its child waits, as on a stalled reader.
  bool left_unread = run_pipe_left_unread(&s->relay);
  if (debug(s->settings, debug_trace_passes)) say(s->outputs, "select ... ");
  bool waited = false;
  unsigned streams = relay_pass(&s->relay, pass_wait(s, left_unread), &run->chunks, &waited);
  run->now = now_ms(s->system);
  if (debug(s->settings, debug_trace_passes)) trace_reads(s, streams);
  // Between the reads of a flowing stream the child is surely not silent; the look waits for
  // a pass that waited.
  if (waited && !run->adopted && silence_watched(s->settings)) look_for_output(s);

  if (stop_due(s)) return pass_stopped;
  if (timeout_due(s)) {
    declare_timeout(s);
    end_run_processes(s);
    return pass_timeout;
  }
  if (s->settings->monitor_mode == stream_scope::none && s->settings->match_mode == stream_scope::none &&
      !watching_file(s->settings))
    return pass_continue;

  run_end_reason hang = hang_tests(s);
  if (hang == end_none) return pass_continue;
  if (!s->settings->quiet) print_hang(s, hang);
  end_run_processes(s);
  s->end_reason = hang;
  run->killed = true;
  return pass_killed;
}

// How long output is waited for at a normal end: while our readers keep taking bytes, up to
// 10 s in which they take nothing, ended at once by a stop request and by the -t deadline.
reader_wait normal_end_wait(const supervision_state* s) {
  return reader_wait{end_wait_ms, stop_requested, timeout_deadline(s)};
}

// After a timeout or a stop request the wait stays short.
reader_wait short_end_wait() { return reader_wait{short_wait_ms, nullptr, INT64_MAX}; }

// How the child ended, as the run's end line says it.
void describe_child_end(const process_handle& child, char* text, std::size_t size) {
  if (!child.exit_code_known)
    std::snprintf(text, size, "ended, exit status unknown");
  else if (child.end_signal != 0)
    std::snprintf(text, size, "killed by signal %d%s", child.end_signal, child.core_dumped ? ", core dumped" : "");
  else
    std::snprintf(text, size, "exit status %d", child.exit_code);
}

void report_run_end(const supervision_state* s, const char* how) {
  if (!s->settings->quiet)
    say(s->outputs, "%s ****** WATCHDOG run ended (%s) [%s] ******\n", time_stamp(0), how, command_name(s->settings));
}

void report_child_end(const supervision_state* s) {
  char how[96];
  describe_child_end(s->run.child, how, sizeof how);
  report_run_end(s, how);
}

void print_end(const supervision_state* s) {
  if (s->settings->quiet) return;
  const char* insert = s->end_mark == mark_exit_status ? "<OK-exitstatus> "
                       : s->end_mark == mark_exit_file ? "<OK-exitfile> "
                                                       : "";
  say(s->outputs, "%s ****** WATCHDOG END [%s] %scount:%d ******\n", time_stamp(0), command_name(s->settings), insert,
      s->run_count);
}

bool run_in_progress(const run_record* run) { return process_held(&run->child); }

// Says why we stop: the signal, or the reader of ours that has gone.
void announce_stop(const supervision_state* s, int sig, unsigned lost_reader) {
  if (lost_reader != no_stream) {
    say(s->outputs, "ERROR: the reader of %s has gone: the run is stopped and watchdog ends\n",
        stream_name(lost_reader));
  } else if (!s->settings->quiet) {
    char name[32];
    say(s->outputs, "%s ****** WATCHDOG stop by signal %d (%s) [%s] ******\n", time_stamp(0), sig,
        signal_name(sig, name, sizeof name), command_name(s->settings));
  }
}

// We were asked to end, or a reader of ours has gone: every process of the run gets the
// signal (SIGTERM for a lost reader) and the grace wait, while its output is still relayed;
// whatever still runs then is killed. Then we end by that signal, or as a pipeline's writer
// whose reader has gone ends.
[[noreturn]] void end_by_stop(supervision_state* s) {
  unsigned lost_reader = stop_request(s->system) != 0 ? no_stream : stream_reader_gone(&s->relay);
  int sig = lost_reader != no_stream ? SIGTERM : stop_request(s->system);
  announce_stop(s, sig, lost_reader);
  run_record* run = &s->run;
  if (run_in_progress(run)) {
    bool ended = stop_process(&run->child, ask_with_signal(sig), grace_ms, run_scope(s), relay_while_waiting, s);
    // A run the stop found being ended for a hang or the timeout ends as that.
    if (run->killed)
      report_run_end(s, "hang kill");
    else if (s->timed_out)
      report_run_end(s, "timeout");
    else if (!ended && process_status(&run->child) == process_state::running)
      report_run_end(s, "can't kill");
    else
      report_child_end(s);
  }
  relay_end_run(&s->relay, false, short_end_wait());
  release_process(&run->child);
  end_run_cgroups(s->system);
  print_end(s);
  finish_relay(&s->relay, short_end_wait());
  if (lost_reader != no_stream) die_as_broken_pipe_writer();
  die_by_signal(sig);
}

bool runs_ran_out(const supervision_state* s) {
  return s->settings->max_count != 0 && s->run_count >= s->settings->max_count;
}

// The pause after a run that lasted `run_ms`; false when no run follows it.
bool pause_before_next_run(supervision_state* s, std::int64_t run_ms) {
  if (runs_ran_out(s)) {
    // No restart follows: the pause before the end stays the second it always was.
    wait_writing_output(s, pause_ms);
    if (stop_due(s)) end_by_stop(s);
    // The runs ran out before the awaited end: that is a failure the caller must see.
    if (s->settings->end_on_status || s->settings->end_on_file) s->result = exit_condition_unmet;
    return false;
  }
  // Output dropped in the run just ended is said before the next one begins.
  report_dropped_output(&s->relay);
  std::int64_t pause = next_restart_pause(&s->pause, run_ms, s->settings->restart_pause_max);
  if (pause > pause_ms && !s->settings->quiet)
    say(s->outputs, "%s ****** WATCHDOG restart pause (%d sec) [%s] ******\n", time_stamp(0),
        static_cast<int>(pause / 1000), command_name(s->settings));
  // The deadline holds between runs too: it ends the pause, and no run starts after it.
  wait_writing_output(s, static_cast<long>(std::max<std::int64_t>(0, std::min(pause, until_deadline(s)))));
  if (stop_due(s)) end_by_stop(s);
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

void init_supervision(supervision_state* state, const run_settings_record* settings, our_outputs* outputs,
                      platform* system) {
  *state = supervision_state{};
  state->settings = settings;
  state->outputs = outputs;
  state->system = system;
  open_relay(&state->relay, outputs, system);
  state->query = read_child_query();
  state->adoption_pending = settings->reuse_pid != 0;
}

namespace {

// A start that failed: said, and either the end of the cycle with exit_start_failed (false)
// or, for a reason that can pass, the pause before the next attempt (true; `*go_on` is false
// when the pause ended the cycle).
bool after_failed_start(supervision_state* s, int start_error, bool* go_on) {
  char how[128];
  std::snprintf(how, sizeof how, "could not start: %s", system_error_text(-start_error));
  report_run_end(s, how);
  release_process(&s->run.child);
  // The first start fails at once: a command that cannot start then is most likely misspelt.
  // Later, a reason that can pass ends only this attempt, which counts as a run that lasted no
  // time, and the start is tried again after the pause.
  if (s->run_count == 1 || !start_failure_passes(-start_error)) return false;
  *go_on = pause_before_next_run(s, 0);
  return true;
}

// No grace after a timeout unless -k asked for one: what has not ended yet is killed (again)
// and reaped.
void end_timed_out_run(supervision_state* s) {
  run_record* run = &s->run;
  if (!stop_process(&run->child, already_asked, gentle_grace_ms(s), run_scope(s), relay_until_stop, s) && stop_due(s))
    end_by_stop(s);
  report_run_end(s, "timeout");
  relay_end_run(&s->relay, false, short_end_wait());
  release_process(&run->child);
}

// After a hang: with -k, its grace for the signal it sent (what is left then is killed); then
// the grace for the kill. A stop request ends the waiting at once. True when every process
// ended.
bool end_hung_run(supervision_state* s) {
  run_record* run = &s->run;
  if (s->settings->gentle_kill_sec > 0) {
    if (stop_process(&run->child, already_asked, gentle_grace_ms(s), run_scope(s), relay_until_stop, s)) return true;
    if (stop_due(s)) end_by_stop(s);
  }
  bool ended = stop_process(&run->child, already_asked, grace_ms, run_scope(s), relay_until_stop, s);
  if (!ended && stop_due(s)) end_by_stop(s);
  return ended;
}

// The run is over (its child ended, or it was killed for a hang): its end is said, its pipes
// closed (or kept for what it spared), its handle released. True when the cycle ends here.
bool finish_run(supervision_state* s) {
  run_record* run = &s->run;
  bool ended = !run->killed || end_hung_run(s);
  // What a run that ended by itself left running keeps its pipes and its output.
  relay_end_run(&s->relay, !run->killed && !run->adopted, normal_end_wait(s));
  if (run->killed && !ended && !s->settings->quiet)
    say(s->outputs, "%s ****** WATCHDOG can't kill ignore [%s] ******\n", time_stamp(0), command_name(s->settings));
  if (stop_due(s)) end_by_stop(s);
  if (run->killed)
    report_run_end(s, "hang kill");
  else
    report_child_end(s);
  release_process(&run->child);
  // What a run that ended by itself left running (a daemon it started) is its own business.
  if (!run->killed && !run->adopted) spare_processes_below_us(s->system, &s->spared);
  s->end_mark = mark_none;
  if (run->killed) return false;
  if (s->settings->end_on_status && s->query.last_exit_status == s->settings->end_status)
    s->end_mark = mark_exit_status;
  else if (s->settings->end_on_file && file_exists(s->settings->end_file))
    s->end_mark = mark_exit_file;
  return s->end_mark != mark_none;
}

enum start_outcome { start_running, start_failed_retry, start_cycle_over, start_refused };

// Adopts the -p process or starts the command, and starts the run's clocks.
start_outcome start_run(supervision_state* s) {
  run_record* run = &s->run;
  if (s->adoption_pending) run->adopted = adopt_running_process(s);
  int start_error = run->adopted ? 0 : start_command(s);
  if (start_error == 0) {
    begin_run_times(s);
    return start_running;
  }
  bool go_on = false;
  if (!after_failed_start(s, start_error, &go_on)) return start_refused;
  return go_on ? start_failed_retry : start_cycle_over;
}

}  // namespace

int supervise(supervision_state* s) {
  int runs_begun = 0;
  for (;;) {
    s->run = run_record{};
    run_record* run = &s->run;
    print_start(s, runs_begun);
    ++runs_begun;
    if (debug(s->settings, debug_trace_words)) list_command_words(s);
    take_forwarded_signals(s->system);  // what came between runs was meant for a child that has gone

    start_outcome started = start_run(s);
    if (started == start_refused) {
      finish_relay(&s->relay, normal_end_wait(s));
      return exit_start_failed;
    }
    if (started == start_cycle_over) break;
    if (started == start_failed_retry) continue;

    pass_outcome outcome = pass_continue;
    while (outcome == pass_continue) outcome = monitoring_pass(s);
    std::int64_t run_ms = now_ms(s->system) - run->started;

    if (outcome == pass_stopped) end_by_stop(s);
    if (outcome == pass_timeout) {
      end_timed_out_run(s);
      break;
    }
    if (finish_run(s) || !pause_before_next_run(s, run_ms)) break;
  }

  reap_children(s->system);
  print_end(s);
  finish_relay(&s->relay, s->timed_out ? short_end_wait() : normal_end_wait(s));
  // A stop that ended the wait for our readers after END still ends us by its signal.
  if (stop_request(s->system) != 0) die_by_signal(stop_request(s->system));
  return s->result;
}
