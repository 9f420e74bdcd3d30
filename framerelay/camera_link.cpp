// Keeping the camera connected: the states of one connection, its loss and the next one.
#include "framerelay/camera_link.h"

#include <algorithm>
#include <cstdio>

#include "platform/pipe.h"
#include "platform/process.h"

namespace {

// Why the connection was lost, for the line that says so.
void describe_loss(const camera_link& link, const process_handle& fetcher, const relay_settings_record& settings,
                   char* text, std::size_t size) {
  if (link.stalled)
    std::snprintf(text, size, "no byte for %d s", settings.stall_seconds);
  else if (!describe_fetch_failure(fetcher, text, size))
    std::snprintf(text, size, "the stream ended");
}

void wait_to_connect(camera_link* link, bool frames_came, const char* reason, std::int64_t now) {
  link->pause_ms = next_connect_pause(link->pause_ms, frames_came);
  std::fprintf(stderr, "camera stream lost (%s); connecting again in %ld s\n", reason, link->pause_ms / 1000);
  link->state = link_state::away;
  link->next_step_ms = now + link->pause_ms;
}

// wget has ended, or is killed now that it has had its moment: the loss is reported and the
// next connection waits for its pause. A run without a single frame so far ends instead.
link_step close_connection(camera_link* link, pipeline_state* pipeline, const relay_settings_record& settings,
                           long long frames, std::int64_t now) {
  process_handle* fetcher = &pipeline->fetcher_process;
  bool ended = process_status(fetcher) != process_state::running;
  if (!ended && now < link->next_step_ms) return link_step::wait;
  if (!ended) stop_process(fetcher, kill_at_once, 0);
  // The caller reports how the fetch ended and that nothing came of it.
  if (frames == 0) return link_step::no_frame;
  char reason[160];
  describe_loss(*link, *fetcher, settings, reason, sizeof reason);
  release_process(fetcher);
  wait_to_connect(link, frames > link->frames_at_connect, reason, now);
  return link_step::go_on;
}

link_step connect_again(platform* system, camera_link* link, pipeline_state* pipeline,
                        const relay_settings_record& settings, long long frames, std::int64_t now) {
  if (now < link->next_step_ms) return link_step::wait;
  // A start that fails (reported by start_fetcher) is one more connection without frames.
  if (start_fetcher(system, settings, pipeline, false) != start_ok || pipeline->fetch_fd < 0) {
    release_process(&pipeline->fetcher_process);
    wait_to_connect(link, false, "wget could not be started", now);
    return link_step::go_on;
  }
  set_nonblocking(pipeline->fetch_fd);
  link_connected(link, frames, now);
  return link_step::go_on;
}

}  // namespace

long next_connect_pause(long previous_ms, bool frames_came) {
  if (frames_came || previous_ms <= 0) return first_connect_pause_ms;
  return std::min(2 * previous_ms, longest_connect_pause_ms);
}

void link_connected(camera_link* link, long long frames, std::int64_t now) {
  link->state = link_state::connected;
  link->last_byte_ms = now;
  link->frames_at_connect = frames;
  link->stalled = false;
}

void link_fetch_ended(camera_link* link, pipeline_state* pipeline, std::int64_t now) {
  close_fd(&pipeline->fetch_fd);
  link->state = link_state::closing;
  link->next_step_ms = now + fetcher_grace_ms;
}

bool link_stalled(camera_link* link, pipeline_state* pipeline, const relay_settings_record& settings,
                  std::int64_t now) {
  if (now - link->last_byte_ms < 1000LL * settings.stall_seconds) return false;
  terminate_process(&pipeline->fetcher_process);
  link_fetch_ended(link, pipeline, now);
  link->stalled = true;
  return true;
}

link_step step_link(platform* system, camera_link* link, pipeline_state* pipeline,
                    const relay_settings_record& settings, long long frames, std::int64_t now) {
  if (link->state == link_state::closing) return close_connection(link, pipeline, settings, frames, now);
  if (link->state == link_state::away) return connect_again(system, link, pipeline, settings, frames, now);
  return link_step::go_on;
}

std::int64_t link_deadline(const camera_link& link, const relay_settings_record& settings) {
  if (link.state == link_state::connected) return link.last_byte_ms + 1000LL * settings.stall_seconds;
  return link.next_step_ms;
}
