// The -s patterns against output chunks: the matcher itself knows nothing of settings or
// messages; its trace is written here.
#include "watchdog/chunk_match.h"

#include "watchdog/messages.h"
#include "watchdog/wildcmp.h"

bool chunk_matches(const char* pattern, const char* chunk, std::size_t len, bool trace) {
  int result = wildcmp(pattern, chunk, len);
  if (trace) {
    say("wildcmp(\"%s\",\"", pattern ? pattern : "(null)");
    if (chunk != nullptr)
      say_bytes(chunk, len);
    else
      say("(null)");
    say("\") : ");
    if (pattern != nullptr && chunk != nullptr)
      say("%d\n", wild_match(pattern[0] == '~' ? pattern + 1 : pattern, chunk, len));
    say("%d\n", result);
  }
  return result == 0;
}
