// Fuzz target: the framerelay command line and the encoder vector built from it.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "framerelay/pipeline.h"
#include "framerelay/relay_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The parser's own messages go nowhere; sanitizer and fuzzer reports still reach fd 2.
  static std::FILE* devnull = std::fopen("/dev/null", "w");
  std::FILE* saved_stderr = stderr;
  stderr = devnull;
  std::vector<std::string> words = {"framerelay"};
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
  reset_relay_settings();
  if (parse_relay_command_line(static_cast<int>(words.size()), argv.data()) == relay_parse_ok) {
    const char* vector[vector_room];
    int count = 0;
    build_fetcher_vector(vector);
    if (build_encoder_vector(vector, &count) && (count >= vector_room || vector[count] != nullptr)) __builtin_trap();
  }
  stderr = saved_stderr;
  return 0;
}
