// framerelay: relays an IP camera's motion-JPEG stream from wget into ffmpeg, frame by frame.
#include <cstdio>

#include "common/program_location.h"
#include "framerelay/pipeline.h"
#include "framerelay/relay_loop.h"
#include "framerelay/relay_settings.h"
#include "platform/pipe.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  prepare_standard_streams();
  locate_program(argc > 0 ? argv[0] : "", program_name, sizeof program_name, program_dir, sizeof program_dir, true,
                 true, separator_rule::double_byte);
  relay_settings_record settings;
  if (parse_relay_command_line(argc, argv, &settings) != relay_parse_ok) {
    print_usage();
    return 1;
  }
  if (!encoder_vector_fits(settings)) {
    std::fprintf(stderr, "ERROR: too many ffmpeg arguments (max %d words in -1 and -2 together)\n",
                 vector_room - 1 - fixed_encoder_words(settings));
    return 1;
  }
  static platform system;
  open_platform(&system);
  return relay_loop(&system, settings);
}
