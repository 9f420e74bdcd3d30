// The current directory, as the system reports it.
#pragma once
#include <cstddef>

// Writes the current directory into `area`; false when it cannot be read or does not fit.
bool read_current_directory(char* area, std::size_t size);

// Enters `dir`, writes the current directory as the system then reports it into `out` and
// goes back. False, with `out` untouched, when `dir` cannot be entered.
bool directory_as_reported(const char* dir, char* out, std::size_t size);
