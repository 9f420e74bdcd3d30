// The one error text: the system's message for an errno code, the same scheme on every system,
// a whole line with its line end and trailing blanks taken off.
#include "platform/system_error.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

namespace {

TEST(SystemErrorText, IsErrnosTextOnEverySystem) {
  struct {
    int code;
    const char* text;
  } rows[] = {{EPIPE, "Broken pipe"}, {EACCES, "Permission denied"}, {ENOENT, "No such file or directory"}};
  for (const auto& r : rows) EXPECT_STREQ(system_error_text(r.code), r.text);
  std::string unknown = system_error_text(123456);
  ASSERT_FALSE(unknown.empty());
  EXPECT_GT(static_cast<unsigned char>(unknown.back()), 0x20u);
}

}  // namespace
