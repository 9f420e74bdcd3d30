// Local-time stamps that open every supervision message.
#include "common/time_stamp.h"

#include <cstdio>

const char* time_stamp(std::time_t when) {
  static char area[32];
  if (when == 0) when = std::time(nullptr);
  struct tm local {};
  localtime_r(&when, &local);
  std::snprintf(area, sizeof area, "%02d/%02d/%02d-%02d:%02d:%02d", local.tm_year % 100, local.tm_mon + 1,
                local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  return area;
}
