// Throughput of the marker scanner over a motion-JPEG stream, in process: frames of 20-60 KB
// built like a camera's JPEGs (table segments, then entropy-coded data whose 0xFF bytes are
// stuffed, with a restart marker every few KB), multipart headers between them, fed in blocks
// of 4096 bytes and of the relay's read size; frames are written to /dev/null. The second stream's frames each carry an
// EXIF segment holding a thumbnail, a whole small JPEG with its own markers.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <random>
#include <string>

#include "common/monotonic_clock.h"
#include "framerelay/frame_scanner.h"
#include "framerelay/pacing.h"
#include "framerelay/relay_loop.h"

namespace {

std::string segment(unsigned char marker, const std::string& body) {
  std::size_t length = body.size() + 2;
  return std::string{'\xFF', static_cast<char>(marker), static_cast<char>(length >> 8), static_cast<char>(length)} +
         body;
}

std::string table_bytes(std::mt19937& rng, std::size_t n) {
  std::string s;
  for (std::size_t i = 0; i < n; ++i) s += static_cast<char>(rng() % 128);
  return s;
}

std::string jpeg(std::mt19937& rng, std::size_t entropy_size, const std::string& thumbnail) {
  std::string s = "\xFF\xD8";
  s += thumbnail.empty() ? segment(0xE0, "JFIF" + table_bytes(rng, 10))
                         : segment(0xE1, std::string("Exif\0\0", 6) + thumbnail);
  s +=
      segment(0xDB, table_bytes(rng, 130)) + segment(0xC0, table_bytes(rng, 15)) + segment(0xC4, table_bytes(rng, 416));
  s += segment(0xDA, table_bytes(rng, 10));
  for (std::size_t i = 0; i < entropy_size; ++i) {
    auto b = static_cast<char>(rng());
    s += b;
    if (b == '\xFF') s += '\0';
    if (i % 4096 == 4095) s += {'\xFF', static_cast<char>(0xD0 + i / 4096 % 8)};
  }
  return s + "\xFF\xD9";
}

std::string make_stream(std::size_t size, bool thumbnails) {
  std::mt19937 rng(7);
  std::string s;
  while (s.size() < size) {
    std::string thumbnail = thumbnails ? jpeg(rng, 2000 + rng() % 4000, "") : "";
    std::string frame = jpeg(rng, 20000 + rng() % 40000, thumbnail);
    s += "--frame\r\nContent-Type: image/jpeg\r\nContent-Length: " + std::to_string(frame.size()) + "\r\n\r\n";
    s += frame + "\r\n";
  }
  return s;
}

int null_fd = -1;

feed_outcome write_to_null(void*, const unsigned char* frame, std::size_t size, long long count) {
  for (long long i = 0; i < count; ++i)
    if (write(null_fd, frame, size) < 0) return feed_encoder_gone;
  return feed_ok;
}

void scan_stream(benchmark::State& state, const std::string& stream) {
  const auto block = static_cast<std::size_t>(state.range(0));
  null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
  for (auto _ : state) {
    scanner_state scanner;
    pacing_state pacing;
    begin_pacing(&pacing, pacing_settings{1, false}, frame_feeder{write_to_null, nullptr}, system_monotonic_ms, "/tmp");
    const frame_sink sink = pacing_sink(&pacing);
    const auto* p = reinterpret_cast<const unsigned char*>(stream.data());
    for (std::size_t off = 0; off < stream.size(); off += block)
      scan_bytes(&scanner, false, sink, p + off, std::min(block, stream.size() - off));
    benchmark::DoNotOptimize(scanner.frame_starts);
    end_scanner(&scanner);
    end_pacing(&pacing);
  }
  close(null_fd);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(stream.size()));
}

void BM_ScanStream(benchmark::State& state) {
  static const std::string stream = make_stream(64 << 20, false);
  scan_stream(state, stream);
}
BENCHMARK(BM_ScanStream)->Arg(4096)->Arg(read_block_size)->Unit(benchmark::kMillisecond);

void BM_ScanStreamWithThumbnails(benchmark::State& state) {
  static const std::string stream = make_stream(64 << 20, true);
  scan_stream(state, stream);
}
BENCHMARK(BM_ScanStreamWithThumbnails)->Arg(4096)->Arg(read_block_size)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
