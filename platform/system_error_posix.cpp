// System error texts on POSIX: strerror_r.
#include "platform/system_message.h"

#include <errno.h>

#include <cstdio>
#include <cstring>

void system_message(int code, char* text, std::size_t size) {
  char scratch[256];
  const char* message = strerror_r(code, scratch, sizeof scratch);
  std::snprintf(text, size, "%s", message ? message : "");
}
