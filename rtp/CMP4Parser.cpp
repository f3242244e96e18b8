#include "rtp/CMP4Parser.h"

#include "rtp/BitReader.h"

namespace dravnel {

namespace {

constexpr uint8_t kVisualObjectSequence = 0xB0;
constexpr uint8_t kUserData = 0xB2;
constexpr uint8_t kVisualObject = 0xB5;
constexpr uint32_t kMaxRoundedSize = 32000;

bool StartCodeAt(std::span<const uint8_t> b, size_t at) {
    return at + 4 <= b.size() && b[at] == 0 && b[at + 1] == 0 && b[at + 2] == 1;
}

// The next start code prefix at or after `from`; b.size() when none.
size_t NextStartCode(std::span<const uint8_t> b, size_t from) {
    for (size_t i = from; i + 3 <= b.size(); ++i)
        if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1) return i;
    return b.size();
}

size_t SkipUserData(std::span<const uint8_t> b, size_t at) {
    while (StartCodeAt(b, at) && b[at + 3] == kUserData) at = NextStartCode(b, at + 4);
    return at;
}

// The fields behind a start code, read bit by bit; `at` moves to the next
// start code after them.
template <class Read>
bool ReadFields(std::span<const uint8_t> b, size_t& at, Read read) {
    BitReader r(b.subspan(at + 4));
    if (!read(r) || !r.ok()) return false;
    at = NextStartCode(b, at + 4 + (r.BitPosition() + 7) / 8);
    return true;
}

bool Marker(BitReader& r) { return r.Bit() == 1; }

// ISO/IEC 14496-2 6.2.3, VisualObject() up to video_signal_type().
bool ReadVisualObject(BitReader& r) {
    if (r.Bit()) r.Bits(4 + 3);        // is_visual_object_identifier: verid, priority
    if (r.Bits(4) != 1) return false;  // visual_object_type: video
    if (r.Bit()) {                     // video_signal_type
        r.Bits(3 + 1);                 // video_format, video_range
        if (r.Bit()) r.Bits(24);       // colour_description
    }
    return true;
}

// ISO/IEC 14496-2 6.2.3, VideoObjectLayer() up to video_object_layer_height.
bool ReadVideoObjectLayer(BitReader& r, uint32_t& width, uint32_t& height) {
    r.Bit();  // random_accessible_vol
    const uint32_t typeIndication = r.Bits(8);
    if (typeIndication != 1 && typeIndication != 17) return false;  // simple, advanced simple
    if (r.Bit()) r.Bits(4 + 3);                                     // is_object_layer_identifier
    if (r.Bits(4) == 15) r.Bits(8 + 8);                             // aspect_ratio_info: extended PAR
    if (r.Bit()) {                                                  // vol_control_parameters
        if (r.Bits(2) != 1) return false;                           // chroma_format 4:2:0
        r.Bit();                                                    // low_delay
        if (r.Bit()) {                                              // vbv_parameters
            r.Bits(15);                                             // first_half_bit_rate
            if (!Marker(r)) return false;
            r.Bits(15);  // latter_half_bit_rate
            if (!Marker(r)) return false;
            r.Bits(15);  // first_half_vbv_buffer_size
            if (!Marker(r)) return false;
            r.Bits(3 + 11);  // latter_half_vbv_buffer_size, first_half_vbv_occupancy
            if (!Marker(r)) return false;
            r.Bits(15);  // latter_half_vbv_occupancy
            if (!Marker(r)) return false;
        }
    }
    if (r.Bits(2) != 0) return false;  // video_object_layer_shape: rectangular
    if (!Marker(r)) return false;
    const uint32_t resolution = r.Bits(16);  // vop_time_increment_resolution
    if (resolution == 0 || !Marker(r)) return false;
    if (r.Bit()) {  // fixed_vop_rate
        unsigned bits = 1;
        while (bits < 16 && (1u << bits) < resolution) ++bits;
        r.Bits(bits);  // fixed_vop_time_increment
    }
    if (!Marker(r)) return false;
    width = r.Bits(13);
    if (!Marker(r)) return false;
    height = r.Bits(13);
    return r.ok();
}

}  // namespace

bool CMP4Parser::ReadFrameSize(std::span<const uint8_t> b, uint32_t& width, uint32_t& height) {
    if (!StartCodeAt(b, 0) || b[3] != kVisualObjectSequence || b.size() < 5) return false;
    size_t at = SkipUserData(b, 5);  // after profile_and_level_indication
    if (!StartCodeAt(b, at) || b[at + 3] != kVisualObject) return false;
    if (!ReadFields(b, at, ReadVisualObject)) return false;
    at = SkipUserData(b, at);
    if (!StartCodeAt(b, at) || b[at + 3] > 0x1F) return false;  // video_object_start_code
    at = SkipUserData(b, at + 4);
    if (!StartCodeAt(b, at) || (b[at + 3] & 0xF0) != 0x20) return false;  // video_object_layer_start_code
    uint32_t w = 0, h = 0;
    BitReader r(b.subspan(at + 4));
    if (!ReadVideoObjectLayer(r, w, h)) return false;
    const uint32_t roundedWidth = (w + 15) / 16 * 16;
    const uint32_t roundedHeight = (h + 15) / 16 * 16;
    if (roundedWidth == 0 || roundedHeight == 0 || roundedWidth > kMaxRoundedSize || roundedHeight > kMaxRoundedSize)
        return false;
    width = w > 0 && h > 0 ? w : roundedWidth;
    height = w > 0 && h > 0 ? h : roundedHeight;
    return true;
}

}  // namespace dravnel
