// Base of the end-to-end tests: the test process is a child subreaper, so every process the
// programs under test leave behind becomes our child; after each test none may remain.
#pragma once
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "tests/e2e/run_program.h"

class E2eTest : public ::testing::Test {
 protected:
  void SetUp() override { prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0); }
  void TearDown() override {
    // Killed processes vanish a moment after their kill; collect them as they go.
    bool clear = wait_until(3, [] {
      while (waitpid(-1, nullptr, WNOHANG) > 0) {
      }
      return children_left().empty();
    });
    if (!clear) {
      ADD_FAILURE() << "processes left behind by this test:\n" << children_left();
      run_program({"pkill", "-KILL", "-P", std::to_string(getpid())});
      while (waitpid(-1, nullptr, WNOHANG) > 0) {
      }
    }
  }
  // Our living children, one "pid command" line each.
  static std::string children_left() {
    std::string out = run_program({"ps", "--ppid", std::to_string(getpid()), "-o", "pid=,stat=,args="}).out;
    std::string left;
    std::size_t pos = 0;
    while (pos < out.size()) {
      std::size_t end = out.find('\n', pos);
      std::string line = out.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
      pos = end == std::string::npos ? out.size() : end + 1;
      // The ps just run is gone by now; zombies are collected above.
      if (line.find(" ps --ppid") == std::string::npos && line.find(" Z") == std::string::npos && !line.empty())
        left += line + "\n";
    }
    return left;
  }
};

// An end-to-end test with a folder of its own, removed once it is over.
class E2eDirTest : public E2eTest {
 protected:
  void SetUp() override {
    E2eTest::SetUp();
    dir = make_temp_dir();
  }
  void TearDown() override {
    E2eTest::TearDown();
    remove_tree(dir);
  }
  std::string dir;
};

// An end-to-end test whose processes carry a token of its own in their command lines: it gets
// a folder, a `sleeper` (sleep under the token's name) for the children it starts, and fails
// when any process with the token is left once it is over.
class E2eTokenTest : public E2eDirTest {
 protected:
  void SetUp() override {
    E2eDirTest::SetUp();
    token = "tok" + std::to_string(getpid()) + "x" + std::to_string(++counter);
    sleeper = dir + "/" + token;
    ASSERT_EQ(symlink("/bin/sleep", sleeper.c_str()), 0);
  }
  void TearDown() override {
    // Killed processes vanish a moment after their kill, and what outlived its supervisor
    // becomes ours to collect.
    auto clear = [&] {
      while (waitpid(-1, nullptr, WNOHANG) > 0) {
      }
      return leftovers().empty();
    };
    wait_until(3, clear);
    EXPECT_EQ(leftovers(), "") << "processes of this test are still running";
    run_program({"pkill", "-KILL", "-f", token});
    E2eDirTest::TearDown();
  }
  // Processes whose command line holds this test's token.
  std::string leftovers() { return run_program({"pgrep", "-af", token}).out; }
  std::string token, sleeper;
  static inline int counter = 0;
};
