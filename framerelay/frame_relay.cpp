// The marker scanner and paced frame output.
#include "framerelay/frame_relay.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "common/monotonic_clock.h"
#include "common/program_location.h"

relay_state relay;
scanner_state scanner;
std::atomic<bool> stop_requested{false};

namespace {

constexpr unsigned char marker_lead = 0xFF;
constexpr unsigned char start_of_image = 0xD8;
constexpr unsigned char end_of_image = 0xD9;

// Makes room for `more` bytes. False when the frame would pass the limit, or memory runs out:
// the frame is then dropped whole, with one line, and the scanner waits for the next start.
bool reserve_frame_room(std::size_t more) {
  std::size_t need = relay.frame_fill + more;
  if (need <= relay.frame_room) return true;
  if (need <= frame_size_limit) {
    std::size_t room = std::max(relay.frame_room, frame_start_room);
    while (room < need) room *= 2;
    room = std::min(room, frame_size_limit);
    auto* grown = static_cast<unsigned char*>(std::realloc(relay.frame, room));
    if (grown != nullptr) {
      relay.frame = grown;
      relay.frame_room = room;
      return true;
    }
  }
  if (need > frame_size_limit)
    std::fprintf(stderr, "Warning: frame over %zu bytes without EOI dropped\n", frame_size_limit);
  else
    std::fprintf(stderr, "Warning: no memory for a frame of %zu bytes, dropped\n", need);
  relay.frame_fill = 0;
  scanner.in_frame = false;
  scanner.after_ff = false;
  return false;
}

void put_frame_bytes(const unsigned char* bytes, std::size_t count) {
  if (!reserve_frame_room(count)) return;
  std::memcpy(relay.frame + relay.frame_fill, bytes, count);
  relay.frame_fill += count;
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

// Hands the completed frame to the sink the computed number of times, logs it, and empties
// the buffer.
feed_outcome emit_frame(const scan_settings& settings, const frame_sink& sink) {
  if (!relay.log_checked) open_pacing_log();
  feed_outcome outcome = feed_ok;
  if (relay.frame_fill > 0) {
    // Intervals on the monotonic clock: a step of the time of day changes no count.
    std::int64_t now = monotonic_now();
    if (!relay.have_previous) relay.previous_frame_ms = now;
    long long elapsed = now - relay.previous_frame_ms;
    relay.previous_frame_ms = now;
    relay.have_previous = true;
    long long count = frame_repeat_count(settings.repeat, settings.adaptive, elapsed);
    if (relay.pacing_log != nullptr) {
      int shown = static_cast<int>(std::clamp<long long>(elapsed, INT_MIN, INT_MAX));
      std::fprintf(relay.pacing_log, "%4d:  %8d  %4d(ms) => %4lld\n", relay.log_line++,
                   static_cast<int>(std::time(nullptr)), shown, count);
      std::fflush(relay.pacing_log);
    }
    if (count > 0) outcome = sink.write(sink.context, relay.frame, relay.frame_fill, count);
  }
  relay.frame_fill = 0;
  return outcome;
}

// The byte after a pending 0xFF.
feed_outcome take_marker_pair(const scan_settings& settings, const frame_sink& sink, unsigned char b) {
  scanner.after_ff = false;
  const unsigned char pair[2] = {marker_lead, b};
  if (!scanner.in_frame) {
    // Anything but a start marker is dropped together with its 0xFF, another 0xFF included.
    if (b != start_of_image) return feed_ok;
    if (settings.trace_markers) std::fprintf(stderr, "[#%2d SOI]\n", scanner.frame_starts);
    ++scanner.frame_starts;
    scanner.in_frame = true;
    put_frame_bytes(pair, 2);
    return feed_ok;
  }
  if (b == end_of_image && settings.trace_markers) std::fputs("[EOI]\n", stderr);
  put_frame_bytes(pair, 2);
  if (b != end_of_image || !scanner.in_frame) return feed_ok;
  scanner.in_frame = false;
  return emit_frame(settings, sink);
}

}  // namespace

feed_outcome scan_bytes(const scan_settings& settings, const frame_sink& sink, const unsigned char* bytes,
                        std::size_t count) {
  std::size_t i = 0;
  while (i < count) {
    if (scanner.after_ff) {
      feed_outcome outcome = take_marker_pair(settings, sink, bytes[i++]);
      if (outcome != feed_ok) return outcome;
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
  return feed_ok;
}

long long frame_repeat_count(int repeat, bool adaptive, long long elapsed_ms) {
  if (!adaptive) return repeat;
  long long count = static_cast<long long>(repeat) * elapsed_ms / 100;
  count = std::min(count, 2LL * repeat);
  return count * 3 / 2;
}

void reset_relay_state() {
  if (relay.pacing_log != nullptr) std::fclose(relay.pacing_log);
  std::free(relay.frame);
  relay = relay_state{};
  scanner = scanner_state{};
  stop_requested = false;
}
