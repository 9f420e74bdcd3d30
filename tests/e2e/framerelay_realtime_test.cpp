// framerelay -R with the real wget and ffmpeg: the recording lasts as long as the camera ran,
// whatever its frame rate, frame size and scene, across a pause and up to a stop.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/e2e_test.h"

namespace {

struct realtime_case {
  const char* name;
  int width, height;
  double fps;
  int flat, busy;         // frames of a flat scene, then of a busy one (JPEGs 25 or more times larger)
  double pause;           // > 0: the camera pauses this many seconds between the two scenes
  double stop_after;      // > 0: the camera runs on and framerelay is stopped after this many seconds
  double camera_seconds;  // the length the recording must have (0: measured up to the stop)
};

void PrintTo(const realtime_case& c, std::ostream* os) { *os << c.name; }

class RealtimeRecording : public E2eDirTest, public testing::WithParamInterface<realtime_case> {
 protected:
  // A flat and a busy picture of the size, as JPEG files.
  void make_scenes(int w, int h) {
    std::string size = std::to_string(w) + "x" + std::to_string(h);
    for (auto [name, source] : {std::pair<const char*, std::string>{"flat", "color=gray:size=" + size},
                                {"busy", "testsrc=size=" + size}}) {
      std::vector<std::string> args = {"ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i", source};
      if (std::string(name) == "busy") args.insert(args.end(), {"-vf", "noise=alls=30:allf=t"});
      args.insert(args.end(), {"-frames:v", "1", "-q:v", "3", dir + "/" + name + ".jpg"});
      program_result made = run_program(args);
      ASSERT_EQ(made.status, 0) << made.err;
    }
    ASSERT_GE(read_file(dir + "/busy.jpg").size(), 25 * read_file(dir + "/flat.jpg").size());
  }
  // The sizes of the recording's video packets, in order: one per 1/25 s of its timeline.
  std::vector<long> packet_sizes(const std::string& file) {
    program_result probe = run_program({"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                                        "packet=size", "-of", "csv=p=0", file});
    EXPECT_EQ(probe.status, 0) << probe.err;
    std::vector<long> sizes;
    std::istringstream lines(probe.out);
    for (std::string line; std::getline(lines, line);)
      if (!line.empty()) sizes.push_back(std::stol(line));
    return sizes;
  }
};

TEST_P(RealtimeRecording, LastsAsLongAsTheCameraRan) {
  const realtime_case& c = GetParam();
  make_scenes(c.width, c.height);
  std::vector<std::string> camera = {TEST_CAMERA_BIN, "--port-file", dir + "/port", "--fps", std::to_string(c.fps),
                                     "--once"};
  if (c.stop_after <= 0) camera.insert(camera.end(), {"--count", std::to_string(c.flat + c.busy)});
  if (c.pause > 0) camera.insert(camera.end(), {"--pause", std::to_string(c.flat) + "," + std::to_string(c.pause)});
  // The camera's frames: the flat scene first, then the busy one.
  std::vector<std::string> frames(static_cast<std::size_t>(c.flat), dir + "/flat.jpg");
  frames.insert(frames.end(), static_cast<std::size_t>(c.busy), dir + "/busy.jpg");
  camera.insert(camera.end(), frames.begin(), frames.end());
  pid_t cam = start_program(camera, dir + "/cam.out", dir + "/cam.err");
  ASSERT_TRUE(wait_until(10, [&] { return access((dir + "/port").c_str(), F_OK) == 0; }));
  std::string url = "http://127.0.0.1:" + std::to_string(std::stoi(read_file(dir + "/port"))) + "/video";
  std::string size = "-s" + std::to_string(c.width) + "," + std::to_string(c.height);

  // The camera's time is when frames arrive, seen in the marker trace as it grows: the first
  // frame, the first of the busy scene; the stream ends when the camera has sent its last.
  pid_t relay = start_program({FRAMERELAY_BIN, "-R", "-d2", size, url}, dir + "/rec.asf", dir + "/relay.err");
  using clock = std::chrono::steady_clock;
  clock::time_point start = clock::now(), first_frame{}, scene_change{}, stream_end{};
  int status = 0;
  bool relay_ended = false;
  while (!relay_ended && clock::now() - start < std::chrono::seconds(60)) {
    int frames_in = count_lines_with(read_file(dir + "/relay.err"), "[EOI]");
    clock::time_point now = clock::now();
    if (frames_in > 0 && first_frame == clock::time_point{}) first_frame = now;
    if (frames_in > c.flat && scene_change == clock::time_point{}) scene_change = now;
    if (stream_end == clock::time_point{} && waitpid(cam, nullptr, WNOHANG) == cam) stream_end = now;
    if (c.stop_after > 0 && first_frame != clock::time_point{} && stream_end == clock::time_point{} &&
        now - first_frame >= std::chrono::duration<double>(c.stop_after)) {
      kill(relay, SIGTERM);
      stream_end = now;
    }
    relay_ended = waitpid(relay, &status, WNOHANG) == relay;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(relay_ended);
  EXPECT_EQ(WEXITSTATUS(status), 0) << read_file(dir + "/relay.err");
  if (c.stop_after > 0) {
    kill(cam, SIGTERM);
    waitpid(cam, nullptr, 0);
  }
  auto seconds = [&](clock::time_point t) { return std::chrono::duration<double>(t - first_frame).count(); };
  double expected = seconds(stream_end);
  EXPECT_NEAR(expected, c.camera_seconds > 0 ? c.camera_seconds : c.stop_after, 1.0) << "the camera's own pace";

  program_result decode = run_program({"ffmpeg", "-nostdin", "-v", "error", "-i", dir + "/rec.asf", "-f", "null", "-"});
  EXPECT_EQ(decode.err, "") << "decoding errors";
  std::vector<long> sizes = packet_sizes(dir + "/rec.asf");
  double length = static_cast<double>(sizes.size()) / 25;
  EXPECT_NEAR(length, expected, std::max(0.3, 0.02 * expected)) << c.name;
  if (c.flat > 0 && c.busy > 0 && !sizes.empty()) {
    // The busy scene appears within 0.2 s of the time the camera sent it.
    long threshold = static_cast<long>(std::sqrt(static_cast<double>(sizes.front()) * static_cast<double>(sizes.back())));
    std::size_t change = 0;
    while (change < sizes.size() && sizes[change] < threshold) ++change;
    EXPECT_NEAR(static_cast<double>(change) / 25, seconds(scene_change), 0.2) << c.name;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cameras, RealtimeRecording,
    testing::Values(realtime_case{"one_fps", 320, 240, 1, 2, 2, 0, 0, 4},
                    realtime_case{"thirty_fps_scene_change", 640, 480, 30, 45, 45, 0, 0, 3},
                    realtime_case{"hd_scene_change", 1920, 1080, 10, 15, 15, 0, 0, 3},
                    realtime_case{"pause", 320, 240, 10, 10, 10, 2, 0, 4},
                    realtime_case{"stop", 640, 480, 8, 1, 0, 0, 3, 0}),
    [](const testing::TestParamInfo<realtime_case>& row) { return std::string(row.param.name); });

}  // namespace
