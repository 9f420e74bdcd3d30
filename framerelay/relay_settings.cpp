// The framerelay command line: options, the two encoder word lists, and the URL.
#include "framerelay/relay_settings.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/program_location.h"
#include "common/version.h"

namespace {

enum parse_mode { mode_normal, mode_list_1, mode_list_2, mode_url_next };

void append_word(word_list* list, int number, const char* word) {
  if (list->count >= max_list_words) {
    std::fprintf(stderr, "Warning: ffmpeg argument %d max over (%d)\n", number, max_list_words);
    return;
  }
  list->words[list->count++] = word;
}

// Handles one option word in normal mode; may switch the mode to a list.
relay_parse_outcome parse_option(const char* word, parse_mode* mode, relay_settings_record* settings) {
  const char* rest = word + 2;
  switch (word[1]) {
    case 's':
      settings->size_given =
          std::sscanf(rest, "%d,%d", &settings->width, &settings->height) > 0 || settings->size_given;
      break;
    case 'm': {
      // A missing number leaves the setting as it was; one below 1 or beyond the 32-bit range
      // is refused with a warning, as -r refuses 0.
      char* end = nullptr;
      long long seconds = std::strtoll(rest, &end, 10);
      if (end == rest) break;
      if (seconds < 1 || seconds > 2147483647) {
        std::fputs("Warning: -m bad value\n", stderr);
        seconds = default_stall_seconds;
      }
      settings->stall_seconds = static_cast<int>(seconds);
      settings->stall_given = true;
      break;
    }
    case 'r': {
      int value = 0;
      settings->adaptive = false;
      settings->realtime = false;
      if (std::sscanf(rest, "%d", &value) != 1) break;
      if (value > 0) {
        settings->repeat = value;
      } else if (value < 0) {
        // The negation of INT_MIN does not exist; take the largest count instead.
        settings->repeat = value == -2147483647 - 1 ? 2147483647 : -value;
        settings->adaptive = true;
      } else {
        std::fputs("Warning: -r bad value\n", stderr);
        settings->repeat = default_repeat;
      }
      break;
    }
    case 'R': settings->realtime = true; break;
    case 'd': {
      unsigned mask = 0;
      settings->debug = std::sscanf(rest, "%x", &mask) == 1 ? mask : 1;
      break;
    }
    case '1':
    case '2': {
      word_list* list = word[1] == '1' ? &settings->encoder_args_1 : &settings->encoder_args_2;
      list->count = 0;
      if (*rest != '\0') append_word(list, word[1] - '0', rest);
      *mode = word[1] == '1' ? mode_list_1 : mode_list_2;
      break;
    }
    case 'h': return relay_parse_usage;
    default: std::fprintf(stderr, "Option %c ??\n", word[1]); return relay_parse_usage;
  }
  return relay_parse_ok;
}

}  // namespace

relay_parse_outcome parse_relay_command_line(int argc, char** argv, relay_settings_record* settings) {
  *settings = relay_settings_record{};
  parse_mode mode = mode_normal;
  for (int i = 1; i < argc; ++i) {
    const char* word = argv[i];
    if (std::strcmp(word, "-") == 0) {
      mode = mode_url_next;
    } else if (mode == mode_normal && word[0] == '-') {
      if (parse_option(word, &mode, settings) != relay_parse_ok) return relay_parse_usage;
    } else if (mode == mode_list_1 || mode == mode_list_2) {
      if (std::strcmp(word, ";") == 0)
        mode = mode_normal;
      else if (mode == mode_list_1)
        append_word(&settings->encoder_args_1, 1, word);
      else
        append_word(&settings->encoder_args_2, 2, word);
    } else {
      settings->url = word;
      mode = mode_normal;
    }
  }
  if (settings->url == nullptr || settings->url[0] == '\0') return relay_parse_usage;
  if (settings->stall_given && !settings->realtime) std::fputs("Warning: -m has no effect without -R\n", stderr);
  settings->fetcher_verbose = (settings->debug & debug_fetcher_verbose) != 0;
  settings->encoder_verbose = (settings->debug & debug_encoder_verbose) != 0;
  return relay_parse_ok;
}

void print_usage() {
  load_version();
  std::fprintf(stderr, "%s  ver %s date %s\n", program_name, version_revision, version_date);
  std::fprintf(stderr, "    usage: %s [-options] URL\n", program_name);
  std::fprintf(stderr, "      -s<w,h>  ... size (def:%d,%d)\n", default_width, default_height);
  std::fputs("      URL    ... for IPCamera videostream.\n", stderr);
  std::fputs("      -1 arg1 arg2 ... ;   ffmpeg args 1\n", stderr);
  std::fputs("      -2 arg1 arg2 ... ;   ffmpeg args 2\n", stderr);
  std::fputs("      -h     ... this help message.\n", stderr);
  std::fprintf(stderr, "      -r<rep> ... repeat (def: %d).\n", default_repeat);
}
