// Fuzz target: program location over any invocation path and PATH value. The split agrees
// with the double-byte separator test, and the results stay within their areas.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/program_location.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string input(reinterpret_cast<const char*>(data), size);
  std::size_t cut = input.find('\0');
  std::string path = input.substr(0, cut);
  std::string search = cut == std::string::npos ? "" : input.substr(cut + 1);
  search = search.substr(0, search.find('\0'));
  setenv("PATH", search.c_str(), 1);
  char name[64];
  char dir[128];
  for (separator_rule rule : {separator_rule::plain, separator_rule::double_byte}) {
    locate_program(path.c_str(), name, sizeof name, dir, sizeof dir, true, rule == separator_rule::plain, rule);
    if (std::strlen(name) >= sizeof name || std::strlen(dir) >= sizeof dir) __builtin_trap();
  }
  // The name is what follows the rightmost position the separator test accepts.
  std::size_t last = std::string::npos;
  for (std::size_t i = 0; i < path.size(); ++i)
    if (is_separator_at(path.c_str(), i)) last = i;
  std::string want = last == std::string::npos ? path : path.substr(last + 1);
  char big_name[path_area_size];
  char big_dir[path_area_size];
  locate_program(path.c_str(), big_name, sizeof big_name, big_dir, sizeof big_dir, false, false,
                 separator_rule::double_byte);
  if (want.size() < sizeof big_name && want != big_name) __builtin_trap();
  return 0;
}
