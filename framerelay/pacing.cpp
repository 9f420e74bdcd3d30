// Paced frame output: the count of each frame, the pacing log.
#include "framerelay/pacing.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <ctime>

#include "common/program_location.h"

namespace {

void open_pacing_log(pacing_state* pacing, const char* log_folder) {
  const char* flag = std::getenv("DEBUG_XX");
  if (flag == nullptr || *flag == '\0') return;
  char path[path_area_size + 32];
  std::snprintf(path, sizeof path, "%s/framerelay.log", log_folder);
  unlink(path);
  pacing->pacing_log = std::fopen(path, "a");
  if (pacing->pacing_log != nullptr) std::setvbuf(pacing->pacing_log, nullptr, _IONBF, 0);
}

// Takes one whole frame: its count from the time since the previous one (on the monotonic
// clock: a step of the time of day changes no count), a line in the log, then the feeder.
feed_outcome pace_frame(void* context, const unsigned char* frame, std::size_t size) {
  auto* pacing = static_cast<pacing_state*>(context);
  if (size == 0) return feed_ok;
  ++pacing->frames;
  std::int64_t now = pacing->clock();
  if (!pacing->have_previous) pacing->previous_frame_ms = now;
  long long elapsed = now - pacing->previous_frame_ms;
  pacing->previous_frame_ms = now;
  pacing->have_previous = true;
  long long count = frame_repeat_count(pacing->settings.repeat, pacing->settings.adaptive, elapsed);
  if (pacing->pacing_log != nullptr) {
    int shown = static_cast<int>(std::clamp<long long>(elapsed, INT_MIN, INT_MAX));
    std::fprintf(pacing->pacing_log, "%4d:  %8d  %4d(ms) => %4lld\n", pacing->log_line++,
                 static_cast<int>(std::time(nullptr)), shown, count);
    std::fflush(pacing->pacing_log);
  }
  if (count <= 0) return feed_ok;
  return pacing->feeder.feed(pacing->feeder.context, frame, size, count);
}

}  // namespace

void begin_pacing(pacing_state* pacing, pacing_settings settings, frame_feeder feeder, std::int64_t (*clock)(),
                  const char* log_folder) {
  *pacing = pacing_state{};
  pacing->settings = settings;
  pacing->feeder = feeder;
  pacing->clock = clock;
  open_pacing_log(pacing, log_folder);
}

frame_sink pacing_sink(pacing_state* pacing) { return frame_sink{pace_frame, pacing}; }

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
