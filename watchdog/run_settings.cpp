// The watchdog command line: option letters, the command words, usage text and checks.
#include "watchdog/run_settings.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/program_location.h"
#include "common/version.h"

namespace {

void append_command_word(run_settings_record* settings, const char* word) {
  settings->child_argv[settings->cmd_argc] = const_cast<char*>(word);
  settings->cmd_argv[settings->cmd_argc] = quote_arg(word);
  ++settings->cmd_argc;
}

enum number_read { number_missing, number_ok, number_too_big };

// Reads a number the way "%d" (or, with `hex`, "%x") reads it: leading white space, an
// optional sign, then the digits up to the first character that does not fit; `*end` is set
// behind them. Unlike scanf, which silently wraps what does not fit, it tells a number beyond
// the 32-bit range of its field (signed for "%d", unsigned for "%x") from a good one. A
// missing number leaves `*value` as it was.
number_read read_number(const char* text, bool hex, int* value, const char** end = nullptr) {
  char* stop = nullptr;
  errno = 0;
  if (!hex) {
    long long v = std::strtoll(text, &stop, 10);
    if (stop == text) return number_missing;
    if (end != nullptr) *end = stop;
    if (errno == ERANGE || v < INT_MIN || v > INT_MAX) return number_too_big;
    *value = static_cast<int>(v);
    return number_ok;
  }
  const char* p = text;
  while (std::isspace(static_cast<unsigned char>(*p))) ++p;
  bool negative = *p == '-';
  unsigned long long v = std::strtoull(text, &stop, 16);
  if (stop == text) return number_missing;
  if (end != nullptr) *end = stop;
  // A negative number comes back negated modulo 2^64: its size is what 0 minus it gives.
  unsigned long long size = negative ? 0 - v : v;
  if (errno == ERANGE || size > UINT_MAX) return number_too_big;
  unsigned mask = static_cast<unsigned>(size);
  *value = static_cast<int>(negative ? 0u - mask : mask);
  return number_ok;
}

// A value the option cannot take: one line naming the option, its value and why, then the
// usage text.
parse_outcome refuse(char letter, const char* rest, const char* why) {
  std::fprintf(stderr, "ERROR: -%c%.64s: %s\n", letter, rest, why);
  return parse_usage;
}

constexpr const char* beyond_range = "the number is beyond the 32-bit range";
constexpr const char* seconds_above_0 = "the seconds must be a number above 0";

// A value that must be above 0: the seconds of -m, -t, -w, -k, the count of -n.
parse_outcome above_0(char letter, const char* rest, int value, const char* what) {
  return value > 0 ? parse_ok : refuse(letter, rest, what);
}

parse_outcome read_positive(char letter, const char* rest, int* value, const char* what) {
  if (read_number(rest, false, value) == number_too_big) return refuse(letter, rest, beyond_range);
  return above_0(letter, rest, *value, what);
}

// "-m" value: "%d,%s" into monitor_sec and watch_file; the file name is the text after the
// comma up to the first white space, and a name that does not fit its field is refused.
parse_outcome read_monitor_value(run_settings_record* settings, const char* rest) {
  const char* p = rest;
  number_read r = read_number(rest, false, &settings->monitor_sec, &p);
  if (r == number_too_big) return refuse('m', rest, beyond_range);
  if (r == number_missing || *p != ',') return parse_ok;
  ++p;
  while (*p != '\0' && std::isspace(static_cast<unsigned char>(*p))) ++p;
  std::size_t len = 0;
  while (p[len] != '\0' && !std::isspace(static_cast<unsigned char>(p[len]))) ++len;
  if (len == 0) return parse_ok;
  if (len >= watch_file_size) {
    std::fprintf(stderr, "ERROR: -m file name too long (max %d)\n", static_cast<int>(watch_file_size - 1));
    return parse_refused;
  }
  std::memcpy(settings->watch_file, p, len);
  settings->watch_file[len] = '\0';
  return parse_ok;
}

// "%d,%d" into two fields (-t, -k); the second number is read only when the first was and a
// comma follows it.
parse_outcome read_number_pair(char letter, const char* rest, int* first, int* second) {
  const char* p = rest;
  number_read r = read_number(rest, false, first, &p);
  if (r == number_ok && *p == ',') r = read_number(p + 1, false, second);
  return r == number_too_big ? refuse(letter, rest, beyond_range) : parse_ok;
}

// "-k" value: the grace in seconds, then the signal that asks for the end.
parse_outcome read_gentle_kill(run_settings_record* settings, const char* rest) {
  parse_outcome r = read_number_pair('k', rest, &settings->gentle_kill_sec, &settings->gentle_kill_signal);
  if (r == parse_ok) r = above_0('k', rest, settings->gentle_kill_sec, seconds_above_0);
  if (r != parse_ok) return r;
  if (settings->gentle_kill_signal < 1 || settings->gentle_kill_signal > 64)
    return refuse('k', rest, "the signal must be a number from 1 to 64");
  return parse_ok;
}

// "-m" whole: the value, the mode it switches on, and the limit's check.
parse_outcome read_monitor_option(run_settings_record* settings, const char* rest) {
  parse_outcome r = read_monitor_value(settings, rest);
  if (r != parse_ok) return r;
  if (settings->monitor_mode == stream_scope::none) settings->monitor_mode = stream_scope::output_only;
  return above_0('m', rest, settings->monitor_sec, seconds_above_0);
}

// "-s": one more pattern, while there is room for it.
parse_outcome read_pattern(run_settings_record* settings, const char* rest) {
  if (*rest == '\0') return refuse('s', rest, "the pattern is missing");
  if (settings->pattern_count >= max_patterns) {
    std::fprintf(stderr, "-s string over, max is %d\n", max_patterns);
  } else {
    std::size_t len = std::strlen(rest) - (rest[0] == '~' ? 1 : 0);
    if (len > max_pattern_length) {
      std::fprintf(stderr, "ERROR: -s string too long (max %d)\n", static_cast<int>(max_pattern_length));
      return parse_refused;
    }
    settings->patterns[settings->pattern_count++] = rest;
  }
  if (settings->match_mode == stream_scope::none) settings->match_mode = stream_scope::output_only;
  return parse_ok;
}

// "-p": a missing number or 0 means no adoption, so `-p$(cat app.pid)` starts the command when
// there is no pid file.
parse_outcome read_adoption(run_settings_record* settings, const char* rest) {
  if (read_number(rest, false, &settings->reuse_pid) == number_too_big) return refuse('p', rest, beyond_range);
  if (settings->reuse_pid < 0) return refuse('p', rest, "a process id is not negative");
  return parse_ok;
}

// "-x": an exit status the system can give; anything else could never end the cycle.
parse_outcome read_end_status(run_settings_record* settings, const char* rest) {
  settings->end_on_status = true;
  if (read_number(rest, false, &settings->end_status) == number_too_big) return refuse('x', rest, beyond_range);
  if (settings->end_status < 0 || settings->end_status > 255)
    return refuse('x', rest, "an exit status is a number from 0 to 255");
  return parse_ok;
}

parse_outcome read_timeout(run_settings_record* settings, const char* rest) {
  parse_outcome r = read_number_pair('t', rest, &settings->timeout_sec, &settings->timeout_status);
  return r != parse_ok ? r : above_0('t', rest, settings->timeout_sec, seconds_above_0);
}

parse_outcome read_end_file(run_settings_record* settings, const char* rest) {
  if (*rest == '\0') return refuse('X', rest, "the file name is missing");
  settings->end_on_file = true;
  settings->end_file = rest;
  return parse_ok;
}

parse_outcome read_debug_mask(run_settings_record* settings, const char* rest) {
  settings->debug_mask = 1;
  if (read_number(rest, true, &settings->debug_mask) == number_too_big) return refuse('d', rest, beyond_range);
  return parse_ok;
}

// A letter that takes the rest of its word as its value: the value is read (or refused) and
// the word is done.
parse_outcome read_value_option(run_settings_record* settings, char letter, const char* rest) {
  switch (letter) {
    case 'E':
      if (*rest) settings->count_env = rest;
      return parse_ok;
    case 'P':
      if (*rest) settings->pid_env = rest;
      return parse_ok;
    case 'X': return read_end_file(settings, rest);
    case 'd': return read_debug_mask(settings, rest);
    case 'k': return read_gentle_kill(settings, rest);
    case 'm': return read_monitor_option(settings, rest);
    case 'n': return read_positive('n', rest, &settings->max_count, "the count must be a number above 0");
    case 'p': return read_adoption(settings, rest);
    case 's': return read_pattern(settings, rest);
    case 't': return read_timeout(settings, rest);
    case 'w': return read_positive('w', rest, &settings->restart_pause_max, seconds_above_0);
    case 'x': return read_end_status(settings, rest);
    case 'h': return parse_usage;
    default: std::fprintf(stderr, "Option %c ??\n", letter); return parse_usage;
  }
}

// A flag letter: true when `letter` is one (and is set); the walk goes on with the next letter.
bool set_flag(run_settings_record* settings, char letter, bool* command_phase) {
  switch (letter) {
    case 'M': settings->monitor_mode = stream_scope::output_and_error; return true;
    case 'S': settings->match_mode = stream_scope::output_and_error; return true;
    case 'b': settings->b_flag = true; return true;
    case 'e': *command_phase = true; return true;
    case 'q': settings->quiet = true; return true;
    default: return false;
  }
}

// Handles the option letters of one word. Returns parse_ok to go on.
parse_outcome parse_option_word(run_settings_record* settings, const char* word, bool* command_phase) {
  for (const char* p = word + 1; *p != '\0'; ++p)
    if (!set_flag(settings, *p, command_phase)) return read_value_option(settings, *p, p + 1);
  return parse_ok;
}

}  // namespace

