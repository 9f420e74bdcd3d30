// The platform record's system part on Windows: the wake-up event.
#include <windows.h>

#include "platform/platform_system.h"
#include "platform/platform_system_win32.h"

platform_system* make_platform_system() {
  auto* part = new platform_system;
  part->wake_event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  return part;
}

void free_platform_system(platform_system* part) {
  if (part->wake_event != nullptr) CloseHandle(static_cast<HANDLE>(part->wake_event));
  delete part;
}
