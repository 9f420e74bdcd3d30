// The marker scanner: cuts whole JPEG frames out of the fetched stream by the image's own
// structure. A frame runs from its start marker (0xFF 0xD8) to the end marker (0xFF 0xD9) that
// ends the image: marker segments that carry a length (EXIF thumbnails, comments, tables) are
// taken whole, so an end marker inside them does not end the frame, and 0xFF fill bytes before
// a marker are fill.
#pragma once
#include <cstddef>

#include "framerelay/frame_sink.h"

constexpr std::size_t frame_start_room = 65536;     // the frame buffer's first size
constexpr std::size_t frame_size_limit = 16 << 20;  // an open frame longer than this is dropped

// Scanner state, kept across reads. A frame that lies whole inside one read is handed to the
// sink where it lies; only a frame that spans reads is gathered in the frame buffer.
struct scanner_state {
  bool in_frame = false;
  bool after_ff = false;           // the previous byte was a 0xFF whose marker byte is still to come
  int frame_starts = 0;            // start markers traced so far
  int length_bytes = 0;            // bytes of a segment's length still to come (0 to 2)
  std::size_t segment_length = 0;  // the length as far as it has come
  std::size_t segment_left = 0;    // bytes of a segment still to take whole
  unsigned char* frame = nullptr;  // the open frame's bytes from earlier reads; grows up to frame_size_limit
  std::size_t frame_room = 0;
  std::size_t frame_fill = 0;
};

// Feeds a block of fetched bytes through the marker scanner; completed frames go to `sink`.
// With `trace_markers` (-d bit 0x02) the start and end markers are traced on stderr. Stops at
// the first frame the sink does not take (feed_ok) and returns that outcome.
feed_outcome scan_bytes(scanner_state* scanner, bool trace_markers, const frame_sink& sink, const unsigned char* bytes,
                        std::size_t count);

// Forgets the open frame (a new stream begins: its rest will not come); the scanner goes on
// looking for the next start marker.
void forget_open_frame(scanner_state* scanner);

// Gives the frame buffer back and puts the scanner back to the start of a stream.
void end_scanner(scanner_state* scanner);
