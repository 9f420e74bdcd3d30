// Throughput of the marker scanner over a motion-JPEG-like byte stream, in process: frames of
// 20-60 KB with random bodies (0xFF bytes included, as in real entropy-coded data) and
// multipart headers between them, fed in 4096-byte blocks; frames are written to /dev/null.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <random>
#include <string>

#include "framerelay/frame_relay.h"

namespace {

std::string make_stream(std::size_t size) {
  std::mt19937 rng(7);
  std::string s;
  while (s.size() < size) {
    s += "--frame\r\nContent-Type: image/jpeg\r\nContent-Length: 40000\r\n\r\n";
    s += "\xFF\xD8";
    std::size_t body = 20000 + rng() % 40000;
    for (std::size_t i = 0; i < body; ++i) {
      unsigned char b = static_cast<unsigned char>(rng());
      s += static_cast<char>(b == 0xD9 ? 0xD8 : b);
    }
    s += "\xFF\xD9\r\n";
  }
  return s;
}

int null_fd = -1;

feed_outcome write_to_null(void*, const unsigned char* frame, std::size_t size, long long count) {
  for (long long i = 0; i < count; ++i)
    if (write(null_fd, frame, size) < 0) return feed_encoder_gone;
  return feed_ok;
}

void BM_ScanStream(benchmark::State& state) {
  static const std::string stream = make_stream(64 << 20);
  scan_settings settings;
  settings.repeat = 1;
  const frame_sink sink{write_to_null, nullptr};
  null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
  for (auto _ : state) {
    reset_relay_state();
    const auto* p = reinterpret_cast<const unsigned char*>(stream.data());
    for (std::size_t off = 0; off < stream.size(); off += read_block_size) {
      std::size_t n = std::min(read_block_size, stream.size() - off);
      scan_bytes(settings, sink, p + off, n);
    }
    benchmark::DoNotOptimize(scanner.frame_starts);
  }
  close(null_fd);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(stream.size()));
}
BENCHMARK(BM_ScanStream)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
