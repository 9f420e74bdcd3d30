// Wake-ups on Windows: console control events arrive on a thread of their own, which sets a
// flag that the wait looks at between its short naps.
#include <atomic>

#include "platform/wake_up.h"

namespace {
std::atomic<bool> pending{false};
}  // namespace

void wake_up() { pending.store(true); }

int wake_up_descriptor() { return -1; }

bool take_wake_ups() { return pending.exchange(false); }
