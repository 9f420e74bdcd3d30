// The system's error codes and their message texts, for messages that quote the system.
#pragma once
#include <cstddef>

// The code a read of a pipe whose writer has gone is reported with.
extern const int broken_pipe_error;

// The calling thread's last system error code.
int last_system_error();

// The system's message text for `code`, copied into `text` (cut to fit, terminated).
void system_message(int code, char* text, std::size_t size);
