// The relay loop: stop and signal handlers, the two children, reading the fetch pipe, and
// an orderly wind-down that lets the encoder finish its recording.
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <initializer_list>

#include "framerelay/frame_relay.h"
#include "framerelay/pipeline.h"
#include "framerelay/relay_settings.h"
#include "platform/pipe.h"
#include "platform/poll.h"
#include "platform/signal.h"

namespace {

constexpr int grace_queries = 30;  // 100 ms apart: the encoder's time to write its last frames
constexpr int stop_signals[] = {SIGINT, SIGTERM, SIGHUP, 0};
constexpr int reported_signals[] = {SIGABRT, SIGFPE, SIGILL, SIGSEGV, SIGQUIT, 0};

// A stop request from the terminal or the system: the loop ends before its next read.
void endtrap(int, siginfo_t*, void*) {
  signal_safe_write(2, "endtrap()\n");
  stop_requested.store(true);
}

void report_signal(int sig, siginfo_t* info, void*) {
  char text[32];
  signal_safe_write(1, signal_safe_format(text, sizeof text, "*[sig ", sig, "]*\n"));
  // A fault raised by our own code would recur at once on return: let it end the program.
  bool real_fault = (sig == SIGSEGV || sig == SIGILL || sig == SIGFPE || sig == SIGBUS) && info != nullptr &&
                    info->si_code > 0;
  if (real_fault) restore_default_signal(sig);
}

void install_handlers() {
  for (const int* s = stop_signals; *s != 0; ++s) install_signal_handler(*s, endtrap, false);
  for (const int* s = reported_signals; *s != 0; ++s) install_signal_handler(*s, report_signal, true);
}

// Waits for fetched bytes with the stop signals let through only here, so a request that
// arrives before or during the wait ends it.
void wait_for_data(const sigset_t* wait_mask) {
  struct pollfd p {pipeline.fetch_fd, POLLIN, 0};
  ppoll(&p, 1, nullptr, wait_mask);
}

// Reads while bytes flow and waits only when the pipe is empty: the fetch pipe is
// non-blocking, so a flowing stream costs one system call per block.
void read_fetch_pipe(const sigset_t* wait_mask) {
  static unsigned char block[read_block_size];
  set_nonblocking(pipeline.fetch_fd);
  while (!stop_requested.load()) {
    ssize_t n = read(pipeline.fetch_fd, block, sizeof block);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
      wait_for_data(wait_mask);
      continue;
    }
    if (n <= 0) {
      // End of file means wget has gone: the same broken pipe a failed read reports.
      std::fprintf(stderr, "ReadFile() error (%s)\n", system_error_text(n == 0 ? EPIPE : errno));
      return;
    }
    scan_bytes(block, static_cast<std::size_t>(n));
  }
}

bool has_started(const process_handle& p) { return p.pid > 0; }

// Closes our pipe ends, lets ffmpeg end by itself after its input ends, then terminates
// whatever still runs and reaps both children.
void wind_down() {
  close_fd(&pipeline.fetch_fd);
  close_fd(&pipeline.feed_fd);
  process_handle* encoder = &pipeline.encoder_process;
  process_handle* fetcher = &pipeline.fetcher_process;
  if (has_started(*encoder)) {
    for (int i = 0; i < grace_queries && child_status(encoder, 0) == 0; ++i) sleep_ms(100);
  }
  for (process_handle* p : {fetcher, encoder}) {
    if (!has_started(*p)) continue;
    if (child_status(p, 0) == 0) child_status(p, 1);
    wait_process(p);
    release_process(p);
  }
}

}  // namespace

int relay_loop() {
  install_handlers();
  sigset_t wait_mask;
  block_signals(stop_signals, &wait_mask);
  start_fetcher();
  start_encoder();
  // Frames go to feed_fd from here on; a pipe that could not be made ends the run.
  int status = 0;
  if (pipeline.fetch_fd < 0 || pipeline.feed_fd < 0)
    status = 1;
  else
    read_fetch_pipe(&wait_mask);
  if (scanner.in_frame && (relay_settings.debug & 0x02)) std::fputs("Caution: no EOI\n", stderr);
  wind_down();
  return status;
}
