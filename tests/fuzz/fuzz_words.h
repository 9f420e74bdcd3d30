// Turns fuzz input into a command line: words separated by NUL bytes, after a program name.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct fuzz_command_line {
  std::vector<std::string> words;
  std::vector<char*> argv;
  int argc() const { return static_cast<int>(words.size()); }
};

inline void split_fuzz_words(const uint8_t* data, size_t size, const char* program, fuzz_command_line* line) {
  line->words = {program};
  std::string word;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      line->words.push_back(word);
      word.clear();
    } else {
      word += static_cast<char>(data[i]);
    }
  }
  line->words.push_back(word);
  line->argv.clear();
  for (auto& w : line->words) line->argv.push_back(w.data());
  line->argv.push_back(nullptr);
}

// While it lives, the parser's own messages go nowhere; sanitizer and fuzzer reports, which
// write to descriptor 2 directly, still get through.
class silenced_stderr {
 public:
  silenced_stderr() : saved_(stderr) { stderr = devnull(); }
  ~silenced_stderr() { stderr = saved_; }
  silenced_stderr(const silenced_stderr&) = delete;
  silenced_stderr& operator=(const silenced_stderr&) = delete;

 private:
  static std::FILE* devnull() {
    static std::FILE* sink = std::fopen("/dev/null", "w");
    return sink;
  }
  std::FILE* saved_;
};
