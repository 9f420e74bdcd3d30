// Number formatting for signal handlers, where stdio may not be used. Same on every system.
#include "platform/signal.h"

char* signal_safe_format(char* buf, unsigned long size, const char* prefix, int number, const char* suffix) {
  char digits[16];
  int nd = 0;
  bool negative = number < 0;
  unsigned long v = negative ? 0UL - static_cast<unsigned long>(number) : static_cast<unsigned long>(number);
  do {
    digits[nd++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0 && nd < 15);
  unsigned long pos = 0;
  auto put = [&](char c) {
    if (pos + 1 < size) buf[pos++] = c;
  };
  for (const char* p = prefix; *p; ++p) put(*p);
  if (negative) put('-');
  while (nd > 0) put(digits[--nd]);
  for (const char* p = suffix; *p; ++p) put(*p);
  if (size > 0) buf[pos] = '\0';
  return buf;
}
