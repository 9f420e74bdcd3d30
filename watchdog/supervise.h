// The supervision cycle: start, watch, kill and restart the command until an end holds.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/file_status.h"
#include "platform/process.h"
#include "watchdog/child_status.h"
#include "watchdog/output_queue.h"
#include "watchdog/relay.h"
#include "watchdog/restart_pause.h"
#include "watchdog/run_settings.h"

// How the latest run ended. The number reaches the next child in the count variable.
enum run_end_reason : int {
  end_none = 0,          // no run has ended yet
  end_by_itself = 1,     // the child ended on its own
  end_silence = 2,       // killed: no output for more than -m seconds
  end_error_string = 3,  // killed: an -s pattern hit
  end_stale_file = 4,    // killed: the watched file was not updated
  end_file_missing = 5,  // killed: the watched file could not be examined
};

// Why the cycle ended, shown in the END line.
enum cycle_end_mark : int { mark_none = 0, mark_exit_status = 1, mark_exit_file = 2 };

// watchdog's exit statuses besides the -t status (default 99).
constexpr int exit_done = 0;             // the cycle ended normally
constexpr int exit_start_failed = 1;     // a command-line error, or the command cannot be started
constexpr int exit_condition_unmet = 2;  // -x or -X was given, and the runs ran out without it

// Where the file-age test reads a file's modification time; tests replace it.
using file_time_source = int (*)(const char* path, file_time* when);

// The watched file (-m<sec>,<file>) as the cycle has seen it. Its modification time is only
// compared with the one seen before; how long it stays unchanged is timed on the monotonic
// clock, so a step of the time of day neither fires the test nor hides a stale file.
struct watched_file {
  bool looked = false;           // examined at least once in this run
  bool present = false;          // found at the last look
  file_time mtime;               // its modification time then
  std::int64_t last_change = 0;  // when a change was first seen (the run's start before that)
  std::int64_t base = 0;         // the next check is due -m seconds after this
  std::int64_t last_look = 0;
};

// Values that live for one run.
struct run_record {
  process_handle child;
  bool adopted = false;
  bool killed = false;
  run_chunks chunks;          // what the pass read from the run's pipes
  std::int64_t started = 0;   // monotonic milliseconds at the run's start
  std::int64_t now = 0;       // monotonic milliseconds, taken after each poll
  std::int64_t last_out = 0;  // when the child was last seen writing to its stdout
  std::int64_t last_err = 0;
  watched_file file;
};

// Everything the cycle keeps, handed down to every step.
struct supervision_state {
  const run_settings_record* settings = nullptr;  // as parsed; the cycle only reads them
  platform* system = nullptr;                     // the platform record: waits, processes, the stop request, the clock
  our_outputs* outputs = nullptr;                 // our standard output and standard error
  relay_unit relay;                               // moves the children's output to them
  int run_count = 0;                              // children started so far (adoptions do not count)
  run_end_reason end_reason = end_none;           // how the latest run ended
  cycle_end_mark end_mark = mark_none;            // why the cycle ended
  bool timeout_started = false;
  bool timed_out = false;          // the cycle ended by the -t timeout
  std::int64_t timeout_start = 0;  // start of the first run, for -t (monotonic ms)
  bool adoption_pending = false;   // -p not yet adopted
  int result = exit_done;
  child_query query;        // how the child is asked about, and its last exit status
  spared_processes spared;  // what runs that ended by themselves left running
  restart_pause pause;      // how the pause before the next restart grows (-w)
  file_time_source file_time = file_modification_time;
  run_record run;
};

// A fresh state for the settings as parsed, our opened output queues and the platform record,
// which must all outlive it.
void init_supervision(supervision_state* state, const run_settings_record* settings, our_outputs* outputs,
                      platform* system);

// Runs the cycle; returns the exit status (exit_done, the -t status, exit_condition_unmet, or
// exit_start_failed when the command cannot be started). Ends the process by the signal
// after a stop request, once the run's processes are ended.
int supervise(supervision_state* state);
