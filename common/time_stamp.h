// Time stamps for event messages, and the wall clock used by frame pacing.
#pragma once
#include <cstdint>
#include <ctime>

// "YY/MM/DD-hh:mm:ss" of `when` (0: now) in local time. The text lives in one static area
// that every call rewrites.
const char* time_stamp(std::time_t when);
