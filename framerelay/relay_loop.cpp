// The relay loop: stop and signal handlers, the two children, reading the fetch pipe, feeding
// whole frames to the encoder, and an orderly wind-down that lets the encoder finish its
// recording and tells how the fetch and the encoder ended.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <vector>

#include "common/monotonic_clock.h"
#include "framerelay/frame_relay.h"
#include "framerelay/frame_scanner.h"
#include "framerelay/pipeline.h"
#include "framerelay/realtime_feed.h"
#include "framerelay/relay_settings.h"
#include "platform/file_status.h"
#include "platform/pipe.h"
#include "platform/process.h"
#include "platform/signal.h"
#include "platform/system_error.h"
#include "platform/wait.h"

namespace {

constexpr long encoder_grace_ms = 3000;  // the encoder's time to write its last frames
constexpr long fetcher_grace_ms = 3000;  // wget has closed its output: it is on its way out

// How the relaying part of a run ended.
enum run_end { run_stream_ended, run_stopped, run_encoder_gone, run_not_started };

// What one run holds while it relays: its settings, the children and their pipes, where the
// marker scanner stands, the pacing of the frames, and the real-time feed when there is one.
struct relay_run {
  const relay_settings_record& settings;
  pipeline_state pipeline;
  scanner_state scanner;
  pacing_state pacing;
  realtime_feed* realtime = nullptr;  // null without -R
};

// A stop request from the terminal or the system, or another signal that would end us: the
// loop ends at its next look at the flag, and the children end with the run.
void endtrap(int) {
  signal_safe_write(2, "endtrap()\n");
  stop_requested.store(true);
}

// Reported on standard error: standard output carries the recording.
void report_signal(int sig) {
  char text[32];
  signal_safe_write(2, signal_safe_format(text, sizeof text, "*[sig ", sig, "]*\n"));
}

// Waits until the fetch pipe has data or has hung up, a child has ended, or a stop is
// requested; each of these ends the wait at once. With the real-time feed it also ends when
// the next packet falls due, or, while packets are owed, when the feed has room for them.
void wait_for_fetch_data(relay_run* run) {
  realtime_feed* realtime = run->realtime;
  wait_item items[2] = {{run->pipeline.fetch_fd, wait_read, 0}, {run->pipeline.feed_fd, 0, 0}};
  long timeout = -1;
  if (realtime != nullptr) {
    std::int64_t now = monotonic_now();
    if (packets_owed(*realtime, now))
      items[1].want = wait_write;
    else
      timeout = ms_to_next_packet(*realtime, now);
  }
  wait_for_events(items, 2, timeout);
  if (items[1].got != 0) realtime->feed_full = false;
}

// Waits until the feed has room or its reader has gone, or a stop is requested.
void wait_for_feed_room(int feed_fd) {
  wait_item feed{feed_fd, wait_write, 0};
  wait_for_events(&feed, 1, -1);
}

// Writes the frame once, whole. The feed is non-blocking: while a stalled encoder leaves no
// room, the wait for room is one that a stop request ends.
feed_outcome feed_once(pipeline_state* pipeline, const unsigned char* frame, std::size_t size) {
  while (size > 0) {
    ssize_t n = write_some(pipeline->feed_fd, frame, size);
    if (n > 0) {
      pipeline->fed_bytes += static_cast<unsigned long long>(n);
      frame += n;
      size -= static_cast<std::size_t>(n);
      continue;
    }
    if (stop_requested.load()) return feed_stopped;
    if (n != -EAGAIN) return feed_encoder_gone;  // no reader left (EPIPE): the encoder has gone
    wait_for_feed_room(pipeline->feed_fd);
    if (stop_requested.load()) return feed_stopped;
  }
  return feed_ok;
}

// The frame sink of the run: the frame goes to the encoder whole, `count` times; a stop
// request is honoured between the repetitions, so no count delays it. The context is the
// run's pipeline.
feed_outcome feed_frame(void* pipeline, const unsigned char* frame, std::size_t size, long long count) {
  for (long long i = 0; i < count; ++i) {
    if (stop_requested.load()) return feed_stopped;
    feed_outcome outcome = feed_once(static_cast<pipeline_state*>(pipeline), frame, size);
    if (outcome != feed_ok) return outcome;
  }
  return feed_ok;
}

bool has_ended(process_handle* p) { return p->pid > 0 && process_status(p) != process_state::running; }

// Writes the real-time packets due by `now`, counted in the pipeline's bytes fed.
feed_outcome feed_due_packets(relay_run* run, std::int64_t now) {
  return write_due_packets(run->realtime, run->pipeline.feed_fd, now, &run->pipeline.fed_bytes);
}

// Reads while bytes flow and waits only when the pipe is empty: the fetch pipe is
// non-blocking, so a flowing stream costs one system call per block. With the real-time feed
// (the run has one) the frames go to it, and the packets that fall due are written between
// the reads.
run_end relay_stream(relay_run* run) {
  std::vector<unsigned char> block(read_block_size);
  const relay_settings_record& given = run->settings;
  const scan_settings settings{given.repeat, given.adaptive, (given.debug & debug_marker_trace) != 0};
  realtime_feed* realtime = run->realtime;
  const frame_sink sink = realtime != nullptr ? frame_sink{take_realtime_frame, realtime}
                                              : frame_sink{feed_frame, &run->pipeline};
  set_nonblocking(run->pipeline.fetch_fd);
  set_nonblocking(run->pipeline.feed_fd);
  while (!stop_requested.load()) {
    if (realtime != nullptr && feed_due_packets(run, monotonic_now()) != feed_ok) return run_encoder_gone;
    ssize_t n = read_some(run->pipeline.fetch_fd, block.data(), block.size());
    if (n == -EAGAIN) {
      // An encoder that has ended while the camera is silent ends the run now, not at the
      // next frame.
      if (has_ended(&run->pipeline.encoder_process)) return run_encoder_gone;
      wait_for_fetch_data(run);
      continue;
    }
    if (n <= 0) {
      // A read cut short by a stop request is no error.
      if (stop_requested.load()) return run_stopped;
      // End of file means wget has gone: the same broken pipe a failed read reports.
      std::fprintf(stderr, "ReadFile() error (%s)\n", system_error_text(n == 0 ? broken_pipe_error : static_cast<int>(-n)));
      return run_stream_ended;
    }
    feed_outcome outcome =
        scan_bytes(&run->scanner, &run->pacing, settings, sink, block.data(), static_cast<std::size_t>(n));
    if (outcome == feed_encoder_gone) return run_encoder_gone;
    if (outcome == feed_stopped) return run_stopped;
  }
  return run_stopped;
}

// At the end of a stream or on a stop, the last frame is fed up to that moment, so the
// recording lasts as long as the run did. An encoder that takes nothing for a while ends
// this, and so does one that takes too long for all that is owed (a stop must end the run).
void finish_realtime_feed(relay_run* run) {
  realtime_feed* realtime = run->realtime;
  const std::int64_t end = monotonic_now();
  const std::int64_t last_chance = end + 3 * encoder_grace_ms;
  std::int64_t deadline = end + encoder_grace_ms;
  while (packets_owed(*realtime, end)) {
    if (feed_due_packets(run, end) != feed_ok) return;
    if (!packets_owed(*realtime, end)) return;
    std::int64_t now = monotonic_now();
    if (now >= deadline) return;
    wait_item feed{run->pipeline.feed_fd, wait_write, 0};
    if (wait_for_events(&feed, 1, static_cast<long>(deadline - now)) > 0) {
      realtime->feed_full = false;
      deadline = std::min(monotonic_now() + encoder_grace_ms, last_chance);
    }
  }
}

bool has_started(const process_handle& p) { return p.pid > 0; }

// The fetcher ended by itself with a failure: the fetch failed, and the run says so.
bool report_failed_fetch(const process_handle& fetcher) {
  if (!fetcher.exit_code_known || fetcher.kill_sent || fetcher.exit_code == 0) return false;
  if (fetcher.end_signal != 0) {
    std::fprintf(stderr, "ERROR: wget killed by signal %d\n", fetcher.end_signal);
    return true;
  }
  const char* meaning = fetcher_exit_meaning(fetcher.exit_code);
  if (meaning != nullptr)
    std::fprintf(stderr, "ERROR: wget ended with exit status %d (%s)\n", fetcher.exit_code, meaning);
  else
    std::fprintf(stderr, "ERROR: wget ended with exit status %d\n", fetcher.exit_code);
  return true;
}

// `unread` is what the feed pipe still held when the encoder was found gone (-1: unknown);
// `fed` is all the run wrote into it.
void report_lost_encoder(const process_handle& encoder, long long unread, unsigned long long fed,
                         bool encoder_verbose) {
  bool ended_itself = encoder.exit_code_known && !encoder.kill_sent;
  // Failing before it took a single byte, ffmpeg failed on its command line, not on a frame.
  bool took_nothing = unread >= 0 && static_cast<unsigned long long>(unread) >= fed;
  if (ended_itself && encoder.end_signal != 0)
    std::fprintf(stderr, "ERROR: ffmpeg ended early (killed by signal %d)\n", encoder.end_signal);
  else if (ended_itself && encoder.exit_code != 0 && took_nothing)
    std::fprintf(stderr, "ERROR: ffmpeg refused its settings (exit status %d); %s\n", encoder.exit_code,
                 encoder_verbose ? "its reasons are above" : "run with -d20 to see ffmpeg's own messages");
  else if (ended_itself && encoder.exit_code != 0 && standard_output_device_full())
    std::fprintf(stderr, "ERROR: ffmpeg ended early (exit status %d): no space left on the device of standard output\n",
                 encoder.exit_code);
  else if (ended_itself)
    std::fprintf(stderr, "ERROR: ffmpeg ended early (exit status %d)\n", encoder.exit_code);
  else
    std::fputs("ERROR: ffmpeg stopped reading its input\n", stderr);
}

// Closes our pipe ends, so ffmpeg sees the end of its input; learns how wget ended when the
// stream ended by itself (otherwise ends it at once); lets ffmpeg finish its recording; reaps
// both. Returns the exit status of the run.
int wind_down(relay_run* run, run_end end) {
  pipeline_state* pipeline = &run->pipeline;
  long long unread = pipeline->feed_fd >= 0 ? bytes_available(pipeline->feed_fd) : -1;
  close_fd(&pipeline->fetch_fd);
  close_fd(&pipeline->feed_fd);
  process_handle* fetcher = &pipeline->fetcher_process;
  process_handle* encoder = &pipeline->encoder_process;
  int status = end == run_not_started ? relay_exit_start_failure : relay_exit_done;
  if (has_started(*fetcher)) {
    // After the end of its stream wget is given the time to end by itself, so its exit status
    // tells whether the fetch succeeded; otherwise it is ended at once.
    if (end == run_stream_ended)
      stop_process(fetcher, already_asked, fetcher_grace_ms);
    else
      stop_process(fetcher, kill_at_once, 0);
    // Ctrl-C reaches wget too, and may end its stream just before our own handler runs: a
    // stop request seen by now makes its end no failure.
    if (end == run_stream_ended && !stop_requested.load() && report_failed_fetch(*fetcher))
      status = relay_exit_fetch_failed;
    release_process(fetcher);
  }
  if (has_started(*encoder)) {
    stop_process(encoder, already_asked, encoder_grace_ms);
    if (end == run_encoder_gone && !stop_requested.load()) {
      report_lost_encoder(*encoder, unread, pipeline->fed_bytes, run->settings.encoder_verbose);
      status = relay_exit_encoder_gone;
    }
    release_process(encoder);
  }
  // Whoever writes to our standard output after us goes on after the recording, as if
  // ffmpeg had written it through that descriptor.
  if (pipeline->encoder_writes_file) standard_output_to_end();
  return status;
}

}  // namespace

