// Fuzz target: the framerelay command line and the encoder vector built from it.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "tests/fuzz/fuzz_words.h"
#include "framerelay/pipeline.h"
#include "framerelay/relay_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  silenced_stderr quiet;
  static fuzz_command_line line;
  split_fuzz_words(data, size, "framerelay", &line);
  reset_relay_settings();
  if (parse_relay_command_line(line.argc(), line.argv.data()) == relay_parse_ok) {
    const char* vector[vector_room];
    int count = 0;
    build_fetcher_vector(vector);
    if (build_encoder_vector(vector, &count) && (count >= vector_room || vector[count] != nullptr)) __builtin_trap();
  }
  return 0;
}
