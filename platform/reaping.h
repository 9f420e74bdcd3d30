// Inside the platform layer: the reaper's hook for the wait. Once child events are watched,
// every wait that a child's end wakes up collects what has ended, so no zombie of ours waits
// for the next status query.
#pragma once

struct platform;

// Reaps every child that has ended since the last child event was looked at, where child
// events are watched; nothing otherwise.
void reap_after_wake_up(platform* p);
