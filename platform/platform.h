// The platform record: what the system layer keeps for the program. main makes one and hands
// it down beside the settings, as libuv's loop is handed down: to the supervision cycle or the
// relay loop, and from there to every call that waits, starts a process or reads the clock. It
// owns the wake-up that ends a wait, the reaper's registry of started children and the count of
// child events, the cgroups that hold runs, the stop request and the clock; a signal handler
// reaches it through the one pointer the layer keeps. Its system part is the layer's own: the
// programs call the functions below and those of the other platform headers.
#pragma once
#include <atomic>
#include <cstdint>

struct platform_system;  // each system's own part: descriptors, handles, the cgroup record

struct platform {
  std::int64_t (*clock)() = nullptr;      // the monotonic clock in ms; tests drive their own
  std::atomic<int> stop_signal{0};        // the signal of the first stop request; 0: none
  std::atomic<unsigned> forwarded{0};     // signals to pass on to a child, as 1 << number
  std::atomic<unsigned> child_events{0};  // ends of children the handler has seen
  void (*on_stop)(int sig) = nullptr;     // the program's own word on a stop (signal context)
  void (*on_report)(int sig) = nullptr;   // its report of a signal that does not stop it
  platform_system* system = nullptr;
};

// Makes the record ready: the system's monotonic clock, no stop, the system part. A program
// makes one; tests may make more.
void open_platform(platform* p);

// Gives back what the record holds (descriptors, the system part).
void close_platform(platform* p);

// The monotonic clock: milliseconds from an arbitrary start, never stepped by changes of the
// time of day.
inline std::int64_t now_ms(const platform* p) { return p->clock(); }

// The signal of the first stop request (SIGINT, SIGTERM ... or a console event), or 0.
inline int stop_request(const platform* p) { return p->stop_signal.load(); }

// The signals that are to be passed on to a child (install_forwarded_signals), as a mask of
// 1 << signal number; taking them clears the mask.
inline unsigned take_forwarded_signals(platform* p) { return p->forwarded.exchange(0); }
