// Searching a byte range from its end.
#pragma once
#include <cstddef>

// The last byte equal to `c` among the `n` bytes at `s`, or null.
const void* find_last_byte(const void* s, int c, std::size_t n);
