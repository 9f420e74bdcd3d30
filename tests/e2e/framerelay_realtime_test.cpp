// framerelay -R with the real wget and ffmpeg: the recording lasts as long as the camera ran,
// whatever its frame rate, frame size and scene, across a pause and up to a stop; it holds the
// camera's own pictures; a camera that resets, stalls or sends no frame is dealt with.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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
  double stop_after;      // > 0: the camera runs on and framerelay is stopped after this many seconds,
                          // otherwise once the camera has sent its frames
  double camera_seconds;  // the camera's time from its first frame to the stop
};

void PrintTo(const realtime_case& c, std::ostream* os) { *os << c.name; }

class RealtimeTest : public E2eDirTest {
 protected:
  // A flat and a busy picture of the size, as JPEG files.
  void make_scenes(int w, int h) {
    std::string size = std::to_string(w) + "x" + std::to_string(h);
    for (auto [name, source] :
         {std::pair<const char*, std::string>{"flat", "color=gray:size=" + size}, {"busy", "testsrc=size=" + size}}) {
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
    program_result probe = run_program(
        {"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries", "packet=size", "-of", "csv=p=0", file});
    EXPECT_EQ(probe.status, 0) << probe.err;
    std::vector<long> sizes;
    std::istringstream lines(probe.out);
    for (std::string line; std::getline(lines, line);)
      if (!line.empty()) sizes.push_back(std::stol(line));
    return sizes;
  }
  // The checksum of each picture of a recording (or of a JPEG), decoded, in order.
  std::vector<std::string> picture_sums(const std::string& file) {
    program_result sums = run_program({"ffmpeg", "-nostdin", "-v", "error", "-i", file, "-f", "framemd5", "-"});
    EXPECT_EQ(sums.status, 0) << sums.err;
    std::vector<std::string> found;
    std::istringstream lines(sums.out);
    for (std::string line; std::getline(lines, line);)
      if (!line.empty() && line[0] != '#') found.push_back(line.substr(line.rfind(' ') + 1));
    return found;
  }
};

class RealtimeRecording : public RealtimeTest, public testing::WithParamInterface<realtime_case> {};

TEST_P(RealtimeRecording, LastsAsLongAsTheCameraRan) {
  const realtime_case& c = GetParam();
  make_scenes(c.width, c.height);
  std::vector<std::string> camera = {TEST_CAMERA_BIN, "--port-file",         dir + "/port",
                                     "--fps",         std::to_string(c.fps), "--once"};
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
  // frame, the first of the busy scene. framerelay would connect again when the stream ends:
  // it is stopped when the camera has sent its last frame.
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
    bool camera_done = c.stop_after > 0 ? first_frame != clock::time_point{} &&
                                              now - first_frame >= std::chrono::duration<double>(c.stop_after)
                                        : waitpid(cam, nullptr, WNOHANG) == cam;
    if (stream_end == clock::time_point{} && camera_done) {
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
  EXPECT_NEAR(expected, c.camera_seconds, 1.0) << "the camera's own pace";

  program_result decode = run_program({"ffmpeg", "-nostdin", "-v", "error", "-i", dir + "/rec.asf", "-f", "null", "-"});
  EXPECT_EQ(decode.err, "") << "decoding errors";
  std::vector<long> sizes = packet_sizes(dir + "/rec.asf");
  double length = static_cast<double>(sizes.size()) / 25;
  EXPECT_NEAR(length, expected, std::max(0.3, 0.02 * expected)) << c.name;
  if (c.flat > 0 && c.busy > 0 && !sizes.empty()) {
    // The busy scene appears within 0.2 s of the time the camera sent it.
    long threshold =
        static_cast<long>(std::sqrt(static_cast<double>(sizes.front()) * static_cast<double>(sizes.back())));
    std::size_t change = 0;
    while (change < sizes.size() && sizes[change] < threshold) ++change;
    EXPECT_NEAR(static_cast<double>(change) / 25, seconds(scene_change), 0.2) << c.name;
  }
}

INSTANTIATE_TEST_SUITE_P(Cameras, RealtimeRecording,
                         testing::Values(realtime_case{"one_fps", 320, 240, 1, 2, 2, 0, 0, 4},
                                         realtime_case{"thirty_fps_scene_change", 640, 480, 30, 45, 45, 0, 0, 3},
                                         realtime_case{"hd_scene_change", 1920, 1080, 10, 15, 15, 0, 0, 3},
                                         realtime_case{"pause", 320, 240, 10, 10, 10, 2, 0, 4},
                                         realtime_case{"stop", 640, 480, 8, 1, 0, 0, 3, 3}),
                         [](const testing::TestParamInfo<realtime_case>& row) { return std::string(row.param.name); });

}  // namespace

namespace {

// The longest time, in seconds of the recording, that its picture stands still.
double longest_freeze(const std::vector<std::string>& sums) {
  std::size_t longest = 0;
  for (std::size_t i = 0, run = 0; i < sums.size(); ++i)
    longest = std::max(longest, run = i > 0 && sums[i] == sums[i - 1] ? run + 1 : 1);
  return static_cast<double>(longest) / 25;
}

struct fault_case {
  const char* name;
  std::vector<std::string> camera;  // the test camera's own words
  bool high_quality;                // one 320x240 4:4:4 JPEG of quality 1, else 20 pictures in turn
  std::vector<std::string> relay;   // framerelay's words besides -d2 and the URL
  double run_seconds;               // it is stopped this long after its first frame; 0: it ends itself
  int status;
  double longest_freeze;  // seconds the picture may stand still (one JPEG: always)
  const char* message;    // a line framerelay writes
};

class CameraFaults : public RealtimeTest, public testing::WithParamInterface<fault_case> {};

void PrintTo(const fault_case& c, std::ostream* os) { *os << c.name; }

// A camera that resets its connections, or goes silent, is connected again and the recording
// goes on as one, in real time, its picture moving again within moments; one that sends no
// frame is a failure; whatever the camera sends is recorded as it is, at its own size.
TEST_P(CameraFaults, RecordingSurvivesOrFailsClearly) {
  const fault_case& c = GetParam();
  std::vector<std::string> source = {
      "ffmpeg", "-nostdin", "-v", "error",           "-f", "lavfi", "-i", "testsrc=size=320x240:rate=10", "-frames:v",
      "20",     "-q:v",     "3",  dir + "/f%02d.jpg"};
  if (c.high_quality)
    source = {"ffmpeg",
              "-nostdin",
              "-v",
              "error",
              "-f",
              "lavfi",
              "-i",
              "testsrc=size=320x240",
              "-vf",
              "noise=alls=60:allf=t,format=yuvj444p",
              "-frames:v",
              "1",
              "-q:v",
              "1",
              dir + "/f01.jpg"};
  ASSERT_EQ(run_program(source).status, 0);
  ASSERT_TRUE(!c.high_quality || read_file(dir + "/f01.jpg").size() > 320u * 240 * 3 / 2)
      << "bigger than a raw picture";
  std::vector<std::string> camera = {TEST_CAMERA_BIN, "--port-file", dir + "/port", "--fps", "10"};
  camera.insert(camera.end(), c.camera.begin(), c.camera.end());
  for (int i = 1; i <= (c.high_quality ? 1 : 20); ++i)
    camera.push_back(dir + (i < 10 ? "/f0" : "/f") + std::to_string(i) + ".jpg");
  pid_t cam = start_program(camera, dir + "/cam.out", dir + "/cam.err");
  ASSERT_TRUE(wait_until(10, [&] { return access((dir + "/port").c_str(), F_OK) == 0; }));
  std::vector<std::string> relay_words = {FRAMERELAY_BIN, "-d2"};
  relay_words.insert(relay_words.end(), c.relay.begin(), c.relay.end());
  relay_words.push_back("http://127.0.0.1:" + std::to_string(std::stoi(read_file(dir + "/port"))) + "/video");
  pid_t relay = start_program(relay_words, dir + "/rec.asf", dir + "/relay.err");
  using clock = std::chrono::steady_clock;
  clock::time_point first_frame{}, stop{};
  int status = -1;
  ASSERT_TRUE(wait_until(40, [&] {
    if (first_frame == clock::time_point{} && read_file(dir + "/relay.err").find("[EOI]") != std::string::npos)
      first_frame = clock::now();
    if (c.run_seconds > 0 && stop == clock::time_point{} && first_frame != clock::time_point{} &&
        clock::now() - first_frame >= std::chrono::duration<double>(c.run_seconds))
      kill(relay, SIGTERM), stop = clock::now();
    return waitpid(relay, &status, WNOHANG) == relay;
  })) << c.name;
  kill(cam, SIGTERM), waitpid(cam, nullptr, 0);
  const std::string err = read_file(dir + "/relay.err");
  EXPECT_EQ(WEXITSTATUS(status), c.status) << err;
  EXPECT_NE(err.find(std::string(c.message) + "\n"), std::string::npos) << err;
  EXPECT_EQ(read_file(dir + "/cam.err").find("asked for"), std::string::npos) << "wget asked for a range";
  if (c.status != 0) return;
  std::vector<std::string> sums = picture_sums(dir + "/rec.asf");
  double wall = std::chrono::duration<double>(stop - first_frame).count();
  EXPECT_NEAR(static_cast<double>(sums.size()) / 25, wall, std::max(0.3, 0.02 * wall)) << c.name;
  EXPECT_LE(longest_freeze(sums), c.longest_freeze) << c.name;
  if (!c.high_quality) return;
  EXPECT_EQ(std::count(sums.begin(), sums.end(), picture_sums(dir + "/f01.jpg").at(0)), static_cast<long>(sums.size()))
      << "the camera's own picture";
  program_result size = run_program(
      {"ffprobe", "-v", "error", "-show_entries", "stream=width,height", "-of", "csv=p=0", dir + "/rec.asf"});
  EXPECT_EQ(size.out, "320,240\n");
}

INSTANTIATE_TEST_SUITE_P(
    Cameras, CameraFaults,
    testing::Values(
        fault_case{"reset",
                   {"--reset-after", "15"},
                   false,
                   {"-R"},
                   7,
                   0,
                   3,
                   "camera stream lost (wget ended with exit status 4 (network failure)); connecting again in 1 s"},
        fault_case{"stall",
                   {"--pause", "15,60"},
                   false,
                   {"-R", "-m1"},
                   7,
                   0,
                   1 + 3,
                   "camera stream lost (no byte for 1 s); connecting again in 1 s"},
        fault_case{"html", {"--html"}, false, {"-R"}, 0, 2, 0, "ERROR: no JPEG frame came from the camera"},
        fault_case{"html_repeat", {"--html"}, false, {"-r2"}, 0, 2, 0, "ERROR: no JPEG frame came from the camera"},
        fault_case{
            "silent", {"--pause", "0,60"}, false, {"-R", "-m1"}, 0, 2, 0, "ERROR: the camera sent no byte for 1 s"},
        fault_case{"high_quality_at_its_own_size", {}, true, {"-R"}, 3, 0, 60, "[EOI]"},
        fault_case{"first_frame_after_an_adaptive_r", {"--count", "1"}, false, {"-r-5", "-R"}, 2, 0, 60, "[EOI]"}),
    [](const testing::TestParamInfo<fault_case>& row) { return std::string(row.param.name); });

}  // namespace
