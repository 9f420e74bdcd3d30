// The relay loop: stop and signal handlers, the two children, reading the fetch pipe, feeding
// whole frames to the encoder, and an orderly wind-down that lets the encoder finish its
// recording and tells how the fetch and the encoder ended.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <vector>

#include "framerelay/relay_loop.h"

#include "common/program_location.h"
#include "framerelay/camera_link.h"
#include "framerelay/feeder.h"
#include "framerelay/frame_scanner.h"
#include "framerelay/pacing.h"
#include "framerelay/pipeline.h"
#include "framerelay/realtime_feed.h"
#include "framerelay/relay_settings.h"
#include "platform/file_status.h"
#include "platform/pipe.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "platform/signal.h"
#include "platform/system_error.h"
#include "platform/wait.h"

namespace {

constexpr long encoder_grace_ms = 3000;  // the encoder's time to write its last frames

// How the relaying part of a run ended.
enum run_end { run_stream_ended, run_stopped, run_encoder_gone, run_not_started, run_no_frame };

// What one run holds while it relays: the platform record, its settings, the children and
// their pipes, where the marker scanner stands, the pacing of the frames and what feeds them,
// and the real-time feed when there is one.
struct relay_run {
  platform* system;
  const relay_settings_record& settings;
  pipeline_state pipeline;
  scanner_state scanner;
  pacing_state pacing;
  pipe_feeder feeder;
  realtime_feed* realtime = nullptr;  // null without -R
  camera_link link;                   // -R: the connection to the camera, made again when lost
};

// A stop request from the terminal or the system, or another signal that would end us, says
// so; the loop ends at its next look at the request, and the children end with the run.
void endtrap(int) { signal_safe_write(2, "endtrap()\n"); }

bool stopped(const relay_run* run) { return stop_request(run->system) != 0; }

// Reported on standard error: standard output carries the recording.
void report_signal(int sig) {
  char text[32];
  signal_safe_write(2, signal_safe_format(text, sizeof text, "*[sig ", sig, "]*\n"));
}

// Waits until the fetch pipe has data or has hung up, a child has ended, or a stop is
// requested; each of these ends the wait at once. With the real-time feed it also ends when
// the next packet falls due, or, while packets are owed, when the feed has room for them, and
// when the connection to the camera needs a look (its stall time, wget's end, the next
// connection).
void wait_for_fetch_data(relay_run* run) {
  realtime_feed* realtime = run->realtime;
  wait_item items[2] = {{run->pipeline.fetch_fd, wait_read, 0}, {run->pipeline.feed_fd, 0, 0}};
  long timeout = -1;
  if (realtime != nullptr) {
    std::int64_t now = now_ms(run->system);
    // A day at most: a long -m must not pass the range of a wait's milliseconds.
    timeout = static_cast<long>(std::clamp<std::int64_t>(link_deadline(run->link, run->settings) - now, 0, 86400000));
    if (packets_owed(*realtime, now))
      items[1].want = wait_write;
    else if (realtime->started)
      timeout = std::min(timeout, ms_to_next_packet(*realtime, now));
  }
  wait_for_events(run->system, items, 2, timeout);
  if (items[1].got != 0) realtime->feed_full = false;
}

bool has_ended(process_handle* p) { return process_held(p) && process_status(p) != process_state::running; }

// Writes the real-time packets due by `now`, counted in the pipeline's bytes fed.
feed_outcome feed_due_packets(relay_run* run, std::int64_t now) {
  return write_due_packets(run->realtime, run->pipeline.feed_fd, now, &run->pipeline.fed_bytes);
}

// What one step of the relay came to.
enum class relay_step { go_on, wait, ended };

// One read of the fetch pipe, scanned. An empty pipe asks for a wait, unless the encoder has
// ended meanwhile or (-R) the camera has sent nothing for the stall time; the pipe's end ends
// the stream, or (-R) the connection.
relay_step read_fetch_pipe(relay_run* run, const frame_sink& sink, std::vector<unsigned char>* block, run_end* end) {
  ssize_t n = read_some(run->pipeline.fetch_fd, block->data(), block->size());
  std::int64_t now = run->realtime != nullptr ? now_ms(run->system) : 0;
  if (n == -EAGAIN) {
    // An encoder that has ended while the camera is silent ends the run now, not at the
    // next frame.
    if (has_ended(&run->pipeline.encoder_process)) {
      *end = run_encoder_gone;
      return relay_step::ended;
    }
    if (run->realtime != nullptr && link_stalled(&run->link, &run->pipeline, run->settings, now)) {
      forget_open_frame(&run->scanner);
      return relay_step::go_on;
    }
    return relay_step::wait;
  }
  if (n <= 0) {
    // A read cut short by a stop request is no error.
    if (stopped(run)) {
      *end = run_stopped;
      return relay_step::ended;
    }
    if (run->realtime != nullptr) {
      link_fetch_ended(&run->link, &run->pipeline, now);
      forget_open_frame(&run->scanner);
      return relay_step::go_on;
    }
    // End of file means wget has gone: the same broken pipe a failed read reports.
    std::fprintf(stderr, "ReadFile() error (%s)\n", system_error_text(n == 0 ? EPIPE : static_cast<int>(-n)));
    *end = run_stream_ended;
    return relay_step::ended;
  }
  if (run->realtime != nullptr) run->link.last_byte_ms = now;
  bool trace = (run->settings.debug & debug_marker_trace) != 0;
  feed_outcome outcome = scan_bytes(&run->scanner, trace, sink, block->data(), static_cast<std::size_t>(n));
  if (outcome == feed_ok) return relay_step::go_on;
  *end = outcome == feed_encoder_gone ? run_encoder_gone : run_stopped;
  return relay_step::ended;
}

// -R: while the camera is away, the connection is looked after instead of read.
relay_step tend_camera_link(relay_run* run, run_end* end) {
  switch (step_link(run->system, &run->link, &run->pipeline, run->settings, run->pacing.frames, now_ms(run->system))) {
    case link_step::wait: return relay_step::wait;
    case link_step::no_frame: *end = run_no_frame; return relay_step::ended;
    default: return relay_step::go_on;
  }
}

// Reads while bytes flow and waits only when the pipe is empty: the fetch pipe is
// non-blocking, so a flowing stream costs one system call per block. With the real-time feed
// (the run has one) the frames go to it, the packets that fall due are written between the
// reads, and a lost connection to the camera is made again.
run_end relay_stream(relay_run* run) {
  std::vector<unsigned char> block(read_block_size);
  realtime_feed* realtime = run->realtime;
  // The frames flow scanner -> pacing -> feeder: the feed pipe, or the real-time feed.
  run->feeder = pipe_feeder{run->system, run->pipeline.feed_fd, &run->pipeline.fed_bytes};
  const frame_feeder feeder =
      realtime != nullptr ? frame_feeder{take_realtime_frame, realtime} : feeder_of(&run->feeder);
  const relay_settings_record& given = run->settings;
  // The real-time feed takes every frame and no count: an adaptive count left by an -r before
  // -R would drop the frames it counts 0 times (the first one among them).
  const pacing_settings pace{given.repeat, given.adaptive && realtime == nullptr};
  begin_pacing(&run->pacing, pace, feeder, run->system->clock, program_dir);
  const frame_sink sink = pacing_sink(&run->pacing);
  set_nonblocking(run->pipeline.fetch_fd);
  set_nonblocking(run->pipeline.feed_fd);
  link_connected(&run->link, 0, now_ms(run->system));
  run_end end = run_stopped;
  while (!stopped(run)) {
    if (realtime != nullptr && feed_due_packets(run, now_ms(run->system)) != feed_ok) return run_encoder_gone;
    relay_step step = run->link.state == link_state::connected ? read_fetch_pipe(run, sink, &block, &end)
                                                               : tend_camera_link(run, &end);
    if (step == relay_step::ended) return end;
    if (step == relay_step::wait) wait_for_fetch_data(run);
  }
  return run_stopped;
}

// On a stop, the last frame is fed up to that moment, so the recording lasts as long as the
// run did; up to `deadline`, the end of the encoder's time to finish, which an encoder that
// takes nothing (a stalled one) uses up.
void finish_realtime_feed(relay_run* run, std::int64_t deadline) {
  realtime_feed* realtime = run->realtime;
  const std::int64_t end = now_ms(run->system);
  while (packets_owed(*realtime, end)) {
    if (feed_due_packets(run, end) != feed_ok || !packets_owed(*realtime, end)) return;
    std::int64_t now = now_ms(run->system);
    if (now >= deadline) return;
    wait_item feed{run->pipeline.feed_fd, wait_write, 0};
    if (wait_for_events(run->system, &feed, 1, static_cast<long>(deadline - now)) > 0) realtime->feed_full = false;
  }
}

// The fetcher ended by itself with a failure: the fetch failed, and the run says so.
bool report_failed_fetch(const process_handle& fetcher) {
  char text[160];
  if (!describe_fetch_failure(fetcher, text, sizeof text)) return false;
  std::fprintf(stderr, "ERROR: %s\n", text);
  return true;
}

// A stream that ended without a single frame recorded nothing: a failure, however wget ended.
bool report_empty_recording(const relay_run& run) {
  if (run.pacing.frames > 0) return false;
  if (run.link.stalled) std::fprintf(stderr, "ERROR: the camera sent no byte for %d s\n", run.settings.stall_seconds);
  std::fputs("ERROR: no JPEG frame came from the camera\n", stderr);
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

// Learns how wget ended when the stream ended by itself (otherwise ends it at once) and says
// how the fetch failed; a stream that brought no frame is a failure too.
int end_fetch(relay_run* run, run_end end) {
  process_handle* fetcher = &run->pipeline.fetcher_process;
  // Ctrl-C reaches wget too, and may end its stream just before our own handler runs: a
  // stop request seen by now makes its end no failure.
  bool fetch_over = (end == run_stream_ended || end == run_no_frame) && !stopped(run);
  int status = relay_exit_done;
  if (process_held(fetcher)) {
    // After the end of its stream wget is given the time to end by itself, so its exit status
    // tells whether the fetch succeeded; otherwise it is ended at once.
    if (end == run_stream_ended)
      stop_process(fetcher, already_asked, fetcher_grace_ms);
    else
      stop_process(fetcher, kill_at_once, 0);
    if (fetch_over && report_failed_fetch(*fetcher)) status = relay_exit_fetch_failed;
    release_process(fetcher);
  }
  if (fetch_over && report_empty_recording(*run)) status = relay_exit_fetch_failed;
  return status;
}

// Closes our pipe ends, so ffmpeg sees the end of its input; ends wget; lets ffmpeg finish
// its recording, after a stop up to `encoder_deadline`; reaps both. Returns the exit status
// of the run.
int wind_down(relay_run* run, run_end end, std::int64_t encoder_deadline) {
  pipeline_state* pipeline = &run->pipeline;
  long long unread = pipeline->feed_fd >= 0 ? bytes_available(pipeline->feed_fd) : -1;
  close_fd(&pipeline->fetch_fd);
  close_fd(&pipeline->feed_fd);
  int status = end_fetch(run, end);
  if (end == run_not_started) status = relay_exit_start_failure;
  process_handle* encoder = &pipeline->encoder_process;
  if (process_held(encoder)) {
    // A stop leaves the encoder the rest of its time; a stream that ended gives it all of it.
    long grace = end == run_stopped
                     ? static_cast<long>(std::max<std::int64_t>(0, encoder_deadline - now_ms(run->system)))
                     : encoder_grace_ms;
    stop_process(encoder, already_asked, grace);
    if (end == run_encoder_gone && !stopped(run)) {
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

int relay_loop(platform* system, const relay_settings_record& settings) {
  install_stop_requests(system, endtrap);
  // Any other signal that would end us ends the run the same way, so no child outlives it.
  install_end_requests(system);
  install_signal_reports(system, report_signal);
  // A child's end wakes the waits up: a lost encoder is noticed at once, and the grace
  // waits end as soon as the child has gone.
  watch_child_events(system);
  relay_run run{system, settings, {}, {}, {}, {}, nullptr, {}};
  if (start_fetcher(system, settings, &run.pipeline) == start_failed) return relay_exit_start_failure;
  start_outcome encoder_start = start_encoder(system, settings, &run.pipeline);
  // Standard output carries the encoder's stream alone; untranslated, as ffmpeg writes it.
  set_binary_mode(1);
  // A pipe that could not be made, or an encoder that could not be started, ends the run.
  run_end end = run_not_started;
  std::int64_t encoder_deadline = 0;
  if (encoder_start == start_ok && run.pipeline.fetch_fd >= 0 && run.pipeline.feed_fd >= 0) {
    realtime_feed realtime;
    if (settings.realtime) {
      begin_realtime_feed(&realtime,
                          settings.size_given ? picture_size{settings.width, settings.height} : picture_size{},
                          system->clock);
      run.realtime = &realtime;
    }
    end = relay_stream(&run);
    encoder_deadline = now_ms(system) + encoder_grace_ms;
    if (run.realtime != nullptr) {
      if (end == run_stopped) finish_realtime_feed(&run, encoder_deadline);
      run.realtime = nullptr;
      end_realtime_feed(&realtime);
    }
  }
  if (run.scanner.in_frame && (settings.debug & debug_marker_trace) != 0) std::fputs("Caution: no EOI\n", stderr);
  end_scanner(&run.scanner);
  int status = wind_down(&run, end, encoder_deadline);
  end_pacing(&run.pacing);
  return status;
}
