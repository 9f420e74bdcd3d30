// Keeping the camera connected (-R): a fetch that ends, fails or brings no byte for the stall
// time is reported in one line and made again after a pause that doubles from 1 s up to 30 s
// while connections bring no frame, and starts again at 1 s once frames flow. The encoder and
// the packet clock run on meanwhile, so the recording stays one, in real time, with the last
// picture held while the camera is away. A run whose first connection brings no frame ends:
// the URL is wrong or the camera is not there.
#pragma once
#include <cstdint>

#include "framerelay/pipeline.h"
#include "framerelay/relay_settings.h"

constexpr long first_connect_pause_ms = 1000;
constexpr long longest_connect_pause_ms = 30000;
constexpr long fetcher_grace_ms = 3000;  // wget has closed its output: it is on its way out

enum class link_state {
  connected,  // wget runs and its output is read
  closing,    // the connection is over: wget's end is awaited, to tell why
  away,       // no wget: the next connection is made when the pause is over
};

struct camera_link {
  link_state state = link_state::connected;
  std::int64_t last_byte_ms = 0;    // connected: when the fetch last brought a byte, or began
  std::int64_t next_step_ms = 0;    // closing: when wget is killed if still there; away: when to connect again
  long pause_ms = 0;                // the pause before the latest connection (0: none yet)
  long long frames_at_connect = 0;  // the run's frames when this connection began
  bool stalled = false;             // this connection was ended for want of bytes
};

// What the relay does after a step of the link.
enum class link_step { go_on, wait, no_frame };

// The pause before the next connection: 1 s after a connection that brought frames (and at
// the first loss), otherwise twice the previous one, up to 30 s.
long next_connect_pause(long previous_ms, bool frames_came);

// The connection has just begun (the fetch pipe is open): the stall time counts from now.
void link_connected(camera_link* link, long long frames, std::int64_t now);

// The fetch pipe has ended: wget has gone or is going. It is closed; wget is given a moment.
void link_fetch_ended(camera_link* link, pipeline_state* pipeline, std::int64_t now);

// True when the connection has brought no byte for the stall time; it is then ended (wget is
// killed and the fetch pipe closed).
bool link_stalled(camera_link* link, pipeline_state* pipeline, const relay_settings_record& settings, std::int64_t now);

// One step while closing or away: wget's end is collected and reported, or the camera is
// connected again once the pause is over. `frames` are the run's frames so far; no_frame
// when the run has had none, which ends it (reported).
link_step step_link(platform* system, camera_link* link, pipeline_state* pipeline,
                    const relay_settings_record& settings, long long frames, std::int64_t now);

// When the link needs the relay's attention next, on the monotonic clock.
std::int64_t link_deadline(const camera_link& link, const relay_settings_record& settings);
