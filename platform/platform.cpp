// The platform record's portable half: opening and closing it around its system part, and
// the stop requests and reports that handlers and event threads make.
#include "platform/platform.h"

#include "common/monotonic_clock.h"
#include "platform/platform_system.h"
#include "platform/wake_up.h"

platform* handler_platform = nullptr;

void open_platform(platform* p) {
  p->clock = system_monotonic_ms;
  p->stop_signal.store(0);
  p->forwarded.store(0);
  p->child_events.store(0);
  p->system = make_platform_system();
}

void close_platform(platform* p) {
  if (p->system == nullptr) return;
  if (handler_platform == p) handler_platform = nullptr;
  free_platform_system(p->system);
  p->system = nullptr;
}

void request_stop(platform* p, int sig) {
  if (p == nullptr) return;
  if (p->on_stop != nullptr) p->on_stop(sig);
  int none = 0;
  p->stop_signal.compare_exchange_strong(none, sig);
  wake_up(p);
}

void report_signal(platform* p, int sig) {
  if (p == nullptr) return;
  if (p->on_report == nullptr) {
    request_stop(p, sig);
    return;
  }
  p->on_report(sig);
  wake_up(p);
}
