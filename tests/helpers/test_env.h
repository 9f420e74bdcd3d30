// Environment changes for tests, on POSIX and on Windows alike.
#pragma once
#include <cstdlib>
#include <ctime>

#ifdef _WIN32
inline void set_env(const char* name, const char* value) { _putenv_s(name, value); }
inline void unset_env(const char* name) { _putenv_s(name, ""); }  // an empty value removes it
inline void use_utc() {
  _putenv_s("TZ", "UTC0");
  _tzset();
}
#else
inline void set_env(const char* name, const char* value) { setenv(name, value, 1); }
inline void unset_env(const char* name) { unsetenv(name); }
inline void use_utc() {
  setenv("TZ", "UTC0", 1);
  tzset();
}
#endif
