// Program location: splitting, PATH search, the absolute step and the double-byte rule.
#include "common/program_location.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {

// A scratch tree: root/sub/dir, root/opt/tools/prog (a file), root/bin1/prog (a directory).
class ProgramLocation : public ::testing::Test {
 protected:
  void SetUp() override {
    char templ[] = "/tmp/locate-XXXXXX";
    root = mkdtemp(templ);
    char cwd[4096];
    saved_cwd = getcwd(cwd, sizeof cwd);
    for (const char* d : {"/sub", "/sub/dir", "/opt", "/opt/tools", "/bin1", "/bin1/prog", "/bin2"})
      mkdir((root + d).c_str(), 0755);
    touch(root + "/opt/tools/prog");
    touch(root + "/bin2/prog");
    const char* path = std::getenv("PATH");
    saved_path = path ? path : "";
    ASSERT_EQ(chdir(root.c_str()), 0);
  }
  void TearDown() override {
    ASSERT_EQ(chdir(saved_cwd.c_str()), 0);
    setenv("PATH", saved_path.c_str(), 1);
    std::string cmd = "rm -rf " + root;
    ASSERT_EQ(std::system(cmd.c_str()), 0);
  }
  static void touch(const std::string& p) {
    FILE* f = fopen(p.c_str(), "w");
    if (f) fclose(f);
  }
  std::pair<std::string, std::string> locate(const char* path, bool use_path = true, bool absolute = true,
                                             separator_rule rule = separator_rule::plain) {
    char name[path_area_size], dir[path_area_size];
    locate_program(path, name, sizeof name, dir, sizeof dir, use_path, absolute, rule);
    return {name, dir};
  }
  std::string real(const std::string& p) {
    char buf[4096];
    return realpath(p.c_str(), buf) ? buf : "";
  }
  std::string root, saved_cwd, saved_path;
};

TEST_F(ProgramLocation, SplitsAndMakesAbsolute) {
  std::string r = real(root);
  struct {
    std::string path, name, dir;
  } rows[] = {
      {"sub/dir/prog", "prog", r + "/sub/dir"},
      {"sub\\dir\\prog", "prog", r + "/sub\\dir"},  // both separate; no such directory here
      {"/prog", "prog", r},                         // empty directory part: the current one
      {root + "/opt/tools/prog", "prog", r + "/opt/tools"},
      {"nowhere/prog", "prog", r + "/nowhere"},  // cannot be entered: the joined candidate
      {"", "", r},
  };
  for (const auto& row : rows) {
    auto [name, dir] = locate(row.path.c_str());
    EXPECT_EQ(name, row.name) << row.path;
    EXPECT_EQ(dir, row.dir) << row.path;
  }
  EXPECT_EQ(std::string(saved_cwd.size() ? real(".") : ""), r) << "the current directory is restored";
}

TEST_F(ProgramLocation, SearchesPathEntriesInOrder) {
  std::string r = real(root);
  struct {
    std::string path_value, dir;
  } rows[] = {
      {"a:" + root + "/opt/tools", r + "/opt/tools"},
      {root + "/bin1:" + root + "/bin2", r + "/bin2"},               // a directory of that name is passed over
      {std::string(5000, 'x') + ":" + root + "/bin2", r + "/bin2"},  // an overlong entry is skipped
      {std::string(300, 'y') + ":" + root + "/bin2", r + "/bin2"},
      {root + "/sub", r},  // found nowhere: the current directory
      {"", r},
  };
  for (const auto& row : rows) {
    setenv("PATH", row.path_value.c_str(), 1);
    auto [name, dir] = locate("prog");
    EXPECT_EQ(name, "prog");
    EXPECT_EQ(dir, row.dir) << row.path_value.substr(0, 60);
  }
  unsetenv("PATH");
  EXPECT_EQ(locate("prog").second, r);
}

TEST_F(ProgramLocation, FlagsOff) {
  setenv("PATH", (root + "/opt/tools").c_str(), 1);
  EXPECT_EQ(locate("prog", false, false).second, ".");
  EXPECT_EQ(locate("prog", true, false).second, root + "/opt/tools");
  setenv("PATH", "/nonexistent", 1);
  EXPECT_EQ(locate("prog", true, false).second, "");
  EXPECT_EQ(locate("a/b/prog", false, false).second, "a/b");
}

TEST_F(ProgramLocation, DoubleByteTrailIsNoSeparator) {
  // dir \ 0x95 0x5C .exe: 0x5C is the trail byte of 0x95 under the double-byte rule.
  const char path[] = "dir\\\x95\\.exe";
  auto dbcs = locate(path, false, false, separator_rule::double_byte);
  EXPECT_EQ(dbcs.first, "\x95\\.exe");
  EXPECT_EQ(dbcs.second, "dir");
  auto plain = locate(path, false, false, separator_rule::plain);
  EXPECT_EQ(plain.first, ".exe");
  EXPECT_EQ(plain.second, "dir\\\x95");
  // A byte in 0xA0..0xDF is a character by itself: the 0x5C after it separates.
  auto kana = locate("d\xB1\\x", false, false, separator_rule::double_byte);
  EXPECT_EQ(kana.first, "x");
  // A '/' after a lead byte is its trail byte.
  EXPECT_FALSE(is_separator_at("\x81/", 1));
  EXPECT_TRUE(is_separator_at("\xA1/", 1));
  EXPECT_TRUE(is_separator_at("\x81\x81/", 2));
}

TEST_F(ProgramLocation, ResultsAreCutToTheirAreas) {
  std::string long_path = std::string(3000, 'd') + "/" + std::string(200, 'n');
  char name[64], dir[128];
  locate_program(long_path.c_str(), name, sizeof name, dir, sizeof dir, true, true, separator_rule::plain);
  EXPECT_EQ(std::string(name), std::string(63, 'n'));
  EXPECT_EQ(std::string(dir).size(), 127u);
}

}  // namespace
