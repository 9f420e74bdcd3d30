// The marker scanner's rules, one byte at a time: what the encoder receives in fixed mode,
// every completed frame whole, `repeat` times. Inside a frame, a marker that carries a length
// has its segment taken whole, and a run of 0xFF before a marker byte is fill. An open frame is
// dropped at the byte that would pass `limit`, or at a length that would; the scan then looks
// for the next start marker from the following byte.
#pragma once
#include <cstddef>
#include <string>

#include "framerelay/frame_scanner.h"

inline std::string reference_output(const std::string& in, int repeat, std::size_t limit = frame_size_limit) {
  std::string out, frame;  // an empty frame: outside a frame
  bool after_ff = false;
  int length_bytes = 0;
  std::size_t length = 0, skip = 0;
  for (char c : in) {
    const auto b = static_cast<unsigned char>(c);
    if (frame.size() == limit) frame.clear(), after_ff = false, length_bytes = 0, skip = 0;
    if (frame.empty()) {
      if (after_ff && b == 0xD8) frame = "\xFF\xD8";
      after_ff = b == 0xFF;
      continue;
    }
    frame += c;
    if (length_bytes > 0) {
      length = length << 8 | b;
      if (--length_bytes == 0) skip = length >= 2 ? length - 2 : 0;
      if (length_bytes == 0 && frame.size() + skip > limit) frame.clear(), after_ff = false, skip = 0;
    } else if (skip > 0) {
      --skip;
    } else if (!after_ff || b == 0xFF) {
      after_ff = b == 0xFF;
    } else {
      after_ff = false;
      if (b == 0xD9) {
        for (int i = 0; i < repeat; ++i) out += frame;
        frame.clear();
      } else if (b > 0x01 && (b < 0xD0 || b > 0xD9)) {
        length_bytes = 2;
        length = 0;
      }
    }
  }
  return out;
}
