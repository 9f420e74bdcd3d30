// Parsing of the watchdog command line and quoting of command words.
#include "watchdog/run_settings.h"

#include <gtest/gtest.h>

#include <climits>

#include <string>
#include <vector>

namespace {

struct parsed {
  parse_outcome outcome;
  std::string err;
};

// The record the latest parse filled.
run_settings_record settings;

parsed parse(std::vector<std::string> words) {
  release_command_words(&settings);
  settings = run_settings_record{};
  words.insert(words.begin(), "watchdog");
  std::vector<char*> argv;
  static std::vector<std::vector<std::string>> keep;  // texts referred to by the settings
  keep.push_back(words);
  for (auto& w : keep.back()) argv.push_back(w.data());
  argv.push_back(nullptr);
  ::testing::internal::CaptureStderr();
  parse_outcome outcome = parse_command_line(static_cast<int>(argv.size() - 1), argv.data(), &settings);
  if (outcome == parse_ok) outcome = check_run_settings(&settings);
  return {outcome, ::testing::internal::GetCapturedStderr()};
}

std::string command_line() {
  std::string s;
  for (int i = 0; i < settings.cmd_argc; ++i) s += (i ? " " : "") + std::string(settings.cmd_argv[i]);
  return s;
}

TEST(ParseCommandLine, CommandPhaseAndMarkers) {
  struct row {
    std::vector<std::string> words;
    std::string command;
    bool quiet;
  } rows[] = {
      {{"-", "-q", "x"}, "-q x", false},         {{"-qe", "-x"}, "-x", true},
      {{"cmd", "-q"}, "cmd -q", false},          {{"-", "-", "cmd"}, "cmd", false},
      {{"-q", "", "a b"}, "\"\" \"a b\"", true}, {{"-e", "-e", "-q"}, "-e -q", false},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(parse(r.words).outcome, parse_ok);
    EXPECT_EQ(command_line(), r.command);
    EXPECT_EQ(settings.quiet, r.quiet);
  }
}

TEST(ParseCommandLine, MonitorAndMatchModes) {
  constexpr stream_scope none = stream_scope::none, output_only = stream_scope::output_only,
                         both = stream_scope::output_and_error;
  struct row {
    std::vector<std::string> words;
    int sec;
    stream_scope monitor_mode, match_mode;
    std::string file;
  } rows[] = {
      {{"-m", "c"}, 60, output_only, none, ""},
      {{"-M", "c"}, 60, both, none, ""},
      {{"-M", "-m30", "c"}, 30, both, none, ""},
      {{"-m30", "-M", "c"}, 30, both, none, ""},
      {{"-m30,app.log", "c"}, 30, output_only, none, "app.log"},
      {{"-m,app.log", "c"}, 60, output_only, none, ""},
      {{"-m30,", "c"}, 30, output_only, none, ""},
      {{"-m5, my log", "c"}, 5, output_only, none, "my"},
      {{"-m30q", "c"}, 30, output_only, none, ""},
      {{"-sERR", "-S", "c"}, 60, none, both, ""},
      {{"-S", "-sERR", "c"}, 60, none, both, ""},
      {{"-sERR", "c"}, 60, none, output_only, ""},
  };
  for (const auto& r : rows) {
    ASSERT_EQ(parse(r.words).outcome, parse_ok) << r.words[0];
    EXPECT_EQ(settings.monitor_sec, r.sec) << r.words[0];
    EXPECT_EQ(settings.monitor_mode, r.monitor_mode) << r.words[0];
    EXPECT_EQ(settings.match_mode, r.match_mode) << r.words[0];
    EXPECT_EQ(std::string(settings.watch_file), r.file) << r.words[0];
  }
}

TEST(ParseCommandLine, NumbersAndNames) {
  EXPECT_EQ(parse({"-t600", "c"}).outcome, parse_ok);
  EXPECT_EQ(settings.timeout_sec, 600);
  EXPECT_EQ(settings.timeout_status, 99);
  parse({"-t600,3", "c"});
  EXPECT_EQ(settings.timeout_status, 3);
  parse({"-t30,x", "c"});
  EXPECT_EQ(settings.timeout_status, 99);
  parse({"-n5abc", "c"});
  EXPECT_EQ(settings.max_count, 5);
  parse({"-x", "c"});
  EXPECT_TRUE(settings.end_on_status);
  EXPECT_EQ(settings.end_status, 0);
  parse({"-x2", "c"});
  EXPECT_EQ(settings.end_status, 2);
  struct {
    const char* word;
    int mask;
  } masks[] = {{"-d", 1}, {"-dz", 1}, {"-d0", 0}, {"-d3", 3}, {"-dff", 255}};
  for (const auto& m : masks) {
    parse({m.word, "c"});
    EXPECT_EQ(settings.debug_mask, m.mask) << m.word;
  }
  parse({"-E", "-P", "c"});
  EXPECT_STREQ(settings.count_env, "WATCHDOG_COUNT");
  EXPECT_STREQ(settings.pid_env, "WATCHDOG_PID");
  parse({"-EMYCOUNT", "-PMYPID", "-p123", "-XDONE", "c"});
  EXPECT_STREQ(settings.count_env, "MYCOUNT");
  EXPECT_STREQ(settings.pid_env, "MYPID");
  EXPECT_EQ(settings.reuse_pid, 123);
  EXPECT_TRUE(settings.end_on_file);
  EXPECT_STREQ(settings.end_file, "DONE");
}

TEST(ParseCommandLine, RejectedCommandLines) {
  struct row {
    std::vector<std::string> words;
    parse_outcome outcome;
    std::string err;
  } rows[] = {
      {{}, parse_usage, "ERROR: no command\n"},
      {{"-q"}, parse_usage, "ERROR: no command\n"},
      {{"-"}, parse_usage, "ERROR: no command\n"},
      {{"-e"}, parse_usage, "ERROR: no command\n"},
      {{"-h", "c"}, parse_usage, ""},
      {{"-m0", "c"}, parse_usage, "ERROR: -m0: the seconds must be a number above 0\n"},
      {{"-m-5", "c"}, parse_usage, "ERROR: -m-5: the seconds must be a number above 0\n"},
      {{"-t", "c"}, parse_usage, "ERROR: -t: the seconds must be a number above 0\n"},
      {{"-t0", "c"}, parse_usage, "ERROR: -t0: the seconds must be a number above 0\n"},
      {{"-n", "c"}, parse_usage, "ERROR: -n: the count must be a number above 0\n"},
      {{"-X", "c"}, parse_usage, "ERROR: -X: the file name is missing\n"},
      {{"-s", "c"}, parse_usage, "ERROR: -s: the pattern is missing\n"},
      {{"-p-1", "c"}, parse_usage, "ERROR: -p-1: a process id is not negative\n"},
      {{"-x256", "c"}, parse_usage, "ERROR: -x256: an exit status is a number from 0 to 255\n"},
      {{"-x-1", "c"}, parse_usage, "ERROR: -x-1: an exit status is a number from 0 to 255\n"},
      {{"-k", "c"}, parse_usage, "ERROR: -k: the seconds must be a number above 0\n"},
      {{"-k5,0", "c"}, parse_usage, "ERROR: -k5,0: the signal must be a number from 1 to 64\n"},
      {{"-w0", "c"}, parse_usage, "ERROR: -w0: the seconds must be a number above 0\n"},
      {{"-t5,4294967296", "c"}, parse_usage, "ERROR: -t5,4294967296: the number is beyond the 32-bit range\n"},
      {{"-p", "-p0", "c"}, parse_ok, ""},  // no adoption: `-p$(cat app.pid)` without a pid file
      {{"--", "c"}, parse_usage, "Option - ??\n"},
      {{"-qz", "c"}, parse_usage, "Option z ??\n"},
      {{"-S", "c"}, parse_refused, "ERROR: no string by -s\n"},
      {{"-b", "c"}, parse_ok, "Mingw version is not support (-b)\n"},
  };
  for (const auto& r : rows) {
    parsed p = parse(r.words);
    EXPECT_EQ(p.outcome, r.outcome) << (r.words.empty() ? "" : r.words[0]);
    EXPECT_EQ(p.err, r.err) << (r.words.empty() ? "" : r.words[0]);
  }
}

TEST(ParseCommandLine, NumbersBeyondTheirThirtyTwoBitFieldAreRefused) {
  struct {
    const char* word;
    parse_outcome outcome;
    int* field;
    int value;
  } rows[] = {{"-m2147483648,f", parse_usage, nullptr, 0},
              {"-t5,4294967296", parse_usage, nullptr, 0},
              {"-n99999999999999999999", parse_usage, nullptr, 0},
              {"-x2147483648", parse_usage, nullptr, 0},
              {"-p2147483648", parse_usage, nullptr, 0},
              {"-d100000000", parse_usage, nullptr, 0},
              {"-w4294967297", parse_usage, nullptr, 0},
              {"-w0", parse_usage, nullptr, 0},
              {"-m2147483647", parse_ok, &settings.monitor_sec, INT_MAX},
              {"-x255", parse_ok, &settings.end_status, 255},
              {"-k3,6", parse_ok, &settings.gentle_kill_signal, 6},
              {"-dffffffff", parse_ok, &settings.debug_mask, -1},
              {"-w8x", parse_ok, &settings.restart_pause_max, 8}};
  for (const auto& r : rows) {
    EXPECT_EQ(parse({r.word, "c"}).outcome, r.outcome) << r.word;
    EXPECT_EQ(r.field ? *r.field : 0, r.value) << r.word;
  }
}

TEST(ParseCommandLine, SixtyFifthPatternIsDropped) {
  std::vector<std::string> words;
  for (int i = 0; i < 65; ++i) words.push_back("-sP" + std::to_string(i));
  words.push_back("c");
  parsed p = parse(words);
  EXPECT_EQ(p.outcome, parse_ok);
  EXPECT_EQ(p.err, "-s string over, max is 64\n");
  EXPECT_EQ(settings.pattern_count, 64);
  EXPECT_STREQ(settings.patterns[63], "P63");
}

TEST(ParseCommandLine, OverlongInputsAreRefusedOrHandled) {
  // Words beyond the command's slots, file names and patterns beyond their areas: refused.
  std::vector<std::string> many(255, "w");
  EXPECT_EQ(parse(many).outcome, parse_refused);
  std::vector<std::string> most(254, "w");
  EXPECT_EQ(parse(most).outcome, parse_ok);
  EXPECT_EQ(parse({"-m5," + std::string(512, 'f'), "c"}).outcome, parse_refused);
  EXPECT_EQ(parse({"-m5," + std::string(511, 'f'), "c"}).outcome, parse_ok);
  EXPECT_EQ(parse({"-s" + std::string(1023, 'p'), "c"}).outcome, parse_refused);
  EXPECT_EQ(parse({"-s~" + std::string(1022, 'p'), "c"}).outcome, parse_ok);
  // A long command word is quoted in full.
  std::string word(5000, '"');
  parse({word});
  EXPECT_EQ(std::string(settings.cmd_argv[0]).size(), 2 + 2 * word.size());
  release_command_words(&settings);
}

TEST(QuoteArg, WrapsAndEscapes) {
  struct row {
    const char* word;
    const char* quoted;
  } rows[] = {
      {"plain", "plain"},
      {"a b", "\"a b\""},
      {"a\tb", "\"a\tb\""},
      {"", "\"\""},
      {"a\"b", "a\\\"b"},
      {"\"ab\"", "\"\\\"ab\\\"\""},
      {"\xe9t\xe9", "\"\xe9t\xe9\""},
      {"back\\slash", "back\\slash"},
      {"ends\\", "ends\\"},
      // Backslashes right before a double quote are doubled, so the child still reads them
      // as backslashes when it splits the joined command line.
      {"a\\\"b c", "\"a\\\\\\\"b c\""},
      {"a\\\"b", "a\\\\\\\"b"},
      {"x y\\", "\"x y\\\\\""},
      {"x y\\\\", "\"x y\\\\\\\\\""},
  };
  for (const auto& r : rows) {
    char* q = quote_arg(r.word);
    EXPECT_STREQ(q, r.quoted) << r.word;
    free(q);
  }
}

}  // namespace
