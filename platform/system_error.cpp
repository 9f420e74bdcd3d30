// The one error text of both programs: the system's message for a code, in one area.
#include "platform/system_error.h"

#include <cstring>

#include "platform/system_message.h"

const char* system_error_text(int code) {
  static char text[256];
  system_message(code, text, sizeof text);
  // Trailing blanks and line ends go; the first character always stays.
  for (std::size_t i = std::strlen(text); i > 1 && static_cast<unsigned char>(text[i - 1]) <= 0x20; --i)
    text[i - 1] = '\0';
  return text;
}
