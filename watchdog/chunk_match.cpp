// The -s patterns against output chunks: the matcher itself knows nothing of settings or
// messages; its trace is written here.
#include "watchdog/chunk_match.h"

#include "watchdog/messages.h"
#include "watchdog/wildcmp.h"

bool chunk_matches(const char* pattern, const char* chunk, std::size_t len, our_outputs* trace) {
  int result = wildcmp(pattern, chunk, len);
  if (trace != nullptr) {
    say(trace, "wildcmp(\"%s\",\"", pattern ? pattern : "(null)");
    if (chunk != nullptr)
      say_bytes(trace, chunk, len);
    else
      say(trace, "(null)");
    say(trace, "\") : ");
    if (pattern != nullptr && chunk != nullptr)
      say(trace, "%d\n", wild_match(pattern[0] == '~' ? pattern + 1 : pattern, chunk, len));
    say(trace, "%d\n", result);
  }
  return result == 0;
}
