// A test camera: serves a motion-JPEG stream over HTTP on 127.0.0.1, one image/jpeg part per
// frame with its Content-Length, from a set of JPEG files, at a chosen frame rate, for a
// chosen number of frames or forever, optionally behind HTTP basic authentication. Like a live
// camera it serves each connection from its first frame, whatever Range it is asked for, and
// several connections at once.
//
//   test_camera [--port N] [--port-file F] [--fps F] [--count N] [--auth user:pass] [--once]
//               [--pause N,S] [--reset-after N] [--html] frame.jpg ...
//
// --pause N,S: after the Nth frame of a connection (0: before the first) the camera sends
//              nothing for S seconds, then goes on.
// --reset-after N: after the Nth frame the camera ends the connection with a TCP reset.
// --html: the camera answers an HTML page instead of its stream.
// On stderr: one line for each request that asks for a Range, and for each connection that
// ends, the frames it was sent.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

struct camera_options {
  int port = 0;
  std::string port_file;
  double fps = 10;
  long count = 0;  // 0: forever
  std::string auth;
  bool once = false;
  long pause_after = -1;  // frames sent before the pause (0: silent from the start); -1: no pause
  double pause_seconds = 0;
  long reset_after = 0;  // frames sent before a reset; 0: no reset
  bool html = false;
  std::vector<std::string> frames;
};

std::mutex log_lock;

std::string base64(const std::string& in) {
  static const char table[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  std::size_t i = 0;
  for (; i + 2 < in.size(); i += 3) {
    unsigned v = (unsigned char)in[i] << 16 | (unsigned char)in[i + 1] << 8 | (unsigned char)in[i + 2];
    for (int s = 18; s >= 0; s -= 6) out += table[(v >> s) & 63];
  }
  if (i + 1 == in.size()) {
    unsigned v = (unsigned char)in[i] << 16;
    out += table[(v >> 18) & 63];
    out += table[(v >> 12) & 63];
    out += "==";
  } else if (i + 2 == in.size()) {
    unsigned v = (unsigned char)in[i] << 16 | (unsigned char)in[i + 1] << 8;
    out += table[(v >> 18) & 63];
    out += table[(v >> 12) & 63];
    out += table[(v >> 6) & 63];
    out += '=';
  }
  return out;
}

bool send_all(int fd, const void* data, std::size_t len) {
  const char* p = static_cast<const char*>(data);
  while (len > 0) {
    ssize_t n = send(fd, p, len, MSG_NOSIGNAL);
    if (n <= 0) return false;
    p += n;
    len -= static_cast<std::size_t>(n);
  }
  return true;
}

std::string read_request(int fd) {
  std::string request;
  char buf[1024];
  while (request.find("\r\n\r\n") == std::string::npos && request.size() < 16384) {
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    request.append(buf, static_cast<std::size_t>(n));
  }
  return request;
}

bool authorised(const std::string& request, const camera_options& opt) {
  if (opt.auth.empty()) return true;
  std::string expected = "Authorization: Basic " + base64(opt.auth);
  std::size_t at = request.find(expected);
  return at != std::string::npos && request.compare(at + expected.size(), 2, "\r\n") == 0;
}

// The Range a request asks for, or an empty text.
std::string asked_range(const std::string& request) {
  std::size_t at = request.find("\r\nRange:");
  if (at == std::string::npos) return "";
  return request.substr(at + 2, request.find("\r\n", at + 2) - at - 2);
}

// Sends the stream; returns the number of frames sent, and in `*reset` whether it ended the
// connection with a reset.
long send_stream(int client, const camera_options& opt, const std::vector<std::string>& frames, bool* reset) {
  const char* head = "HTTP/1.0 200 OK\r\nContent-Type: multipart/x-mixed-replace; boundary=frame\r\n\r\n";
  if (!send_all(client, head, std::strlen(head))) return 0;
  auto period = std::chrono::duration<double>(1.0 / opt.fps);
  auto pause = std::chrono::duration<double>(opt.pause_seconds);
  auto next = std::chrono::steady_clock::now();
  long i = 0;
  for (; opt.count == 0 || i < opt.count; ++i) {
    if (i == opt.pause_after) {
      next += std::chrono::duration_cast<std::chrono::steady_clock::duration>(pause);
      std::this_thread::sleep_until(next);
    }
    if (opt.reset_after > 0 && i == opt.reset_after) {
      linger abrupt{1, 0};  // closing now sends a reset instead of the end of the stream
      setsockopt(client, SOL_SOCKET, SO_LINGER, &abrupt, sizeof abrupt);
      *reset = true;
      return i;
    }
    const std::string& frame = frames[static_cast<std::size_t>(i) % frames.size()];
    char part[160];
    std::snprintf(part, sizeof part, "--frame\r\nContent-Type: image/jpeg\r\nContent-Length: %zu\r\n\r\n",
                  frame.size());
    if (!send_all(client, part, std::strlen(part)) || !send_all(client, frame.data(), frame.size()) ||
        !send_all(client, "\r\n", 2))
      break;
    next += std::chrono::duration_cast<std::chrono::steady_clock::duration>(period);
    std::this_thread::sleep_until(next);
  }
  return i;
}

// Serves one request; true when the connection is to end with a reset.
bool serve(int client, const camera_options& opt, const std::vector<std::string>& frames) {
  std::string request = read_request(client);
  std::string range = asked_range(request);
  if (!range.empty()) {
    std::lock_guard<std::mutex> hold(log_lock);
    std::fprintf(stderr, "test_camera: asked for %s\n", range.c_str());
  }
  if (!authorised(request, opt)) {
    const char* deny =
        "HTTP/1.0 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"camera\"\r\nContent-Length: 0\r\n\r\n";
    send_all(client, deny, std::strlen(deny));
    return false;
  }
  if (opt.html) {
    const char* page = "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n<html><body>Log in</body></html>\n";
    send_all(client, page, std::strlen(page));
    return false;
  }
  bool reset = false;
  long sent = send_stream(client, opt, frames, &reset);
  std::lock_guard<std::mutex> hold(log_lock);
  std::fprintf(stderr, "test_camera: connection ended%s after %ld frames\n", reset ? " by a reset" : "", sent);
  return reset;
}

void serve_and_close(int client, const camera_options& opt, const std::vector<std::string>& frames) {
  if (!serve(client, opt, frames)) shutdown(client, SHUT_RDWR);
  close(client);
}

[[noreturn]] void usage_exit() {
  std::fputs(
      "usage: test_camera [--port N] [--port-file F] [--fps F] [--count N] [--auth user:pass] [--once] "
      "[--pause N,S] [--reset-after N] [--html] frame.jpg ...\n",
      stderr);
  std::exit(2);
}

// The options and frame files of the command line.
camera_options parse_options(int argc, char** argv) {
  camera_options opt;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) usage_exit();
      return argv[++i];
    };
    if (a == "--port")
      opt.port = std::atoi(value().c_str());
    else if (a == "--port-file")
      opt.port_file = value();
    else if (a == "--fps")
      opt.fps = std::atof(value().c_str());
    else if (a == "--count")
      opt.count = std::atol(value().c_str());
    else if (a == "--auth")
      opt.auth = value();
    else if (a == "--once")
      opt.once = true;
    else if (a == "--pause")
      std::sscanf(value().c_str(), "%ld,%lf", &opt.pause_after, &opt.pause_seconds);
    else if (a == "--reset-after")
      opt.reset_after = std::atol(value().c_str());
    else if (a == "--html")
      opt.html = true;
    else if (a.rfind("--", 0) == 0)
      usage_exit();
    else
      opt.frames.push_back(a);
  }
  if (opt.frames.empty() || opt.fps <= 0) usage_exit();
  return opt;
}

