// Wildcard comparison of output chunks against -s patterns.
#pragma once

// 0 when `pattern` matches some stretch of `text` ('*' any run, '?' one character, a
// leading '~' inverts), 1 otherwise. A null pattern or text is a miss.
int wildcmp(const char* pattern, const char* text);

// The matcher proper on an uninverted pattern: 0 hit, 1 miss.
int wild_match(const char* pattern, const char* text);
