// Finding the program's own file name and directory from its invocation path.
#pragma once
#include <cstddef>

// Work and result areas for paths. Linux paths run up to PATH_MAX (4096) bytes,
// so the areas take that much rather than cutting ordinary long paths short.
constexpr std::size_t path_area_size = 4096;

// How a byte is recognised as a directory separator.
enum class separator_rule {
  plain,        // every '/' or '\' byte is a separator
  double_byte,  // a Shift_JIS trail byte is never a separator, even when it is 0x5C
};

// The program's own file name as invoked and its absolute directory, filled once at start-up.
extern char program_name[path_area_size];
extern char program_dir[path_area_size];

// True when the byte at `index` of `text` is a separator under the double-byte rule.
bool is_separator_at(const char* text, std::size_t index);

// Splits `invocation_path` into name and directory, optionally looks a bare name up on
// PATH (`use_path`) and makes the directory absolute (`make_absolute`). Writes both results,
// each cut to its area size; never fails.
void locate_program(const char* invocation_path, char* name, std::size_t name_size, char* dir, std::size_t dir_size,
                    bool use_path, bool make_absolute, separator_rule rule);
