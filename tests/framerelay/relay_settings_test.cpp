// Parsing of the framerelay command line.
#include "framerelay/relay_settings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct parsed {
  relay_parse_outcome outcome;
  std::string err;
};

relay_settings_record relay_settings;

parsed parse(std::vector<std::string> words) {
  static std::vector<std::vector<std::string>> keep;
  words.insert(words.begin(), "framerelay");
  keep.push_back(words);
  std::vector<char*> argv;
  for (auto& w : keep.back()) argv.push_back(w.data());
  argv.push_back(nullptr);
  ::testing::internal::CaptureStderr();
  relay_parse_outcome outcome =
      parse_relay_command_line(static_cast<int>(argv.size() - 1), argv.data(), &relay_settings);
  return {outcome, ::testing::internal::GetCapturedStderr()};
}

std::string list_text(const word_list& l) {
  std::string s;
  for (int i = 0; i < l.count; ++i) s += std::string(i ? "|" : "") + l.words[i];
  return s;
}

TEST(RelayCommandLine, ListsModesAndUrl) {
  struct row {
    std::vector<std::string> words;
    std::string url, list1, list2;
    int repeat;
    bool adaptive;
    bool realtime = false;
  } rows[] = {
      {{"-1", "-an", "-vf", "scale=320:240", ";", "-r-20", "URL"}, "URL", "-an|-vf|scale=320:240", "", 20, true},
      {{"-1-an", "x", ";", "URL"}, "URL", "-an|x", "", 40, false},
      {{"-1;", "URL"}, "", ";|URL", "", 40, false},
      {{"-", "-odd"}, "-odd", "", "", 40, false},
      {{"URL", "-"}, "URL", "", "", 40, false},
      {{"-1", "a", "-", "URL", "b"}, "b", "a", "", 40, false},
      {{";"}, ";", "", "", 40, false},
      {{"first", "second"}, "second", "", "", 40, false},
      {{"-2", "x", "y", ";", "-1", "z", ";", "u"}, "u", "z", "x|y", 40, false},
      {{"-1", "a", ";", "-1", "b", ";", "u"}, "u", "b", "", 40, false},
      {{"-r5", "-r", "u"}, "u", "", "", 5, false},
      {{"-r-7", "-r", "u"}, "u", "", "", 7, false},
      {{"-r-2147483648", "u"}, "u", "", "", 2147483647, true},
      {{"-r-5", "-R", "u"}, "u", "", "", 5, true, true},
      {{"-R", "-r3", "u"}, "u", "", "", 3, false, false},
      {{"-Rx", "u"}, "u", "", "", 40, false, true},
  };
  for (const auto& r : rows) {
    parsed p = parse(r.words);
    EXPECT_EQ(relay_settings.url ? std::string(relay_settings.url) : "", r.url) << r.words[0];
    EXPECT_EQ(list_text(relay_settings.encoder_args_1), r.list1) << r.words[0];
    EXPECT_EQ(list_text(relay_settings.encoder_args_2), r.list2) << r.words[0];
    EXPECT_EQ(relay_settings.repeat, r.repeat) << r.words[0];
    EXPECT_EQ(relay_settings.adaptive, r.adaptive) << r.words[0];
    EXPECT_EQ(relay_settings.realtime, r.realtime) << r.words[0];
    EXPECT_EQ(p.outcome, r.url.empty() ? relay_parse_usage : relay_parse_ok);
  }
}

TEST(RelayCommandLine, NumbersAndWarnings) {
  parse({"-s320", "u"});
  EXPECT_EQ(relay_settings.width, 320);
  EXPECT_EQ(relay_settings.height, 480);
  parse({"-s,240", "u"});
  EXPECT_EQ(relay_settings.width, 640);
  EXPECT_EQ(relay_settings.height, 480);
  parse({"-s-3,7", "u"});
  EXPECT_EQ(relay_settings.width, -3);
  EXPECT_EQ(relay_settings.height, 7);
  const std::string unused = "Warning: -m has no effect without -R\n", bad = "Warning: -m bad value\n";
  struct {
    const char* word;
    bool size_given;
    int stall;
    std::string err;
  } rows[] = {
      {"-s320", true, 10, ""},
      {"-s,240", false, 10, ""},
      {"-m3", false, 3, ""},
      {"-m", false, 10, ""},
      {"-m0", false, 10, bad},
      {"-m-5", false, 10, bad},
      {"-m4294967298", false, 10, bad},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(parse({"-R", r.word, "u"}).err, r.err) << r.word;
    EXPECT_EQ(relay_settings.size_given, r.size_given) << r.word;
    EXPECT_EQ(relay_settings.stall_seconds, r.stall) << r.word;
  }
  EXPECT_EQ(parse({"-m3", "u"}).err, unused);
  parsed p = parse({"-r9", "-r-0", "u"});
  EXPECT_EQ(p.err, "Warning: -r bad value\n");
  EXPECT_EQ(relay_settings.repeat, 40);
  EXPECT_FALSE(relay_settings.adaptive);
  struct {
    const char* word;
    unsigned mask;
    bool fv, ev;
  } masks[] = {{"-d", 1, false, false},    {"-dz", 1, false, false},   {"-d2", 2, false, false},
               {"-d30", 0x30, true, true}, {"-d32", 0x32, true, true}, {"-d10", 0x10, true, false}};
  for (const auto& m : masks) {
    parse({m.word, "u"});
    EXPECT_EQ(relay_settings.debug, m.mask) << m.word;
    EXPECT_EQ(relay_settings.fetcher_verbose, m.fv) << m.word;
    EXPECT_EQ(relay_settings.encoder_verbose, m.ev) << m.word;
  }
}

TEST(RelayCommandLine, BadOptionsAndFullLists) {
  EXPECT_EQ(parse({"-x", "u"}).err, "Option x ??\n");
  EXPECT_EQ(parse({"-x", "u"}).outcome, relay_parse_usage);
  EXPECT_EQ(parse({"-hx", "u"}).outcome, relay_parse_usage);
  EXPECT_EQ(parse({}).outcome, relay_parse_usage);
  EXPECT_EQ(parse({""}).outcome, relay_parse_usage);
  std::vector<std::string> words = {"-1"};
  for (int i = 0; i < 130; ++i) words.push_back("w" + std::to_string(i));
  words.push_back(";");
  words.push_back("u");
  parsed p = parse(words);
  EXPECT_EQ(p.err, "Warning: ffmpeg argument 1 max over (128)\nWarning: ffmpeg argument 1 max over (128)\n");
  EXPECT_EQ(relay_settings.encoder_args_1.count, 128);
  EXPECT_STREQ(relay_settings.encoder_args_1.words[127], "w127");
}

}  // namespace
