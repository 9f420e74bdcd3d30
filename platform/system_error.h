// The system's error codes and their message texts, for messages that quote the system.
// Every failure the platform layer reports is an errno code, negated, on every system; the
// Windows layer translates the system's own codes once, where it meets them, so a code means
// the same everywhere and has one text.
#pragma once
#include <cstddef>

// The code a read of a pipe whose writer has gone is reported with.
extern const int broken_pipe_error;

// The calling thread's last system error, as an errno code.
int last_system_error();

// The message text for the errno code `code`, copied into `text` (cut to fit, terminated).
void system_message(int code, char* text, std::size_t size);

#ifdef _WIN32
// The errno code for a Windows system error code (GetLastError's).
int errno_from_system_code(unsigned long code);
#endif
