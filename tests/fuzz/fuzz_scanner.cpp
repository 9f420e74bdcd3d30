// Fuzz target: the marker scanner. Whatever the stream and however it is split into reads,
// the bytes fed to the encoder are the same as for the stream in one piece.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "framerelay/frame_relay.h"

namespace {

feed_outcome collect(void* context, const unsigned char* frame, size_t size, long long count) {
  auto* out = static_cast<std::string*>(context);
  for (long long i = 0; i < count; ++i) out->append(reinterpret_cast<const char*>(frame), size);
  return feed_ok;
}

std::string feed_and_collect(const uint8_t* data, size_t size, const uint8_t* splits, size_t split_count) {
  reset_relay_state();
  scan_settings settings;
  settings.repeat = 2;
  std::string out;
  frame_sink sink{collect, &out};
  size_t pos = 0;
  for (size_t i = 0; pos < size; ++i) {
    size_t n = split_count ? 1 + splits[i % split_count] * 37u % 5000u : size;
    if (n > size - pos) n = size - pos;
    scan_bytes(settings, sink, data + pos, n);
    pos += n;
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  // The first bytes choose the read sizes; the rest is the stream.
  size_t split_count = data[0] % 16;
  if (size < 1 + split_count) return 0;
  const uint8_t* splits = data + 1;
  const uint8_t* stream = data + 1 + split_count;
  size_t stream_size = size - 1 - split_count;
  std::string whole = feed_and_collect(stream, stream_size, nullptr, 0);
  std::string pieces = feed_and_collect(stream, stream_size, splits, split_count);
  if (whole != pieces) std::abort();
  return 0;
}
