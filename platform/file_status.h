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

// Our standard output as a file that a child inheriting it may open again under a name of its
// own, to seek in it: that name when descriptor 1 is a regular file that is empty, positioned
// at its start and not opened for appending, and the name opens that same file for writing;
// null otherwise (a pipe, a terminal, a file that holds something or is appended to; Windows).
const char* standard_output_file_name();

// Moves descriptor 1's position to the end of its file, where a child that wrote the file under
// its own name left off, so that whoever writes to this output next goes on after it.
void standard_output_to_end();

// True when our standard output is a regular file whose file system has no room left for a
// writer with our rights (under 1 MiB); false for anything else or when the system cannot tell.
bool standard_output_device_full();
