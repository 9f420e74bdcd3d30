// Wake-ups on Windows: console control events and the ends of processes arrive on threads of
// their own, which set the platform record's auto-reset event; the wait sleeps on it between
// its looks.
#include <windows.h>

#include "platform/platform_system_win32.h"
#include "platform/wake_up.h"

void wake_up(platform* p) {
  if (p != nullptr && p->system != nullptr && p->system->wake_event != nullptr)
    SetEvent(static_cast<HANDLE>(p->system->wake_event));
}

bool take_wake_ups(platform* p) {
  HANDLE event = static_cast<HANDLE>(p->system->wake_event);
  return event != nullptr && WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}
