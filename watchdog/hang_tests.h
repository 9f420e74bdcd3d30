// The tests a monitoring pass makes once the pipes are read: the -t timeout, output silence,
// the watched file's age and the error patterns; and the hang line each finding prints.
#pragma once
#include <cstdint>

#include "watchdog/supervise.h"

// The run's start on the monotonic clock: the silence and file-age tests count from it, and
// the first run's start is where the -t timeout counts from.
void begin_run_times(supervision_state* state);

// The -t deadline on the monotonic clock; never (INT64_MAX) without -t or before the first run.
std::int64_t timeout_deadline(const supervision_state* state);
bool timeout_due(const supervision_state* state);

// The hang a pass finds (end_silence, end_error_string, end_stale_file, end_file_missing), or
// end_none. Looks at the watched file when one is due.
run_end_reason hang_tests(supervision_state* state);

// The "--hung up--" line for a hang found.
void print_hang(const supervision_state* state, run_end_reason reason);
