// What the programs ask the file system about a named file.
#pragma once

// A modification time as the file system keeps it; only compared for equality.
struct file_time {
  long long sec = 0;
  long nsec = 0;
};

inline bool operator==(const file_time& a, const file_time& b) { return a.sec == b.sec && a.nsec == b.nsec; }

// The file's modification time: 0, or -errno when it cannot be examined.
int file_modification_time(const char* path, file_time* when);

// True when the name exists (any kind of file).
bool file_exists(const char* path);
