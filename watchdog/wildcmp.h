// Wildcard comparison of output chunks against -s patterns.
#pragma once
#include <cstddef>

constexpr std::size_t max_pattern_length = 1022;  // what the matcher's work areas hold

// 0 when `pattern` matches some stretch of the `len` bytes at `text` ('*' any run, '?' one
// byte, a leading '~' inverts), 1 otherwise. The whole chunk takes part: a NUL byte in it is
// an ordinary byte that no literal pattern character matches. A null pattern or text is a miss.
int wildcmp(const char* pattern, const char* text, std::size_t len);

// The same for a text ending at its first NUL byte.
int wildcmp(const char* pattern, const char* text);

// The matcher proper on an uninverted pattern: 0 hit, 1 miss.
int wild_match(const char* pattern, const char* text, std::size_t len);
