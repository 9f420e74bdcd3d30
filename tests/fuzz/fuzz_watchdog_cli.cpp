// Fuzz target: the watchdog command line, words separated by NUL bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "tests/fuzz/fuzz_words.h"
#include "watchdog/run_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  silenced_stderr quiet;
  static fuzz_command_line line;
  split_fuzz_words(data, size, "watchdog", &line);
  static run_settings_record settings;
  settings = run_settings_record{};
  if (parse_command_line(line.argc(), line.argv.data(), &settings) == parse_ok) check_run_settings(&settings);
  if (settings.cmd_argc > max_cmd_words || settings.pattern_count > max_patterns) __builtin_trap();
  release_command_words(&settings);
  return 0;
}
