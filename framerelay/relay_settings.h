// The relay settings of framerelay: one record filled from the command line, read-only after.
#pragma once

constexpr int max_list_words = 128;
constexpr int default_width = 640;
constexpr int default_height = 480;
constexpr int default_repeat = 40;
constexpr int default_stall_seconds = 10;

// Bits of the -d mask.
constexpr unsigned debug_marker_trace = 0x02;     // the start and end markers on stderr
constexpr unsigned debug_fetcher_verbose = 0x10;  // wget's own messages
constexpr unsigned debug_encoder_verbose = 0x20;  // ffmpeg's own messages

// Extra encoder words given with -1 ... ; or -2 ... ;
struct word_list {
  const char* words[max_list_words] = {};
  int count = 0;
};

struct relay_settings_record {
  const char* url = nullptr;  // the camera's stream URL, handed to the fetcher
  int width = default_width;  // -s<w,h>: frame size handed to the encoder
  int height = default_height;
  bool size_given = false;                    // -s was given: under -R, the size the camera is expected to send
  int repeat = default_repeat;                // -r: times each frame is fed, or the adaptive base
  bool adaptive = false;                      // -r with a negative value: count follows frame spacing
  bool realtime = false;                      // -R: the recording follows the wall clock (the last of -r/-R wins)
  int stall_seconds = default_stall_seconds;  // -m: under -R, the camera is lost after this long without a byte
  bool stall_given = false;
  unsigned debug = 0;  // -d: a mask of the debug_* bits
  bool fetcher_verbose = false;
  bool encoder_verbose = false;
  word_list encoder_args_1;  // after the encoder's input, before its output options
  word_list encoder_args_2;  // after the output options, before the output name
};

enum relay_parse_outcome { relay_parse_ok = 0, relay_parse_usage };

// Parses argv[1..argc-1] into `settings` (which starts as a fresh record), with the warnings on
// stderr, and derives the verbose switches. relay_parse_usage means: print the usage text and
// end with status 1.
relay_parse_outcome parse_relay_command_line(int argc, char** argv, relay_settings_record* settings);

// Version line and usage text on stderr (the caller ends with exit status 1).
void print_usage();
