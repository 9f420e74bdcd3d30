// A plain backward search, for C libraries without memrchr.
#include "common/byte_search.h"

const void* find_last_byte(const void* s, int c, std::size_t n) {
  const unsigned char* p = static_cast<const unsigned char*>(s) + n;
  const auto wanted = static_cast<unsigned char>(c);
  while (n-- > 0)
    if (*--p == wanted) return p;
  return nullptr;
}
