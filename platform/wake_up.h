// Inside the platform layer: how signal handlers and system event threads end a wait that is
// in progress (or the next one) without a race between a flag check and the wait.
#pragma once

// Async-signal-safe: makes the current or next wait_for_events return at once.
void wake_up();

// The descriptor a wait watches for wake-ups (POSIX), created on first use; -1 on Windows.
int wake_up_descriptor();

// The event a wait sleeps on (Windows: an event handle), created on first use; null on POSIX.
void* wake_up_event();

// Consumes the wake-ups seen so far; true when there was one.
bool take_wake_ups();