parse_outcome parse_command_line(int argc, char** argv, run_settings_record* settings) {
  bool command_phase = false;
  bool command_marker = false;
  for (int i = 1; i < argc; ++i) {
    const char* word = argv[i];
    bool is_command = command_phase || word[0] != '-' || command_marker;
    if (!command_phase && std::strcmp(word, "-") == 0) {
      command_marker = true;
      continue;
    }
    if (is_command) {
      if (settings->cmd_argc >= max_cmd_words) {
        std::fprintf(stderr, "ERROR: too many command words (max %d)\n", max_cmd_words);
        return parse_refused;
      }
      append_command_word(settings, word);
      command_phase = true;
      command_marker = false;
      continue;
    }
    parse_outcome r = parse_option_word(settings, word, &command_phase);
    if (r != parse_ok) return r;
  }
  return parse_ok;
}

parse_outcome check_run_settings(const run_settings_record* settings) {
  if (settings->cmd_argc == 0) {
    std::fputs("ERROR: no command\n", stderr);
    return parse_usage;
  }
  if (settings->match_mode != stream_scope::none && settings->pattern_count == 0) {
    std::fputs("ERROR: no string by -s\n", stderr);
    return parse_refused;
  }
  if (settings->b_flag) std::fputs("Mingw version is not support (-b)\n", stderr);
  return parse_ok;
}

