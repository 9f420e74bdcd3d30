// System error texts on Windows: GetLastError and the system message table.
#include "platform/system_error.h"

#include <windows.h>

#include <cstdio>

const int broken_pipe_error = ERROR_BROKEN_PIPE;

int last_system_error() { return static_cast<int>(GetLastError()); }

void system_message(int code, char* text, std::size_t size) {
  char* message = nullptr;
  DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, static_cast<DWORD>(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                           reinterpret_cast<LPSTR>(&message), 0, nullptr);
  std::snprintf(text, size, "%s", n != 0 && message != nullptr ? message : "");
  if (message != nullptr) LocalFree(message);
}
