// Reading a JPEG's picture size: from the start marker, segment by segment (each carries its
// own two-byte length), to the frame header, whose bytes after the length are the sample
// precision, the height and the width, each height and width in two big-endian bytes.
#include "framerelay/picture_size.h"

#include "framerelay/jpeg_markers.h"

namespace {

// The frame headers SOF0 to SOF15; 0xC4 (Huffman tables), 0xC8 (reserved) and 0xCC
// (arithmetic coding conditioning) share the range but are no frame headers.
bool is_frame_header(unsigned char code) {
  return code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC;
}

unsigned two_bytes(const unsigned char* at) { return static_cast<unsigned>(at[0]) << 8 | at[1]; }

}  // namespace

bool read_picture_size(const unsigned char* jpeg, std::size_t size, picture_size* picture) {
  if (size < 2 || jpeg[0] != marker_lead || jpeg[1] != start_of_image) return false;
  std::size_t pos = 2;
  while (pos + 1 < size) {
    if (jpeg[pos] != marker_lead) return false;  // segments follow each other without a gap
    unsigned char code = jpeg[pos + 1];
    if (code == marker_lead) {  // fill before a marker
      ++pos;
      continue;
    }
    pos += 2;
    if (!carries_length(code)) continue;
    if (code == start_of_scan || pos + 2 > size) return false;
    std::size_t length = two_bytes(jpeg + pos);
    if (is_frame_header(code)) {
      if (length < 7 || pos + 7 > size) return false;
      picture->height = static_cast<int>(two_bytes(jpeg + pos + 3));
      picture->width = static_cast<int>(two_bytes(jpeg + pos + 5));
      return true;
    }
    if (length < 2) return false;
    pos += length;
  }
  return false;
}
