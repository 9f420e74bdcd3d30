// The C library's vectorised backward search.
#include <cstring>

#include "common/byte_search.h"

const void* find_last_byte(const void* s, int c, std::size_t n) { return memrchr(s, c, n); }
