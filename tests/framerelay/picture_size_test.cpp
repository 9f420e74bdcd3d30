// The picture size read from a JPEG's frame header, past whatever segments come first.
#include "framerelay/picture_size.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string segment(unsigned char code, const std::string& body) {
  std::size_t length = body.size() + 2;
  return std::string{'\xFF', static_cast<char>(code), static_cast<char>(length >> 8), static_cast<char>(length)} + body;
}

// A frame header (SOFn) for a w x h picture of one component.
std::string frame_header(unsigned char code, int w, int h) {
  return segment(code, std::string{8, char(h >> 8), char(h), char(w >> 8), char(w), 1, 1, 0x11, 0});
}

TEST(PictureSize, ReadFromTheFrameHeader) {
  const std::string soi = "\xFF\xD8", thumbnail = segment(0xE1, "Exif\xFF\xD8" + frame_header(0xC0, 8, 8) + "\xFF\xD9");
  struct {
    const char* name;
    std::string jpeg;
    int w, h;
  } rows[] = {
      {"baseline", soi + frame_header(0xC0, 640, 480) + "\xFF\xDA", 640, 480},
      {"progressive after tables and a thumbnail",
       soi + segment(0xE0, "JFIF") + thumbnail + segment(0xDB, std::string(65, 'q')) + segment(0xC4, "huff") +
           frame_header(0xC2, 1920, 1080),
       1920, 1080},
      {"fill bytes before the marker", soi + "\xFF\xFF" + frame_header(0xC1, 65535, 1), 65535, 1},
      {"no frame header before the scan", soi + segment(0xDA, "scan") + frame_header(0xC0, 1, 1), 0, 0},
      {"not a start marker", frame_header(0xC0, 4, 4), 0, 0},
      {"cut in the header", (soi + frame_header(0xC0, 320, 240)).substr(0, 9), 0, 0},
      {"a length that runs past the end", soi + segment(0xE0, "x").substr(0, 3) + "\xF0", 0, 0},
      {"a gap between segments", soi + "x" + frame_header(0xC0, 2, 2), 0, 0},
  };
  for (const auto& r : rows) {
    picture_size picture;
    bool found = read_picture_size(reinterpret_cast<const unsigned char*>(r.jpeg.data()), r.jpeg.size(), &picture);
    EXPECT_EQ(found, r.w != 0) << r.name;
    if (found) {
      EXPECT_TRUE((picture == picture_size{r.w, r.h})) << r.name << ": " << picture.width << "x" << picture.height;
    }
  }
}

}  // namespace
