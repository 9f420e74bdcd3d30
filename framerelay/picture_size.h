// The size of the picture a JPEG holds, read from its frame header (the SOFn marker segment),
// so that the recording can be checked against what the camera sends.
#pragma once
#include <cstddef>

struct picture_size {
  int width = 0;
  int height = 0;
};

inline bool operator==(const picture_size& a, const picture_size& b) {
  return a.width == b.width && a.height == b.height;
}

// Walks the marker segments of the `size` bytes of a whole JPEG from its start marker up to
// the first frame header and reads the picture's width and height from it. False when the
// bytes hold no frame header before the scan (or end first).
bool read_picture_size(const unsigned char* jpeg, std::size_t size, picture_size* picture);
