// Turns fuzz input into a command line: words separated by NUL bytes, after a program name.
#pragma once
#include <cstddef>
#include <cstdint>
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
