// Wake-ups on Windows: console control events and the ends of processes arrive on threads
// of their own, which set an auto-reset event; the wait sleeps on it between its looks.
#include <windows.h>

#include <atomic>

#include "platform/wake_up.h"

namespace {
std::atomic<HANDLE> made_event{nullptr};
}  // namespace

// Whichever thread comes first makes the event; one that loses the race closes its own.
void* wake_up_event() {
  HANDLE event = made_event.load();
  if (event != nullptr) return event;
  HANDLE fresh = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (fresh == nullptr) return nullptr;
  if (made_event.compare_exchange_strong(event, fresh)) return fresh;
  CloseHandle(fresh);
  return event;
}

void wake_up() {
  if (HANDLE event = wake_up_event()) SetEvent(event);
}

int wake_up_descriptor() { return -1; }

bool take_wake_ups() {
  HANDLE event = wake_up_event();
  return event != nullptr && WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}
