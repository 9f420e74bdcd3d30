// Formatting watchdog's own lines into the standard-error queue.
#include "watchdog/messages.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/system_error.h"
#include "watchdog/output_queue.h"

namespace {
// A line holds at most a chunk of 1023 bytes and a pattern of 1022 with their fixed texts.
constexpr std::size_t line_area = 8192;
}  // namespace

void say_bytes(our_outputs* to, const char* bytes, unsigned long len) {
  if (to != nullptr && to->err.data != nullptr)
    queue_put(&to->err, bytes, len);
  else
    std::fwrite(bytes, 1, len, stderr);
}

void say(our_outputs* to, const char* format, ...) {
  char line[line_area];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  if (n < 0) return;
  say_bytes(to, line, static_cast<std::size_t>(n) < sizeof line ? static_cast<std::size_t>(n) : sizeof line - 1);
}

void say_error(our_outputs* to, const char* name, int err) { say(to, "%s: %s\n", name, system_error_text(err)); }
