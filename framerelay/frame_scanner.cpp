// The marker scanner. Between frames it looks for a start marker. Inside a frame it follows
// the image's structure: after each marker that carries a length it takes the segment whole by
// that length; everywhere else (between segments, and in the entropy-coded data after a scan
// header, where 0xFF 0x00 is a stuffed byte and 0xFF 0xD0-0xD7 a restart marker) it looks
// for the next marker. Long runs are passed over with memchr and by length, not byte by byte.
#include "framerelay/frame_scanner.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "framerelay/jpeg_markers.h"

namespace {

void drop_overlong_frame(scanner_state* scanner) {
  std::fprintf(stderr, "Warning: frame over %zu bytes without EOI dropped\n", frame_size_limit);
  forget_open_frame(scanner);
}

// Keeps `count` more bytes of the open frame in the frame buffer, which grows as needed. The
// scanner never lets a frame pass the limit; when memory runs out, the frame is dropped whole
// with one line, and false returned.
bool hold_frame_bytes(scanner_state* scanner, const unsigned char* bytes, std::size_t count) {
  std::size_t need = scanner->frame_fill + count;
  if (need > scanner->frame_room) {
    std::size_t room = std::max(scanner->frame_room, frame_start_room);
    while (room < need) room *= 2;
    room = std::min(room, frame_size_limit);
    auto* grown = static_cast<unsigned char*>(std::realloc(scanner->frame, room));
    if (grown == nullptr) {
      std::fprintf(stderr, "Warning: no memory for a frame of %zu bytes, dropped\n", need);
      forget_open_frame(scanner);
      return false;
    }
    scanner->frame = grown;
    scanner->frame_room = room;
  }
  std::memcpy(scanner->frame + scanner->frame_fill, bytes, count);
  scanner->frame_fill = need;
  return true;
}

// The position after the next start marker from `pos` on (the scanner is then in a frame),
// or `count`. A run of 0xFF before a marker byte is fill; any other marker is dropped.
std::size_t find_frame_start(scanner_state* scanner, bool trace_markers, const unsigned char* bytes, std::size_t count,
                             std::size_t pos) {
  while (pos < count) {
    if (!scanner->after_ff) {
      const void* ff = std::memchr(bytes + pos, marker_lead, count - pos);
      if (ff == nullptr) return count;
      pos = static_cast<std::size_t>(static_cast<const unsigned char*>(ff) - bytes) + 1;
      scanner->after_ff = true;
      continue;
    }
    unsigned char code = bytes[pos++];
    if (code == marker_lead) continue;
    scanner->after_ff = false;
    if (code != start_of_image) continue;
    if (trace_markers) std::fprintf(stderr, "[#%2d SOI]\n", scanner->frame_starts);
    ++scanner->frame_starts;
    scanner->in_frame = true;
    return pos;
  }
  return count;
}

// One byte of a segment's length; once both are in, the segment to take whole. A length that
// runs past the limit drops the frame now: what it would cover is looked at for the next start
// marker.
void take_length_byte(scanner_state* scanner, const unsigned char* bytes, std::size_t begin, std::size_t* pos) {
  scanner->segment_length = scanner->segment_length << 8 | bytes[(*pos)++];
  if (--scanner->length_bytes > 0) return;
  scanner->segment_left = scanner->segment_length >= 2 ? scanner->segment_length - 2 : 0;
  if (scanner->frame_fill + (*pos - begin) + scanner->segment_left > frame_size_limit) drop_overlong_frame(scanner);
}

// One step inside an open frame from *pos, with the bytes up to `end` to take: a length byte,
// a run of a segment, a run up to the next 0xFF, or a marker byte. True when that was the end
// marker.
bool step_in_frame(scanner_state* scanner, const unsigned char* bytes, std::size_t begin, std::size_t end,
                   std::size_t* pos) {
  if (scanner->length_bytes > 0) {
    take_length_byte(scanner, bytes, begin, pos);
    return false;
  }
  if (scanner->segment_left > 0) {
    std::size_t taken = std::min(scanner->segment_left, end - *pos);
    *pos += taken;
    scanner->segment_left -= taken;
    return false;
  }
  if (!scanner->after_ff) {
    const void* ff = std::memchr(bytes + *pos, marker_lead, end - *pos);
    *pos = ff == nullptr ? end : static_cast<std::size_t>(static_cast<const unsigned char*>(ff) - bytes) + 1;
    scanner->after_ff = ff != nullptr;
    return false;
  }
  unsigned char code = bytes[(*pos)++];
  if (code == marker_lead) return false;  // fill before a marker
  scanner->after_ff = false;
  if (carries_length(code)) {
    scanner->length_bytes = 2;
    scanner->segment_length = 0;
    return false;
  }
  return code == end_of_image;
}

// The end marker before `pos` completes the frame: a frame that lies whole in this block goes
// out from here, one that began in an earlier read is completed in the frame buffer.
feed_outcome complete_frame(scanner_state* scanner, bool trace_markers, const frame_sink& sink,
                            const unsigned char* bytes, std::size_t begin, std::size_t pos) {
  if (trace_markers) std::fputs("[EOI]\n", stderr);
  const unsigned char* frame = bytes + begin;
  std::size_t size = pos - begin;
  if (scanner->frame_fill > 0) {
    if (!hold_frame_bytes(scanner, bytes + begin, size)) return feed_ok;
    frame = scanner->frame;
    size = scanner->frame_fill;
  }
  forget_open_frame(scanner);
  return sink.take(sink.context, frame, size);
}

}  // namespace

feed_outcome scan_bytes(scanner_state* scanner, bool trace_markers, const frame_sink& sink, const unsigned char* bytes,
                        std::size_t count) {
  std::size_t pos = 0;
  std::size_t begin = 0;  // where the open frame's bytes in this block begin
  while (pos < count) {
    if (!scanner->in_frame) {
      pos = find_frame_start(scanner, trace_markers, bytes, count, pos);
      if (!scanner->in_frame) break;
      begin = pos >= 2 ? pos - 2 : 0;
      // A start marker whose 0xFF came with the previous read.
      if (pos < 2) hold_frame_bytes(scanner, &marker_lead, 1);
      continue;
    }
    // The frame may take the bytes up to `end`; the byte at `end` would pass the limit.
    const std::size_t end = std::min(count, begin + (frame_size_limit - scanner->frame_fill));
    if (pos == end) {
      // Scanning goes on from this byte, the first after the limit.
      drop_overlong_frame(scanner);
      continue;
    }
    if (!step_in_frame(scanner, bytes, begin, end, &pos)) continue;
    feed_outcome outcome = complete_frame(scanner, trace_markers, sink, bytes, begin, pos);
    if (outcome != feed_ok) return outcome;
  }
  if (scanner->in_frame && count > begin) hold_frame_bytes(scanner, bytes + begin, count - begin);
  return feed_ok;
}

void forget_open_frame(scanner_state* scanner) {
  scanner->in_frame = false;
  scanner->after_ff = false;
  scanner->length_bytes = 0;
  scanner->segment_left = 0;
  scanner->frame_fill = 0;
}

void end_scanner(scanner_state* scanner) {
  std::free(scanner->frame);
  *scanner = scanner_state{};
}
