// watchdog's command line from the outside: usage text, messages and exit statuses.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/e2e_test.h"

namespace {

const std::string usage_text =
    "watchdog  ver 1.0-42 <mingw> date 2020/06/21\n"
    "    usage: watchdog [-options] [-e] command arg ...\n"
    "      -h         ... this help message.\n"
    "      -m[<sec>]  ... need stdout by each <sec>, sec default is 60.\n"
    "      -m<sec>,<file>  ... need file update by each <sec>\n"
    "      -M         ... include stderr by -m[<sec>]\n"
    "      -n<cnt>    ... max repeat count\n"
    "      -s<regstr> ... hungup <regstr>\n"
    "      -S         ... include stderr for '-s'\n"
    "      -p<pid>    ... re-use process\n"
    "      -E<count-env>    ... Count environ name (def:WATCHDOG_COUNT)\n"
    "      -P<pid-env>    ... Pid environ name (def:WATCHDOG_PID)\n"
    "      -t<sec>[,<retcd>]    ... timeout mode\n"
    "      -x[<exitcd>]    ... watchdog finish by exiting process by <exitcd: def:0>\n"
    "      -X<exitfile>    ... watchdog finish by exiting process by existing file\n"
    "      -q         ... quiet mode\n";

class WatchdogCli : public E2eTest {};

program_result watchdog(std::vector<std::string> args) {
  args.insert(args.begin(), WATCHDOG_BIN);
  return run_program(args, {.env = {}, .unset = {}, .timeout_seconds = 20, .input = "", .cwd = ""});
}

TEST_F(WatchdogCli, FailureTable) {
  struct row {
    std::vector<std::string> args;
    std::string err;
  } rows[] = {
      {{"-h"}, usage_text},
      {{"-m30", "-Efoo", "-h"}, usage_text},
      {{}, "ERROR: no command\n" + usage_text},
      {{"-q", "-"}, "ERROR: no command\n" + usage_text},
      {{"-e"}, "ERROR: no command\n" + usage_text},
      {{"-K", "true"}, "Option K ??\n" + usage_text},
      {{"--", "true"}, "Option - ??\n" + usage_text},
      {{"-X", "true"}, "ERROR: -X: the file name is missing\n" + usage_text},
      {{"-m0", "true"}, "ERROR: -m0: the seconds must be a number above 0\n" + usage_text},
      {{"-m4294967297", "true"},
       "ERROR: -m4294967297: the number is beyond the 32-bit range\n" + usage_text},  // would wrap to -m1
      {{"-x256", "true"}, "ERROR: -x256: an exit status is a number from 0 to 255\n" + usage_text},
      {{"-p-1", "true"}, "ERROR: -p-1: a process id is not negative\n" + usage_text},
      {{"-S", "true"}, "ERROR: no string by -s\n"},
      {{"-S"}, "ERROR: no command\n" + usage_text},  // the command check comes first
      {{"-m1," + std::string(600, 'f'), "true"}, "ERROR: -m file name too long (max 511)\n"},
      {{"-s" + std::string(1100, 'p'), "true"}, "ERROR: -s string too long (max 1022)\n"},
  };
  for (const auto& r : rows) {
    program_result p = watchdog(r.args);
    EXPECT_EQ(p.status, 1) << (r.args.empty() ? "" : r.args[0]);
    EXPECT_EQ(p.err, r.err) << (r.args.empty() ? "" : r.args[0]);
    EXPECT_EQ(p.out, "");
  }
}

TEST_F(WatchdogCli, TooManyCommandWordsAreRefused) {
  std::vector<std::string> args = {"true"};
  for (int i = 0; i < 254; ++i) args.push_back("x");
  program_result p = watchdog(args);
  EXPECT_EQ(p.status, 1);
  EXPECT_EQ(p.err, "ERROR: too many command words (max 254)\n");
}

TEST_F(WatchdogCli, CommandThatCannotStart) {
  program_result p = watchdog({"-n1", "/nonexistent/prog"});
  EXPECT_EQ(p.status, 1);
  EXPECT_NE(p.err.find("****** WATCHDOG START [/nonexistent/prog] ******\n"), std::string::npos);
  EXPECT_NE(p.err.find("/nonexistent/prog: No such file or directory\n"), std::string::npos);
  EXPECT_EQ(p.err.find("END"), std::string::npos);
}

TEST_F(WatchdogCli, BFlagWarnsAndRuns) {
  program_result p = watchdog({"-q", "-b", "-n1", "sh", "-c", "echo ran"});
  EXPECT_EQ(p.status, 0);
  EXPECT_EQ(p.err, "Mingw version is not support (-b)\n");
  EXPECT_EQ(p.out, "ran\n");
}

TEST_F(WatchdogCli, VersionIdentificationIsInTheBinary) {
  program_result p = run_program({"sh", "-c", std::string("strings ") + WATCHDOG_BIN + " | grep -F '@(#)'"});
  EXPECT_NE(p.out.find("@(#) watchdog             $Revision: 0.42 $  $Date: 2020/06/21 06:14:02 $\n"),
            std::string::npos);
}

}  // namespace
