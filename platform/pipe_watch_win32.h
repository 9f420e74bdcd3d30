// Inside the Windows platform layer: how the wait learns that a read end of ours holds data.
// Such a read end is an overlapped named pipe; while a wait wants it, a zero-byte read stays
// pending on it and completes, setting an event, once data arrives or the writer has gone.
#pragma once

// The event of `fd`'s watch, with its zero-byte read pending (started now unless one already
// is), or null when `fd` is no read end made for us (the wait then peeks into it).
void* read_watch_event(int fd);
