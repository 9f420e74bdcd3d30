// The run settings of watchdog: a record filled once from the command line and read-only after.
#pragma once
#include <cstddef>

#include "watchdog/wildcmp.h"

constexpr int max_patterns = 64;
constexpr int cmd_slots = 255;  // the last one is kept for the null entry
constexpr int max_cmd_words = cmd_slots - 1;
constexpr std::size_t watch_file_size = 512;
constexpr int default_monitor_sec = 60;
constexpr int default_timeout_status = 99;

// Bits of the -d mask.
constexpr unsigned debug_trace_words = 1;   // the matcher, the command words, adoption, how runs are held
constexpr unsigned debug_trace_passes = 2;  // the command words before a start, polling, reading, the watched file

// Which of the child's streams a test looks at.
enum class stream_scope {
  none,              // no such test
  output_only,       // standard output (-m, -s)
  output_and_error,  // standard output and standard error (-M, -S)
};

struct run_settings_record {
  const char* count_env = "WATCHDOG_COUNT";        // -E: variable with "run count,end reason"
  const char* pid_env = "WATCHDOG_PID";            // -P: variable with the supervisor's pid
  int monitor_sec = default_monitor_sec;           // -m: silence or file-age limit in seconds
  stream_scope monitor_mode = stream_scope::none;  // the silence test: -m, -M
  char watch_file[watch_file_size] = {};           // -m<sec>,<file>: file-age test instead of silence
  stream_scope match_mode = stream_scope::none;    // the pattern test: -s, -S
  const char* patterns[max_patterns] = {};         // -s: wildcard patterns in command-line order
  int pattern_count = 0;
  int reuse_pid = 0;           // -p: running process to adopt (the cycle notes the adoption)
  bool quiet = false;          // -q: no WATCHDOG messages
  int max_count = 0;           // -n: stop after this many runs; 0 no bound
  bool b_flag = false;         // -b: only a warning
  bool end_on_status = false;  // -x: stop when a run ends by itself with end_status
  int end_status = 0;
  bool end_on_file = false;  // -X: stop when a run ends by itself and end_file exists
  const char* end_file = nullptr;
  int timeout_sec = 0;                          // -t: end everything this long after the first start
  int timeout_status = default_timeout_status;  // -t<sec>,<retcd>: our exit status then
  int restart_pause_max = 0;                    // -w: the restart pause grows up to this many seconds; 0: 1 s
  // -k: a hang or timeout first sends gentle_kill_signal, then waits this long; 0: kill at once.
  int gentle_kill_sec = 0;
  int gentle_kill_signal = 15;  // -k<sec>,<signal>: that signal (SIGTERM by default)
  int debug_mask = 0;           // -d: bit 1 matcher/words/adoption, bit 2 start/poll/read/file
  int cmd_argc = 0;
  char* cmd_argv[cmd_slots] = {};    // the display words: quoted, shown in messages and traces
  char* child_argv[cmd_slots] = {};  // the words as given: the argument vector the child receives
};

// What the settings ask for, as the cycle asks it.
inline bool debug(const run_settings_record* settings, unsigned bit) {
  return (static_cast<unsigned>(settings->debug_mask) & bit) != 0;
}
inline bool watching_file(const run_settings_record* settings) { return settings->watch_file[0] != '\0'; }

// Outcome of parsing and of the checks after it.
enum parse_outcome {
  parse_ok = 0,
  parse_usage,   // print the version line and usage text, exit 1
  parse_refused  // the message is out; exit 1 without the usage text
};

// Parses argv[1..argc-1] into `settings` (a fresh record), writing the option messages on stderr.
parse_outcome parse_command_line(int argc, char** argv, run_settings_record* settings);

// The checks after parsing: no command, -S without a pattern, the -b warning.
parse_outcome check_run_settings(const run_settings_record* settings);

// Version line and usage text on stderr, then exit status 1.
[[noreturn]] void usage();

// The quoted form of one command word, as a new heap text that lives until exit.
char* quote_arg(const char* word);

// Frees the quoted display words of a record that is no longer used.
void release_command_words(run_settings_record* settings);
