// Fuzz target: the watchdog command line, words separated by NUL bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "watchdog/run_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The parser's own messages go nowhere; sanitizer and fuzzer reports still reach fd 2.
  static std::FILE* devnull = std::fopen("/dev/null", "w");
  std::FILE* saved_stderr = stderr;
  stderr = devnull;
  std::vector<std::string> words = {"watchdog"};
  std::string word;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      words.push_back(word);
      word.clear();
    } else {
      word += static_cast<char>(data[i]);
    }
  }
  words.push_back(word);
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  reset_run_settings();
  if (parse_command_line(static_cast<int>(words.size()), argv.data()) == parse_ok) check_run_settings();
  if (run_settings.cmd_argc > max_cmd_words || run_settings.pattern_count > max_patterns) __builtin_trap();
  reset_run_settings();
  stderr = saved_stderr;
  return 0;
}
