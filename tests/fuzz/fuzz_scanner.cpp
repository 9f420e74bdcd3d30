// Fuzz target: the marker scanner. Whatever the stream and however it is split into reads,
// the bytes fed to the encoder are the same as for the stream in one piece.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "framerelay/frame_relay.h"
#include "framerelay/pipeline.h"
#include "framerelay/relay_settings.h"

namespace {

std::string feed_and_collect(const uint8_t* data, size_t size, const uint8_t* splits, size_t split_count) {
  reset_relay_state();
  ftruncate(pipeline.feed_fd, 0);
  lseek(pipeline.feed_fd, 0, SEEK_SET);
  size_t pos = 0;
  for (size_t i = 0; pos < size; ++i) {
    size_t n = split_count ? 1 + splits[i % split_count] * 37u % 5000u : size;
    if (n > size - pos) n = size - pos;
    scan_bytes(data + pos, n);
    pos += n;
  }
  off_t fed = lseek(pipeline.feed_fd, 0, SEEK_END);
  std::string out(static_cast<size_t>(fed), '\0');
  if (fed > 0 && pread(pipeline.feed_fd, out.data(), out.size(), 0) != fed) std::abort();
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = false;
  if (!ready) {
    pipeline.feed_fd = memfd_create("feed", MFD_CLOEXEC);
    relay_settings.repeat = 2;
    ready = true;
  }
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
