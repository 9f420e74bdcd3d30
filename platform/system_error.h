// The system's error codes and their texts, for messages that quote the system. Every failure
// the platform layer reports is an errno code, negated, on every system; the Windows layer
// translates the system's own codes once, where it meets them, so a code means the same
// everywhere and has one text.
#pragma once

// The text for an errno code: the system's, with trailing blanks and line ends taken off (the
// first character always stays). One area of 256 bytes, rewritten by every call.
const char* system_error_text(int code);

#ifdef _WIN32
// The errno code for a Windows system error code (GetLastError's).
int errno_from_system_code(unsigned long code);
#endif
