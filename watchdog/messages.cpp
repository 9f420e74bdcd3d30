// Formatting watchdog's own lines into the standard-error queue.
#include "watchdog/messages.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "watchdog/output_queue.h"

namespace {
// A line holds at most a chunk of 1023 bytes and a pattern of 1022 with their fixed texts.
constexpr std::size_t line_area = 8192;
}  // namespace

void say_bytes(const char* bytes, unsigned long len) {
  if (standard_error.data != nullptr)
    queue_put(&standard_error, bytes, len);
  else
    std::fwrite(bytes, 1, len, stderr);
}

void say(const char* format, ...) {
  char line[line_area];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  if (n < 0) return;
  say_bytes(line, static_cast<std::size_t>(n) < sizeof line ? static_cast<std::size_t>(n) : sizeof line - 1);
}

void say_error(const char* name, int err) { say("%s: %s\n", name, std::strerror(err)); }