void usage() {
  load_version();
  std::fprintf(stderr, "%s  ver %s-%s <mingw> date %s\n", program_name, "1.0", version_revision, version_date);
  std::fprintf(stderr, "    usage: %s [-options] [-e] command arg ...\n", program_name);
  std::fputs("      -h         ... this help message.\n", stderr);
  std::fprintf(stderr, "      -m[<sec>]  ... need stdout by each <sec>, sec default is %d.\n", default_monitor_sec);
  std::fputs("      -m<sec>,<file>  ... need file update by each <sec>\n", stderr);
  std::fputs("      -M         ... include stderr by -m[<sec>]\n", stderr);
  std::fputs("      -n<cnt>    ... max repeat count\n", stderr);
  std::fputs("      -s<regstr> ... hungup <regstr>\n", stderr);
  std::fputs("      -S         ... include stderr for '-s'\n", stderr);
  std::fputs("      -p<pid>    ... re-use process\n", stderr);
  std::fprintf(stderr, "      -E<count-env>    ... Count environ name (def:%s)\n", "WATCHDOG_COUNT");
  std::fprintf(stderr, "      -P<pid-env>    ... Pid environ name (def:%s)\n", "WATCHDOG_PID");
  std::fputs("      -t<sec>[,<retcd>]    ... timeout mode\n", stderr);
  std::fputs("      -x[<exitcd>]    ... watchdog finish by exiting process by <exitcd: def:0>\n", stderr);
  std::fputs("      -X<exitfile>    ... watchdog finish by exiting process by existing file\n", stderr);
  std::fputs("      -q         ... quiet mode\n", stderr);
  std::exit(1);
}

void release_command_words(run_settings_record* settings) {
  for (int i = 0; i < settings->cmd_argc; ++i) {
    std::free(settings->cmd_argv[i]);
    settings->cmd_argv[i] = nullptr;
  }
  settings->cmd_argc = 0;
}
