// The platform record on Windows: its system part made and given back.
#include <windows.h>

#include "common/monotonic_clock.h"
#include "platform/platform_system_win32.h"

platform* handler_platform = nullptr;

void open_platform(platform* p) {
  p->clock = system_monotonic_ms;
  p->stop_signal.store(0);
  p->forwarded.store(0);
  p->child_events.store(0);
  p->system = new platform_system;
  // Made before any thread can need it.
  p->system->wake_event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
}

void close_platform(platform* p) {
  if (p->system == nullptr) return;
  if (handler_platform == p) handler_platform = nullptr;
  if (p->system->wake_event != nullptr) CloseHandle(static_cast<HANDLE>(p->system->wake_event));
  delete p->system;
  p->system = nullptr;
}
