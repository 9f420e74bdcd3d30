// The wildcard matcher against its defining table, star binding and '?' cases included.
#include "watchdog/wildcmp.h"

#include <gtest/gtest.h>

#include <string>

#include "watchdog/chunk_match.h"

namespace {

struct match_case {
  const char* pattern;
  const char* text;
  int expected;
};

class WildcmpTable : public ::testing::TestWithParam<match_case> {};

TEST_P(WildcmpTable, GivesTheDefinedResult) {
  const match_case& c = GetParam();
  EXPECT_EQ(wildcmp(c.pattern, c.text), c.expected) << "pattern '" << c.pattern << "' text '" << c.text << "'";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WildcmpTable,
    ::testing::Values(match_case{"abc", "xxabcxx", 0}, match_case{"abc", "", 1}, match_case{"error", "Error", 1},
                      match_case{"err*fail", "err: fail", 0}, match_case{"err*fail", "fail err", 1},
                      match_case{"x?z", "xyz", 0}, match_case{"x?z", "xz", 1}, match_case{"~ready", "not yet", 0},
                      match_case{"~ready", "is ready now", 1}, match_case{"~ready", "", 0}, match_case{"*", "", 0},
                      match_case{"??", "", 0}, match_case{"*", "anything", 0}, match_case{"?*?", "a", 0},
                      match_case{"~", "", 1}, match_case{"~", "text", 1},
                      // A star binds to the last occurrence of the literal run after it, with no backtracking.
                      match_case{"a*b", "aXb aY", 1}, match_case{"at*end", "at the end and at it", 1},
                      match_case{"a*a", "aa", 1}, match_case{"a*b*c", "aXbYc", 0}, match_case{"a*b*c", "acb", 1},
                      // A question mark after a star takes the next character without letting the star grow.
                      match_case{"a*?c", "abc", 0}, match_case{"a*?c", "abXc", 1},
                      // Question marks at the ends may take the stars added around the text.
                      match_case{"?b", "b", 0}, match_case{"?b", "bx", 0}, match_case{"?b", "xb", 1},
                      match_case{"b?", "xb", 0}, match_case{"a~b", "xa~by", 0},
                      match_case{"ERROR", "line 1\nERROR: x\n", 0}));

TEST(Wildcmp, MissingPatternOrTextIsAMiss) {
  EXPECT_EQ(wildcmp(nullptr, "x"), 1);
  EXPECT_EQ(wildcmp("x", nullptr), 1);
}

TEST(Wildcmp, OverlongInputsNeverOverflowAndMiss) {
  std::string long_pattern(max_pattern_length + 1, 'a');
  std::string longest_pattern(max_pattern_length, 'a');
  std::string text(5000, 'a');
  EXPECT_EQ(wildcmp(long_pattern.c_str(), "aaa"), 1);
  EXPECT_EQ(wildcmp(longest_pattern.c_str(), std::string(2000, 'a').c_str()), 0);
  EXPECT_EQ(wildcmp("a", text.c_str()), 1);                    // text over the work area
  EXPECT_EQ(wildcmp("a", std::string(4093, 'a').c_str()), 0);  // the largest that fits
}

TEST(Wildcmp, DebugTraceShowsMatcherAndFinalResult) {
  our_outputs not_opened;  // the trace goes to stderr
  ::testing::internal::CaptureStderr();
  EXPECT_TRUE(chunk_matches("~ready", "not yet", 7, &not_opened));
  EXPECT_FALSE(chunk_matches(nullptr, "x", 1, &not_opened));
  EXPECT_FALSE(chunk_matches("ready", "not yet", 7, nullptr));
  std::string trace = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(trace, "wildcmp(\"~ready\",\"not yet\") : 1\n0\nwildcmp(\"(null)\",\"x\") : 1\n");
}

}  // namespace

namespace {

TEST(Wildcmp, TheWholeChunkTakesPartNulBytesIncluded) {
  struct {
    std::string pattern, text;
    int expected;
  } rows[] = {
      {"*FATAL*", std::string("x\0 FATAL error", 14), 0},
      {"FATAL", std::string("\0\0FATAL", 7), 0},
      {"~FATAL", std::string("x\0 FATAL", 8), 1},  // the inverted pattern sees it too
      {"~FATAL", std::string("x\0 fatal", 8), 0},
      {"x?F", std::string("x\0F", 3), 0},  // '?' takes any byte
      {"x F", std::string("x\0F", 3), 1},  // a NUL matches no literal character
      {"a*b", std::string("a\0b", 3), 0},
  };
  for (const auto& r : rows)
    EXPECT_EQ(wildcmp(r.pattern.c_str(), r.text.data(), r.text.size()), r.expected) << r.pattern;
}

}  // namespace
