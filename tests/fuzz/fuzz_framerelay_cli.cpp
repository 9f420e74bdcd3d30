// Fuzz target: the framerelay command line, the encoder vector built from it, and the URL as
// the listing masks it.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "framerelay/pipeline.h"
#include "framerelay/relay_settings.h"
#include "tests/fuzz/fuzz_words.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  silenced_stderr quiet;
  static fuzz_command_line line;
  split_fuzz_words(data, size, "framerelay", &line);
  relay_settings_record settings;
  if (parse_relay_command_line(line.argc(), line.argv.data(), &settings) == relay_parse_ok) {
    const char* fetcher[vector_room];
    build_fetcher_vector(settings, fetcher);
    if (masked_url(settings.url).empty() && settings.url[0] != '\0') __builtin_trap();
    encoder_vector encoder;
    if (build_encoder_vector(settings, &encoder) &&
        (encoder.count >= vector_room || encoder.argv[encoder.count] != nullptr))
      __builtin_trap();
  }
  return 0;
}
