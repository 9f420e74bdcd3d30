// Paced frame output: the count of each frame, the pacing log.
#include "framerelay/frame_relay.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <ctime>

#include "common/monotonic_clock.h"
#include "common/program_location.h"

std::atomic<bool> stop_requested{false};

namespace {

void open_pacing_log(pacing_state* pacing) {
  pacing->log_checked = true;
  const char* flag = std::getenv("DEBUG_XX");
  if (flag == nullptr || *flag == '\0' || pacing->pacing_log != nullptr) return;
  char path[path_area_size + 32];
  std::snprintf(path, sizeof path, "%s/framerelay.log", program_dir);
  unlink(path);
  pacing->pacing_log = std::fopen(path, "a");
  if (pacing->pacing_log != nullptr) std::setvbuf(pacing->pacing_log, nullptr, _IONBF, 0);
}

}  // namespace

feed_outcome emit_frame(pacing_state* pacing, const scan_settings& settings, const frame_sink& sink,
                        const unsigned char* frame, std::size_t size) {
  if (!pacing->log_checked) open_pacing_log(pacing);
  feed_outcome outcome = feed_ok;
  if (size > 0) {
    ++pacing->frames;
    // Intervals on the monotonic clock: a step of the time of day changes no count.
    std::int64_t now = monotonic_now();
    if (!pacing->have_previous) pacing->previous_frame_ms = now;
    long long elapsed = now - pacing->previous_frame_ms;
    pacing->previous_frame_ms = now;
    pacing->have_previous = true;
    long long count = frame_repeat_count(settings.repeat, settings.adaptive, elapsed);
    if (pacing->pacing_log != nullptr) {
      int shown = static_cast<int>(std::clamp<long long>(elapsed, INT_MIN, INT_MAX));
      std::fprintf(pacing->pacing_log, "%4d:  %8d  %4d(ms) => %4lld\n", pacing->log_line++,
                   static_cast<int>(std::time(nullptr)), shown, count);
      std::fflush(pacing->pacing_log);
    }
    if (count > 0) outcome = sink.write(sink.context, frame, size, count);
  }
  return outcome;
}

long long frame_repeat_count(int repeat, bool adaptive, long long elapsed_ms) {
  if (!adaptive) return repeat;
  long long count = static_cast<long long>(repeat) * elapsed_ms / 100;
  count = std::min(count, 2LL * repeat);
  return count * 3 / 2;
}

void end_pacing(pacing_state* pacing) {
  if (pacing->pacing_log != nullptr) std::fclose(pacing->pacing_log);
  *pacing = pacing_state{};
}
