// The hang tests. Every interval is timed on the monotonic clock; the watched file's
// modification time is only compared with the one seen before, so a step of the time of day
// neither fires the file-age test nor hides a stale file.
#include "watchdog/hang_tests.h"

#include <cstdint>
#include <ctime>

#include "common/time_stamp.h"
#include "platform/platform.h"
#include "watchdog/chunk_match.h"
#include "watchdog/messages.h"
#include "watchdog/run_settings.h"

namespace {

std::int64_t seconds_ms(int sec) { return static_cast<std::int64_t>(sec) * 1000; }

// "More than <sec> seconds" is counted in whole seconds, as the limits are given: a silence
// of 2.5 s is 2 seconds, which -m2 does not yet call a hang.
bool more_than(std::int64_t elapsed_ms, int sec) { return elapsed_ms / 1000 > sec; }

// One look at the watched file: a modification time other than the one seen before, or a
// file that has appeared, is a change, seen now.
int read_watched_file(supervision_state* s, file_time* when) {
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
  our_outputs* trace = debug(settings, debug_trace_words) ? s->outputs : nullptr;
  for (int i = 0; i < settings->pattern_count; ++i) {
    if (chunk_matches(settings->patterns[i], run->chunks.out, run->chunks.out_len, trace)) return true;
    if (settings->match_mode == stream_scope::output_and_error &&
        chunk_matches(settings->patterns[i], run->chunks.err, run->chunks.err_len, trace))
      return true;
  }
  return false;
}

run_end_reason watched_file_hang(supervision_state* s) {
  watched_file* f = &s->run.file;
  if (!more_than(s->run.now - f->base, s->settings->monitor_sec)) return end_none;
  file_time when;
  int rc = read_watched_file(s, &when);
  if (rc != 0) {
    say_error(s->outputs, s->settings->watch_file, -rc);
    return end_file_missing;
  }
  f->base = f->last_change;
  return more_than(s->run.now - f->last_change, s->settings->monitor_sec) ? end_stale_file : end_none;
}

run_end_reason silence_hang(const run_settings_record* settings, const run_record* run) {
  const int limit = settings->monitor_sec;
  bool out_silent = more_than(run->now - run->last_out, limit);
  if (settings->monitor_mode == stream_scope::output_and_error && out_silent &&
      more_than(run->now - run->last_err, limit))
    return end_silence;
  if (settings->monitor_mode == stream_scope::output_only && out_silent) return end_silence;
  return end_none;
}

void keep_watched_file_in_view(supervision_state* s) {
  if (!watching_file(s->settings)) return;
  file_time when;
  // One look a second notices each change; the debug trace looks in every pass.
  if (debug(s->settings, debug_trace_passes)) {
    int rc = read_watched_file(s, &when);
    long age = rc == 0 ? static_cast<long>(std::time(nullptr) - when.sec) : static_cast<long>(std::time(nullptr));
    say(s->outputs, "file (%s) stat:%d %ld > %d \n", s->settings->watch_file, rc == 0 ? 0 : -1, age,
        s->settings->monitor_sec);
  } else if (s->run.now - s->run.file.last_look >= 1000) {
    read_watched_file(s, &when);
  }
}

}  // namespace

void begin_run_times(supervision_state* s) {
  run_record* run = &s->run;
  run->now = now_ms(s->system);
  run->started = run->now;
  run->last_out = run->last_err = run->now;
  run->file = watched_file{};
  run->file.last_change = run->file.base = run->now;
  if (watching_file(s->settings)) {
    file_time when;
    read_watched_file(s, &when);
  }
  if (!s->timeout_started) {
    s->timeout_started = true;
    s->timeout_start = run->now;
  }
}

// The -t deadline on the monotonic clock; never (INT64_MAX) without -t or before the first run.
std::int64_t timeout_deadline(const supervision_state* s) {
  if (s->settings->timeout_sec <= 0 || !s->timeout_started) return INT64_MAX;
  return s->timeout_start + seconds_ms(s->settings->timeout_sec);
}

bool timeout_due(const supervision_state* s) { return s->run.now >= timeout_deadline(s); }

run_end_reason hang_tests(supervision_state* s) {
  run_end_reason state = end_none;
  if (watching_file(s->settings)) {
    keep_watched_file_in_view(s);
    state = watched_file_hang(s);
  } else {
    state = silence_hang(s->settings, &s->run);
  }
  if (s->settings->match_mode != stream_scope::none && error_string_found(s)) state = end_error_string;
  return state;
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
    case end_by_itself: break;
  }
}
