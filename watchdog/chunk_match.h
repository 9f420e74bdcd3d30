// The -s patterns against a chunk of the child's output, with the matcher's trace.
#pragma once
#include <cstddef>

#include "watchdog/output_queue.h"

// True when `pattern` hits the `len` bytes of `chunk` (see wildcmp). With `trace` (not null),
// the comparison is shown on its standard error: the pattern and the chunk, the matcher's own result
// and the final one (they differ for an inverted pattern; a missing pattern or chunk has no
// matcher's result).
bool chunk_matches(const char* pattern, const char* chunk, std::size_t len, our_outputs* trace);