int relay_loop(const relay_settings_record& settings) {
  install_stop_requests(endtrap);
  // Any other signal that would end us ends the run the same way, so no child outlives it.
  install_end_requests(endtrap);
  install_signal_reports(report_signal);
  // A child's end wakes the waits up: a lost encoder is noticed at once, and the grace
  // waits end as soon as the child has gone.
  watch_child_events();
  relay_run run{settings, {}, {}, {}, nullptr};
  if (start_fetcher(settings, &run.pipeline) == start_failed) return relay_exit_start_failure;
  start_outcome encoder_start = start_encoder(settings, &run.pipeline);
  // Standard output carries the encoder's stream alone; untranslated, as ffmpeg writes it.
  set_binary_mode(1);
  // A pipe that could not be made, or an encoder that could not be started, ends the run.
  run_end end = run_not_started;
  if (encoder_start == start_ok && run.pipeline.fetch_fd >= 0 && run.pipeline.feed_fd >= 0) {
    if (settings.realtime) {
      realtime_feed realtime;
      begin_realtime_feed(&realtime, settings.width, settings.height);
      run.realtime = &realtime;
      end = relay_stream(&run);
      if (end == run_stopped || end == run_stream_ended) finish_realtime_feed(&run);
      run.realtime = nullptr;
      end_realtime_feed(&realtime);
    } else {
      end = relay_stream(&run);
    }
  }
  if (run.scanner.in_frame && (settings.debug & debug_marker_trace) != 0) std::fputs("Caution: no EOI\n", stderr);
  end_scanner(&run.scanner);
  end_pacing(&run.pacing);
  return wind_down(&run, end);
}
