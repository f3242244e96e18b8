// Rebuilding a baseline JFIF/JPEG image (ITU-T T.81) from an RTP/JPEG frame
// (RFC 2435): the headers the payload format leaves out are written in front
// of the scan data.
//
//   frame (first fragment's whole payload, then the later fragments' scan bytes):
//   | main header (8) | [restart marker header (4)] | [Q table header (4) + tables] | scan ...
//
//   main header:  type-specific (8) | fragment offset (24) | type (8) | Q (8) | width/8 | height/8
//   restart:      restart interval (16) | F (1) | L (1) | restart count (14)     types 64..127
//   Q tables:     MBZ (8) | precision (8) | length (16) | table bytes ...       Q 128..255
//
// Two layouts of the image header:
//   A (Q below 128, tables computed from Q): SOI, DQT 0, DQT 1, SOF0 with the
//     component ids 0, 1, 2, four DHT, SOS; DRI for types 64..127.
//   B (Q 128 and above, tables from the stream): SOI, APP0 (JFIF), [DRI],
//     DQT 0, [DQT 1], SOF0 with the component ids 1, 2, 3, four DHT, SOS.
//
// Thread-safety: pure functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace dravnel {

// Room a rebuilt header never exceeds.
constexpr size_t kJpegHeaderRoom = 1024;

// The 64 quantizer values of a table for Q (RFC 2435 Appendix A): Q clamped
// to 1..99, the T.81 Annex K luminance or chrominance table scaled and put
// into zig-zag order.
void MakeQuantizerTable(uint8_t q, bool chrominance, uint8_t out[64]);

struct JpegImageSize {
    uint32_t width = 0;  // main-header byte x 8, as the frame object gets it
    uint32_t height = 0;
};

// Writes the image of `frame` into `out` (room for `capacity` bytes) and
// returns its length; 0 when the frame cannot make an image (too short,
// malformed headers, or more than `capacity` bytes). `size` gets the picture
// size of the main header whenever the frame holds one.
size_t BuildJpegImage(std::span<const uint8_t> frame, uint8_t* out, size_t capacity, JpegImageSize& size);

}  // namespace dravnel
