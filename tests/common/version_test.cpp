// Version record parsing and time stamps.
#include "common/version.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/time_stamp.h"
#include "tests/helpers/test_env.h"

namespace {

struct version_case {
  std::string revision, date;  // watchdog's two keywords
  std::string want_revision, want_date;
};

TEST(Version, RevisionAndDateKeywords) {
  version_case rows[] = {
      {"$Revision: 0.42 $", "$Date: 2020/06/21 06:14:02 $", "42", "2020/06/21"},
      {"$Revision$", "$Date$", "", ""},
      {"$Revision: 42 $", "$Date: 2020/06/21 $", "", "2020/06/21"},
  };
  for (auto& r : rows) {
    version_pieces v = parse_revision_keywords(r.revision.data(), r.date.data());
    EXPECT_STREQ(v.revision, r.want_revision.c_str());
    EXPECT_STREQ(v.date, r.want_date.c_str());
  }
}

TEST(Version, HeaderKeyword) {
  struct {
    std::string header, rev, date;
  } rows[] = {
      {"$Header: /src/framerelay.cpp,v 0.24 2016/02/17 06:44:43 someone Exp $", "0.24", "2016/02/17"},
      {"$Header$", "", ""},
  };
  for (auto& r : rows) {
    version_pieces v = parse_header_keyword(r.header.data());
    EXPECT_STREQ(v.revision, r.rev.c_str());
    EXPECT_STREQ(v.date, r.date.c_str());
  }
}

TEST(Version, LoadVersionParsesOnce) {
  load_version();  // this binary links watchdog's keywords
  const char* rev = version_revision;
  EXPECT_STREQ(rev, "42");
  load_version();
  EXPECT_EQ(version_revision, rev);
  EXPECT_STREQ(version_date, "2020/06/21");
}

TEST(Version, CutAtStopsPastTheWantedCount) {
  char text[] = "a b c d";
  char* p = cut_at(text, ' ', 2);
  EXPECT_STREQ(p, "c d");
  EXPECT_STREQ(text, "a");
  EXPECT_STREQ(text + 2, "b");
  char none[] = "abc";
  EXPECT_EQ(cut_at(none, ' ', 1), none + 3);
}

TEST(TimeStamp, TwoDigitFieldsInLocalTime) {
  use_utc();
  struct {
    std::time_t when;
    const char* text;
  } rows[] = {
      {1592719442, "20/06/21-06:04:02"},  // 2020-06-21 06:04:02 UTC
      {946684800, "00/01/01-00:00:00"},
      {1000000000, "01/09/09-01:46:40"},
  };
  for (const auto& r : rows) EXPECT_STREQ(time_stamp(r.when), r.text);
  EXPECT_EQ(std::strlen(time_stamp(0)), 17u);
  const char* a = time_stamp(946684800);
  time_stamp(1000000000);
  EXPECT_STREQ(a, "01/09/09-01:46:40") << "one static area";
}

}  // namespace
