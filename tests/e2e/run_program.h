// Runs a program with arguments and environment additions, captures its stdout and stderr,
// and waits for it with a bound.
#pragma once
#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

struct program_result {
  int status = -1;  // exit status, or 128+N after signal N
  std::string out;
  std::string err;
  double seconds = 0;
  bool timed_out = false;
};

struct program_options {
  std::vector<std::pair<std::string, std::string>> env;  // added or replaced variables
  std::vector<std::string> unset;                        // variables removed
  double timeout_seconds = 60;
  std::string input;  // written to stdin, then closed
  std::string cwd;
};

program_result run_program(const std::vector<std::string>& argv, const program_options& options = {});

// Starts a program in the background with stdout/stderr to files; returns its pid.
pid_t start_program(const std::vector<std::string>& argv, const std::string& out_file, const std::string& err_file,
                    const program_options& options = {});

// A fresh temporary directory, removed by remove_tree.
std::string make_temp_dir();
void remove_tree(const std::string& dir);
std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& text, bool executable = false);

// Lines of `text` that contain `needle`.
int count_lines_with(const std::string& text, const std::string& needle);

// What a test can wait for instead of sleeping: bytes a process has read ("rchar") or
// written ("wchar") so far over all its descriptors (-1 when unreadable), whether it is asleep
// in a wait, and whether the pipe or fifo whose read end is `read_fd` is full.
long long io_bytes(pid_t pid, const std::string& counter);
bool asleep(pid_t pid);
bool pipe_full(int read_fd);

// Waits up to `seconds` for `predicate` to hold, checking every 20 ms.
template <typename F>
bool wait_until(double seconds, F predicate);

#include <chrono>
#include <thread>
template <typename F>
bool wait_until(double seconds, F predicate) {
  auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < end) {
    if (predicate()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return predicate();
}
