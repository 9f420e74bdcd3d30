// The JPEG marker rules that both the marker scanner and the picture-size reader follow: a
// marker is 0xFF and a code byte, and the code tells whether a length follows it.
#pragma once

constexpr unsigned char marker_lead = 0xFF;
constexpr unsigned char start_of_image = 0xD8;
constexpr unsigned char end_of_image = 0xD9;
constexpr unsigned char start_of_scan = 0xDA;

// Markers that stand alone: the start and end of an image, the restart markers, TEM, and a
// 0x00 that makes the 0xFF before it a stuffed data byte. Every other marker carries a
// two-byte big-endian length that counts itself and the segment after it.
constexpr bool carries_length(unsigned char code) { return code > 0x01 && (code < 0xD0 || code > end_of_image); }
