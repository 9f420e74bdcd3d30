// Fuzz target: the marker scanner. Whatever the stream and however it is split into reads,
// the bytes fed to the encoder are those of the scanner's rules applied one byte at a time,
// and every frame handed over runs from a start marker to an end marker; its picture size is
// read from it, within its bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/monotonic_clock.h"
#include "framerelay/frame_scanner.h"
#include "framerelay/pacing.h"
#include "framerelay/picture_size.h"
#include "tests/framerelay/scanner_reference.h"

namespace {

feed_outcome collect(void* context, const unsigned char* frame, size_t size, long long count) {
  if (size < 4 || frame[0] != 0xFF || frame[1] != 0xD8 || frame[size - 2] != 0xFF || frame[size - 1] != 0xD9)
    std::abort();
  picture_size picture;
  read_picture_size(frame, size, &picture);
  auto* out = static_cast<std::string*>(context);
  for (long long i = 0; i < count; ++i) out->append(reinterpret_cast<const char*>(frame), size);
  return feed_ok;
}

std::string feed_and_collect(const uint8_t* data, size_t size, const uint8_t* splits, size_t split_count) {
  scanner_state scanner;
  pacing_state pacing;
  std::string out;
  begin_pacing(&pacing, pacing_settings{2, false}, frame_feeder{collect, &out}, system_monotonic_ms, "/tmp");
  const frame_sink sink = pacing_sink(&pacing);
  size_t pos = 0;
  for (size_t i = 0; pos < size; ++i) {
    size_t n = split_count ? 1 + splits[i % split_count] * 37u % 5000u : size;
    if (n > size - pos) n = size - pos;
    scan_bytes(&scanner, false, sink, data + pos, n);
    pos += n;
  }
  end_scanner(&scanner);
  end_pacing(&pacing);
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
  if (whole != reference_output(std::string(reinterpret_cast<const char*>(stream), stream_size), 2)) std::abort();
  return 0;
}