// A listening socket on the loopback at `port` (0: any); the port it got is written to
// `port_file` when one is named, under a temporary name first so no reader sees half of it.
int listen_on_loopback(int port, const std::string& port_file, int* got) {
  int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int on = 1;
  setsockopt(server, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  if (bind(server, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(server, 8) != 0) return -1;
  socklen_t len = sizeof addr;
  getsockname(server, reinterpret_cast<sockaddr*>(&addr), &len);
  *got = ntohs(addr.sin_port);
  if (!port_file.empty()) {
    std::string tmp = port_file + ".tmp";
    if (std::FILE* f = std::fopen(tmp.c_str(), "w")) {
      std::fprintf(f, "%d\n", *got);
      std::fclose(f);
      std::rename(tmp.c_str(), port_file.c_str());
    }
  }
  return server;
}

}  // namespace

int main(int argc, char** argv) {
  const camera_options opt = parse_options(argc, argv);
  std::vector<std::string> frames;
  for (const auto& name : opt.frames) {
    std::ifstream in(name, std::ios::binary);
    if (!in) {
      std::perror(name.c_str());
      return 1;
    }
    frames.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  signal(SIGPIPE, SIG_IGN);
  int port = 0;
  int server = listen_on_loopback(opt.port, opt.port_file, &port);
  if (server < 0) {
    std::perror("test_camera: bind");
    return 1;
  }
  std::fprintf(stderr, "test_camera: serving %zu frame(s) on http://127.0.0.1:%d/\n", frames.size(), port);

  for (;;) {
    int client = accept4(server, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    if (opt.once) {
      serve_and_close(client, opt, frames);
      break;
    }
    // Each connection is served on its own, as a live camera serves its viewers.
    std::thread(serve_and_close, client, std::cref(opt), std::cref(frames)).detach();
  }
  close(server);
  return 0;
}
