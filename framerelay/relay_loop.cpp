// The relay loop: stop and signal handlers, the two children, reading the fetch pipe, and
// an orderly wind-down that lets the encoder finish its recording.
#include <cerrno>
#include <cstdio>
#include <initializer_list>

#include "framerelay/frame_relay.h"
#include "framerelay/pipeline.h"
#include "framerelay/relay_settings.h"
#include "platform/pipe.h"
#include "platform/poll.h"
#include "platform/signal.h"
#include "platform/system_error.h"
#include "platform/wait.h"

namespace {

constexpr int grace_queries = 30;  // 100 ms apart: the encoder's time to write its last frames

// A stop request from the terminal or the system: the loop ends before its next read.
void endtrap(int) {
  signal_safe_write(2, "endtrap()\n");
  stop_requested.store(true);
}

// Reported on standard output, which also carries the encoder's stream.
void report_signal(int sig) {
  char text[32];
  signal_safe_write(1, signal_safe_format(text, sizeof text, "*[sig ", sig, "]*\n"));
}

// Reads while bytes flow and waits only when the pipe is empty: the fetch pipe is
// non-blocking, so a flowing stream costs one system call per block.
void read_fetch_pipe() {
  static unsigned char block[read_block_size];
  set_nonblocking(pipeline.fetch_fd);
  while (!stop_requested.load()) {
    ssize_t n = read_some(pipeline.fetch_fd, block, sizeof block);
    if (n == -EAGAIN) {
      wait_item fetch{pipeline.fetch_fd, wait_read, 0};
      wait_for_events(&fetch, 1, -1);
      continue;
    }
    if (n <= 0) {
      // End of file means wget has gone: the same broken pipe a failed read reports.
      std::fprintf(stderr, "ReadFile() error (%s)\n", system_error_text(n == 0 ? broken_pipe_error : static_cast<int>(-n)));
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
  install_stop_requests(endtrap);
  install_signal_reports(report_signal);
  start_fetcher();
  start_encoder();
  // Our own bytes on standard output (the signal reports) go out as written, like the
  // encoder's stream beside them.
  set_binary_mode(1);
  // Frames go to feed_fd from here on; a pipe that could not be made ends the run.
  int status = 0;
  if (pipeline.fetch_fd < 0 || pipeline.feed_fd < 0)
    status = 1;
  else
    read_fetch_pipe();
  if (scanner.in_frame && (relay_settings.debug & 0x02)) std::fputs("Caution: no EOI\n", stderr);
  wind_down();
  return status;
}
