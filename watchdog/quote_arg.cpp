// Quoting of command words: double quotes around words with blanks, control or high bytes.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "watchdog/run_settings.h"

char* quote_arg(const char* word) {
  std::size_t len = std::strlen(word);
  bool wrap = len == 0 || word[0] == '"';
  for (std::size_t i = 0; i < len && !wrap; ++i) {
    if (static_cast<signed char>(word[i]) <= 32) wrap = true;
  }
  // Worst case every byte is a double quote needing a backslash, plus two quotes and the end.
  char* out = static_cast<char*>(std::malloc(2 * len + 3));
  if (out == nullptr) {
    std::fputs("ERROR: out of memory\n", stderr);
    std::exit(1);
  }
  char* p = out;
  if (wrap) *p++ = '"';
  for (std::size_t i = 0; i < len; ++i) {
    if (word[i] == '"') *p++ = '\\';
    *p++ = word[i];
  }
  if (wrap) *p++ = '"';
  *p = '\0';
  return out;
}
