// The wildcard matcher. Both texts get a '*' before and after, so a pattern hits any stretch
// of the text. A star jumps to the last occurrence of the literal run that follows it and
// never gives back what it took: there is no backtracking, which keeps the cost to one
// backward scan per star. The text is taken by its length, so bytes after a NUL take part.
#include "watchdog/wildcmp.h"

#include <cstring>

#include "common/byte_search.h"

namespace {

constexpr std::size_t work_area_size = 4096;  // pattern or text with the two added stars

// Copies the `len` bytes at `src` between two stars into `area`; false when they do not fit.
bool enclose_in_stars(char* area, const char* src, std::size_t len, std::size_t* enclosed) {
  if (len + 3 > work_area_size) return false;
  area[0] = '*';
  std::memcpy(area + 1, src, len);
  area[len + 1] = '*';
  area[len + 2] = '\0';
  *enclosed = len + 2;
  return true;
}

// Moves the text position to the last occurrence, after it, of the literal run at `p`
// (positions t+1 up to where the run still fits, searched from the end); unchanged when none.
const char* tail_search(const char* t, const char* text_end, const char* p) {
  std::size_t k = std::strcspn(p, "*?");
  if (k == 0) return t;
  std::size_t n = static_cast<std::size_t>(text_end - t);
  if (n <= k) return t;
  const char* lowest = t + 1;
  const char* highest = t + (n - k);
  // Jump between occurrences of the run's first byte instead of comparing at every position.
  while (highest >= lowest) {
    const void* hit = find_last_byte(lowest, p[0], static_cast<std::size_t>(highest - lowest) + 1);
    if (hit == nullptr) break;
    const char* pos = static_cast<const char*>(hit);
    if (std::memcmp(pos, p, k) == 0) return pos;
    highest = pos - 1;
  }
  return t;
}

// The walk over a pattern and a text both enclosed in stars: 0 when they match, else 1.
int match_enclosed(const char* p, const char* t, const char* t_end) {
  bool pending_question = false;
  while (*p != '\0' || t != t_end) {
    if (pending_question) {
      if (t != t_end) ++t;
      pending_question = false;
      continue;
    }
    if (*p == '*') {
      while (*p == '*') ++p;
      t = (*p == '\0') ? t_end : tail_search(t, t_end, p);
      continue;
    }
    if (*p == '?') {
      pending_question = true;
      ++p;
      continue;
    }
    // A pattern at its end, a text at its end, or two different bytes: no match here.
    if (*p == '\0' || t == t_end || *p != *t) break;
    ++p;
    ++t;
  }
  return (*p == '\0' && t == t_end) ? 0 : 1;
}

}  // namespace

int wild_match(const char* pattern, const char* text, std::size_t len) {
  char pat[work_area_size];
  char txt[work_area_size];
  std::size_t pat_len = 0;
  std::size_t txt_len = 0;
  // Texts that do not fit the work areas never match (output chunks always fit).
  if (std::strlen(pattern) > max_pattern_length || !enclose_in_stars(pat, pattern, std::strlen(pattern), &pat_len) ||
      !enclose_in_stars(txt, text, len, &txt_len))
    return 1;
  return match_enclosed(pat, txt, txt + txt_len);
}

int wildcmp(const char* pattern, const char* text, std::size_t len) {
  if (pattern == nullptr || text == nullptr) return 1;
  if (pattern[0] == '~') return wild_match(pattern + 1, text, len) == 0 ? 1 : 0;
  return wild_match(pattern, text, len);
}

int wildcmp(const char* pattern, const char* text) { return wildcmp(pattern, text, text ? std::strlen(text) : 0); }
