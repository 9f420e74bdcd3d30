// The marker scanner and paced frame output.
#include "framerelay/frame_relay.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "common/program_location.h"
#include "framerelay/pipeline.h"
#include "framerelay/relay_settings.h"
#include "platform/pipe.h"

relay_state relay;
scanner_state scanner;
std::atomic<bool> stop_requested{false};

namespace {

constexpr unsigned char marker_lead = 0xFF;
constexpr unsigned char start_of_image = 0xD8;
constexpr unsigned char end_of_image = 0xD9;

bool trace_markers() { return (relay_settings.debug & 0x02) != 0; }

// Appends a run of frame bytes; the same as put_frame_byte for each, without the per-byte call.
void put_frame_bytes(const unsigned char* bytes, std::size_t count) {
  while (count > 0) {
    if (relay.frame_fill >= frame_buffer_size) flush_frame_buffer();
    std::size_t take = std::min(count, frame_buffer_size - relay.frame_fill);
    std::memcpy(relay.frame + relay.frame_fill, bytes, take);
    relay.frame_fill += take;
    bytes += take;
    count -= take;
  }
}

// The byte after a pending 0xFF.
void take_marker_pair(unsigned char b) {
  scanner.after_ff = false;
  if (!scanner.in_frame) {
    // Anything but a start marker is dropped together with its 0xFF, another 0xFF included.
    if (b != start_of_image) return;
    if (trace_markers()) std::fprintf(stderr, "[#%2d SOI]\n", scanner.frame_starts);
    ++scanner.frame_starts;
    put_frame_byte(marker_lead);
    put_frame_byte(start_of_image);
    scanner.in_frame = true;
    return;
  }
  if (b == end_of_image && trace_markers()) std::fputs("[EOI]\n", stderr);
  put_frame_byte(marker_lead);
  put_frame_byte(b);
  if (b == end_of_image) {
    emit_frame();
    scanner.in_frame = false;
  }
}

void open_pacing_log() {
  relay.log_checked = true;
  const char* flag = std::getenv("DEBUG_XX");
  if (flag == nullptr || *flag == '\0' || relay.pacing_log != nullptr) return;
  char path[path_area_size + 32];
  std::snprintf(path, sizeof path, "%s/framerelay.log", program_dir);
  unlink(path);
  relay.pacing_log = std::fopen(path, "a");
  if (relay.pacing_log != nullptr) std::setvbuf(relay.pacing_log, nullptr, _IONBF, 0);
}

}  // namespace

void scan_bytes(const unsigned char* bytes, std::size_t count) {
  std::size_t i = 0;
  while (i < count) {
    if (scanner.after_ff) {
      take_marker_pair(bytes[i++]);
      continue;
    }
    // Up to the next 0xFF: outside a frame these bytes are dropped, inside they are copied.
    const void* ff = std::memchr(bytes + i, marker_lead, count - i);
    std::size_t end = ff ? static_cast<std::size_t>(static_cast<const unsigned char*>(ff) - bytes) : count;
    if (scanner.in_frame) put_frame_bytes(bytes + i, end - i);
    i = end;
    if (ff != nullptr) {
      scanner.after_ff = true;
      ++i;
    }
  }
}

void put_frame_byte(unsigned char b) {
  if (relay.frame_fill >= frame_buffer_size) flush_frame_buffer();
  relay.frame[relay.frame_fill++] = b;
}

void flush_frame_buffer() {
  if (relay.frame_fill > 0 && pipeline.feed_fd >= 0) write_all(pipeline.feed_fd, relay.frame, relay.frame_fill);
  relay.frame_fill = 0;
}

long long frame_repeat_count(int repeat, bool adaptive, long long elapsed_ms) {
  if (!adaptive) return repeat;
  long long count = static_cast<long long>(repeat) * elapsed_ms / 100;
  count = std::min(count, 2LL * repeat);
  return count * 3 / 2;
}

void emit_frame() {
  if (!relay.log_checked) open_pacing_log();
  if (relay.frame_fill > 0) {
    wall_time now = wall_clock_now();
    if (relay.previous_frame_time.sec == 0) relay.previous_frame_time = now;
    long long elapsed = (now.sec - relay.previous_frame_time.sec) * 1000LL +
                        (now.usec - relay.previous_frame_time.usec) / 1000;
    relay.previous_frame_time = now;
    long long count = frame_repeat_count(relay_settings.repeat, relay_settings.adaptive, elapsed);
    if (relay.pacing_log != nullptr) {
      int shown = static_cast<int>(std::clamp<long long>(elapsed, INT_MIN, INT_MAX));
      std::fprintf(relay.pacing_log, "%4d:  %8d  %4d(ms) => %4lld\n", relay.log_line++,
                   static_cast<int>(std::time(nullptr)), shown, count);
      std::fflush(relay.pacing_log);
    }
    if (pipeline.feed_fd >= 0)
      for (long long i = 0; i < count; ++i) write_all(pipeline.feed_fd, relay.frame, relay.frame_fill);
  }
  relay.frame_fill = 0;
}

void reset_relay_state() {
  if (relay.pacing_log != nullptr) std::fclose(relay.pacing_log);
  relay.frame_fill = 0;
  relay.previous_frame_time = wall_time{0, 0};
  relay.log_checked = false;
  relay.pacing_log = nullptr;
  relay.log_line = 0;
  scanner = scanner_state{};
  stop_requested = false;
}
