// Fuzz target: the wildcard matcher on any pattern and text, with the inversion invariant.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "watchdog/wildcmp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Pattern and text are separated by the first NUL byte.
  std::string input(reinterpret_cast<const char*>(data), size);
  std::size_t cut = input.find('\0');
  std::string pattern = input.substr(0, cut);
  std::string text = cut == std::string::npos ? "" : input.substr(cut + 1);
  int plain = wildcmp(pattern.c_str(), text.c_str());
  if (plain != 0 && plain != 1) std::abort();
  std::string inverted = "~" + pattern;
  int flipped = wildcmp(inverted.c_str(), text.c_str());
  // An inverted pattern flips the result, unless the pattern is too long to be compared.
  if (pattern[0] != '~' && pattern.size() <= 1022 && text.size() <= 4093 && flipped == plain) std::abort();
  return 0;
}
