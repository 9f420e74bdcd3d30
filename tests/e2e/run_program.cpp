// Running the built programs for end-to-end tests.
#include "tests/e2e/run_program.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

extern char** environ;

namespace {

std::vector<std::string> merged_environment(const program_options& options) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    bool replaced = false;
    for (const auto& [name, value] : options.env)
      if (entry.rfind(name + "=", 0) == 0) replaced = true;
    for (const auto& name : options.unset)
      if (entry.rfind(name + "=", 0) == 0) replaced = true;
    if (!replaced) env.push_back(entry);
  }
  for (const auto& [name, value] : options.env) env.push_back(name + "=" + value);
  return env;
}

std::vector<char*> pointers(std::vector<std::string>& words) {
  std::vector<char*> p;
  for (auto& w : words) p.push_back(w.data());
  p.push_back(nullptr);
  return p;
}

pid_t spawn_with(const std::vector<std::string>& argv_in, const program_options& options, int in_fd, int out_fd,
                 int err_fd) {
  std::vector<std::string> argv = argv_in;
  std::vector<std::string> env = merged_environment(options);
  auto argp = pointers(argv);
  auto envp = pointers(env);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, in_fd, 0);
  posix_spawn_file_actions_adddup2(&fa, out_fd, 1);
  posix_spawn_file_actions_adddup2(&fa, err_fd, 2);
  // The program starts with exactly 0, 1 and 2, whatever the test runner holds open.
  posix_spawn_file_actions_addclosefrom_np(&fa, 3);
  if (!options.cwd.empty()) posix_spawn_file_actions_addchdir_np(&fa, options.cwd.c_str());
  pid_t pid = -1;
  if (posix_spawnp(&pid, argp[0], &fa, nullptr, argp.data(), envp.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&fa);
  return pid;
}

int decode(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

}  // namespace

program_result run_program(const std::vector<std::string>& argv, const program_options& options) {
  program_result result;
  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC)) return result;
  auto start = std::chrono::steady_clock::now();
  pid_t pid = spawn_with(argv, options, in[0], out[1], err[1]);
  close(in[0]);
  close(out[1]);
  close(err[1]);
  signal(SIGPIPE, SIG_IGN);
  if (!options.input.empty()) {
    ssize_t w = write(in[1], options.input.data(), options.input.size());
    (void)w;
  }
  close(in[1]);
  if (pid < 0) {
    close(out[0]);
    close(err[0]);
    return result;
  }
  struct pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open_count = 2;
  auto deadline = start + std::chrono::duration<double>(options.timeout_seconds);
  while (open_count > 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      result.timed_out = true;
      kill(pid, SIGKILL);
      break;
    }
    if (poll(fds, 2, static_cast<int>(std::min<long>(left.count(), 200))) < 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
      char buf[65536];
      ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        sinks[i]->append(buf, static_cast<std::size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
      }
    }
  }
  for (auto& f : fds)
    if (f.fd >= 0) close(f.fd);
  int status = 0;
  waitpid(pid, &status, 0);
  result.status = decode(status);
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return result;
}

pid_t start_program(const std::vector<std::string>& argv, const std::string& out_file, const std::string& err_file,
                    const program_options& options) {
  int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
  int out = open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  int err = open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  pid_t pid = spawn_with(argv, options, in, out, err);
  close(in);
  close(out);
  close(err);
  return pid;
}

std::string make_temp_dir() {
  char templ[] = "/tmp/e2e-XXXXXX";
  const char* dir = mkdtemp(templ);
  return dir ? dir : "/tmp";
}

void remove_tree(const std::string& dir) {
  if (dir.rfind("/tmp/e2e-", 0) != 0) return;
  std::string cmd = "rm -rf '" + dir + "'";
  int rc = std::system(cmd.c_str());
  (void)rc;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void write_file(const std::string& path, const std::string& text, bool executable) {
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
  }
  if (executable) chmod(path.c_str(), 0755);
}

int count_lines_with(const std::string& text, const std::string& needle) {
  std::istringstream in(text);
  std::string line;
  int n = 0;
  while (std::getline(in, line))
    if (line.find(needle) != std::string::npos) ++n;
  return n;
}

long long io_bytes(pid_t pid, const std::string& counter) {
  std::ifstream io("/proc/" + std::to_string(pid) + "/io");
  std::string key;
  long long value = 0;
  while (io >> key >> value)
    if (key == counter + ":") return value;
  return -1;
}

bool asleep(pid_t pid) {
  // The state follows the command name in parentheses, which may itself hold ") ".
  std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
  std::size_t end = stat.rfind(") ");
  return end != std::string::npos && end + 2 < stat.size() && stat[end + 2] == 'S';
}

// Full but for part of a page: a write that does not fit the rest of the last page starts a
// new one, so a full pipe may hold a little less than its size.
bool pipe_full(int read_fd) {
  int held = 0;
  int size = fcntl(read_fd, F_GETPIPE_SZ);
  return size > 0 && ioctl(read_fd, FIONREAD, &held) == 0 && held > size - PIPE_BUF;
}
