// System error texts on POSIX: errno and strerror_r.
#include "platform/system_error.h"

#include <errno.h>

#include <cstdio>
#include <cstring>

const int broken_pipe_error = EPIPE;

int last_system_error() { return errno; }

void system_message(int code, char* text, std::size_t size) {
  char scratch[256];
  const char* message = strerror_r(code, scratch, sizeof scratch);
  std::snprintf(text, size, "%s", message ? message : "");
}
