// One wait for everything the programs wait on: descriptors to read or write, a stop request,
// a child's end, and a deadline. No wait in either program blocks outside this one (the few
// short waits inside the layer, on cgroups, end on a stop request too), so a stop signal or a
// timeout always ends it.
#pragma once

struct platform;

enum : unsigned {
  wait_read = 1,    // data to read
  wait_write = 2,   // room to write
  wait_hangup = 4,  // the peer has gone (a read end with nothing left, a write end without reader)
};

struct wait_item {
  int fd = -1;        // -1: skipped
  unsigned want = 0;  // wait_read and/or wait_write
  unsigned got = 0;   // filled by the wait
};

// Waits until one item is ready, a wake-up of `p` arrives (a stop request, a child's end), or
// timeout_ms passes (negative: no limit). A signal that arrived just before the wait is not
// missed: it ends the wait at once. Returns the number of items with something in `got`.
int wait_for_events(platform* p, wait_item* items, int count, long timeout_ms);
