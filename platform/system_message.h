// Inside the platform layer: the system's own message for an errno code, each system's way.
#pragma once
#include <cstddef>

// Copies the message for `code` into `text` (cut to fit, terminated).
void system_message(int code, char* text, std::size_t size);
