// Baseline for the relay benchmark: copies stdin to stdout in reads of at most 1023 bytes,
// the same call pattern watchdog uses, with nothing else around it.
#include <unistd.h>

int main() {
  char buf[1023];
  for (;;) {
    ssize_t n = read(0, buf, sizeof buf);
    if (n <= 0) return 0;
    for (ssize_t done = 0; done < n;) {
      ssize_t w = write(1, buf + done, static_cast<size_t>(n - done));
      if (w <= 0) return 1;
      done += w;
    }
  }
}
