// A small program for watchdog's demo: what it does depends on the run count watchdog hands
// it. Run 1 prints a few lines and falls silent; run 2 prints an error line and waits;
// run 3 and later print a line and end with status 0.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

int main() {
  const char* count = std::getenv("WATCHDOG_COUNT");
  int run = count ? std::atoi(count) : 1;
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  std::printf("demo_program: run %d (WATCHDOG_COUNT=%s)\n", run, count ? count : "unset");
  if (run == 1) {
    for (int i = 1; i <= 3; ++i) {
      std::printf("demo_program: working, step %d\n", i);
      usleep(300000);
    }
    std::printf("demo_program: now falling silent\n");
    pause();
  } else if (run == 2) {
    std::printf("demo_program: ERROR: lost the connection\n");
    pause();
  }
  std::printf("demo_program: all done, exiting with 0\n");
  return 0;
}
