// Signal dispositions on POSIX.
#include "platform/signal.h"

#include <errno.h>
#include <string.h>
#include <unistd.h>

void ignore_broken_pipes() {
  struct sigaction sa {};
  sa.sa_handler = SIG_IGN;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGPIPE, &sa, nullptr);
}

int install_signal_handler(int sig, signal_handler handler, bool restart) {
  struct sigaction sa {};
  sa.sa_sigaction = handler;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_SIGINFO | (restart ? SA_RESTART : 0);
  return sigaction(sig, &sa, nullptr) == 0 ? 0 : -errno;
}

void restore_default_signal(int sig) {
  struct sigaction sa {};
  sa.sa_handler = SIG_DFL;
  sigemptyset(&sa.sa_mask);
  sigaction(sig, &sa, nullptr);
}

void block_signals(const int* sigs, sigset_t* old) {
  sigset_t set;
  sigemptyset(&set);
  for (; *sigs != 0; ++sigs) sigaddset(&set, *sigs);
  sigprocmask(SIG_BLOCK, &set, old);
}

void signal_safe_write(int fd, const char* text) {
  size_t len = strlen(text);
  while (len > 0) {
    ssize_t n = write(fd, text, len);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    text += n;
    len -= static_cast<size_t>(n);
  }
}

char* signal_safe_format(char* buf, unsigned long size, const char* prefix, int number,
                         const char* suffix) {
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
