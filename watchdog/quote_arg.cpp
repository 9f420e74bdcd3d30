// Quoting of command words: double quotes around words with blanks, control or high bytes.
// The quoted words are joined into one command line that the child splits again: a double
// quote in a word is escaped with a backslash, and backslashes right before a double quote
// (an escaped one, or the closing one) are doubled, so that they stay backslashes there.
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
  // Worst case every byte is doubled (a double quote, or a backslash before one), plus two
  // quotes and the end.
  char* out = static_cast<char*>(std::malloc(2 * len + 3));
  if (out == nullptr) {
    std::fputs("ERROR: out of memory\n", stderr);
    std::exit(1);
  }
  char* p = out;
  if (wrap) *p++ = '"';
  std::size_t backslashes = 0;  // in a row, just copied
  for (std::size_t i = 0; i < len; ++i) {
    if (word[i] == '"') {
      for (; backslashes > 0; --backslashes) *p++ = '\\';
      *p++ = '\\';
    }
    backslashes = word[i] == '\\' ? backslashes + 1 : 0;
    *p++ = word[i];
  }
  if (wrap) {
    for (; backslashes > 0; --backslashes) *p++ = '\\';
    *p++ = '"';
  }
  *p = '\0';
  return out;
}
