// The marker scanner's rules, one byte at a time: what the encoder receives in fixed mode,
// every completed frame whole, `repeat` times. Inside a frame, a marker that carries a length
// has its segment taken whole, and a run of 0xFF before a marker byte is fill. An open frame is
// dropped at the byte that would pass `limit`, or at a length that would; the scan then looks
// for the next start marker from the following byte.
#pragma once
#include <cstddef>
#include <string>

#include "framerelay/frame_scanner.h"

struct reference_scan {
  std::string out, frame;  // an empty frame: outside a frame
  bool after_ff = false;
  int length_bytes = 0;
  std::size_t length = 0, skip = 0;
};

inline void reference_drop(reference_scan* s) {
  s->frame.clear();
  s->after_ff = false;
  s->length_bytes = 0;
  s->skip = 0;
}

// One byte inside a frame, already appended to it.
inline void reference_frame_byte(reference_scan* s, unsigned char b, int repeat, std::size_t limit) {
  if (s->length_bytes > 0) {
    s->length = s->length << 8 | b;
    if (--s->length_bytes == 0) s->skip = s->length >= 2 ? s->length - 2 : 0;
    if (s->length_bytes == 0 && s->frame.size() + s->skip > limit) reference_drop(s);
  } else if (s->skip > 0) {
    --s->skip;
  } else if (!s->after_ff || b == 0xFF) {
    s->after_ff = b == 0xFF;
  } else {
    s->after_ff = false;
    if (b == 0xD9) {
      for (int i = 0; i < repeat; ++i) s->out += s->frame;
      s->frame.clear();
    } else if (b > 0x01 && (b < 0xD0 || b > 0xD9)) {
      s->length_bytes = 2;
      s->length = 0;
    }
  }
}

inline std::string reference_output(const std::string& in, int repeat, std::size_t limit = frame_size_limit) {
  reference_scan s;
  for (char c : in) {
    const auto b = static_cast<unsigned char>(c);
    if (s.frame.size() == limit) reference_drop(&s);
    if (s.frame.empty()) {
      if (s.after_ff && b == 0xD8) s.frame = "\xFF\xD8";
      s.after_ff = b == 0xFF;
      continue;
    }
    s.frame += c;
    reference_frame_byte(&s, b, repeat, limit);
  }
  return s.out;
}
