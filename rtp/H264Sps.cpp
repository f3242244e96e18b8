#include "rtp/H264Sps.h"

#include <algorithm>
#include <array>

#include "rtp/BitReader.h"

namespace dravnel {

namespace {

// An SPS is a few dozen bytes; even one with every scaling list stays far
// below this, so a frame without a following start code is not scanned whole.
constexpr size_t kMaxSpsBytes = 2048;
constexpr uint32_t kMaxDimension = 65535;

// The SPS payload as RBSP: up to the next start code, with the emulation
// prevention bytes (00 00 03 -> 00 00, section 7.4.1) taken out, so that the
// fields behind such a sequence read right.
size_t ExtractRbsp(std::span<const uint8_t> payload, std::array<uint8_t, kMaxSpsBytes>& out) {
    size_t n = 0;
    int zeros = 0;
    for (size_t i = 0; i < payload.size() && n < out.size(); ++i) {
        const uint8_t b = payload[i];
        if (zeros >= 2 && b == 0x01) {
            // Start of the next NAL unit: the two zeros before it are not ours.
            n -= 2;
            break;
        }
        if (zeros >= 2 && b == 0x03) {
            zeros = 0;
            continue;
        }
        out[n++] = b;
        zeros = b == 0 ? zeros + 1 : 0;
    }
    return n;
}

void SkipScalingList(BitReader& r, int size) {
    int lastScale = 8;
    int nextScale = 8;
    for (int j = 0; j < size && r.ok(); ++j) {
        if (nextScale != 0) {
            const int32_t delta = r.SE();
            nextScale = static_cast<int>((lastScale + static_cast<int64_t>(delta) + 256) % 256);
            if (nextScale < 0) nextScale += 256;
        }
        lastScale = nextScale == 0 ? lastScale : nextScale;
    }
}

}  // namespace

bool ReadSpsSize(std::span<const uint8_t> nal, PictureSize& size) {
    if (nal.empty() || (nal[0] & 0x1F) != 7) return false;
    std::array<uint8_t, kMaxSpsBytes> rbsp;
    const size_t length = ExtractRbsp(nal.subspan(1), rbsp);
    BitReader r(std::span<const uint8_t>(rbsp.data(), length));

    const uint32_t profileIdc = r.Bits(8);
    r.Bits(8);  // constraint_set0..5 flags, reserved_zero_2bits
    r.Bits(8);  // level_idc
    r.UE();     // seq_parameter_set_id

    uint32_t chromaFormatIdc = 1;  // 4:2:0 unless said otherwise
    bool separateColourPlane = false;
    if (profileIdc >= 100 || profileIdc == 44) {
        chromaFormatIdc = r.UE();
        if (chromaFormatIdc > 3) return false;
        if (chromaFormatIdc == 3) separateColourPlane = r.Bit() != 0;
        r.UE();         // bit_depth_luma_minus8
        r.UE();         // bit_depth_chroma_minus8
        r.Bit();        // qpprime_y_zero_transform_bypass_flag
        if (r.Bit()) {  // seq_scaling_matrix_present_flag
            const int lists = chromaFormatIdc != 3 ? 8 : 12;
            for (int i = 0; i < lists && r.ok(); ++i) {
                if (r.Bit()) SkipScalingList(r, i < 6 ? 16 : 64);
            }
        }
    }
    r.UE();  // log2_max_frame_num_minus4
    const uint32_t pocType = r.UE();
    if (pocType == 0) {
        r.UE();  // log2_max_pic_order_cnt_lsb_minus4
    } else if (pocType == 1) {
        r.Bit();  // delta_pic_order_always_zero_flag
        r.SE();   // offset_for_non_ref_pic
        r.SE();   // offset_for_top_to_bottom_field
        const uint32_t cycle = r.UE();
        if (cycle > 255) return false;
        for (uint32_t i = 0; i < cycle && r.ok(); ++i) r.SE();
    }
    r.UE();   // max_num_ref_frames
    r.Bit();  // gaps_in_frame_num_value_allowed_flag
    const uint64_t widthMbs = uint64_t{r.UE()} + 1;
    const uint64_t heightMapUnits = uint64_t{r.UE()} + 1;
    const uint32_t frameMbsOnly = r.Bit();
    if (!frameMbsOnly) r.Bit();  // mb_adaptive_frame_field_flag
    r.Bit();                     // direct_8x8_inference_flag
    uint64_t cropLeft = 0, cropRight = 0, cropTop = 0, cropBottom = 0;
    if (r.Bit()) {  // frame_cropping_flag
        cropLeft = r.UE();
        cropRight = r.UE();
        cropTop = r.UE();
        cropBottom = r.UE();
    }
    if (!r.ok()) return false;

    // Cropping is counted in chroma samples (section 7.4.2.1.1): two luma
    // columns and rows for 4:2:0, and rows double again for field coding.
    const uint32_t chromaArrayType = separateColourPlane ? 0 : chromaFormatIdc;
    const uint64_t subWidthC = chromaArrayType == 1 || chromaArrayType == 2 ? 2 : 1;
    const uint64_t subHeightC = chromaArrayType == 1 ? 2 : 1;
    const uint64_t cropUnitX = subWidthC;
    const uint64_t cropUnitY = subHeightC * (2 - frameMbsOnly);

    const uint64_t fullWidth = widthMbs * 16;
    const uint64_t fullHeight = (2 - frameMbsOnly) * heightMapUnits * 16;
    const uint64_t cropX = cropUnitX * (cropLeft + cropRight);
    const uint64_t cropY = cropUnitY * (cropTop + cropBottom);
    if (cropX >= fullWidth || cropY >= fullHeight) return false;
    const uint64_t width = fullWidth - cropX;
    const uint64_t height = fullHeight - cropY;
    if (width > kMaxDimension || height > kMaxDimension) return false;
    size.width = static_cast<uint32_t>(width);
    size.height = static_cast<uint32_t>(height);
    return true;
}

bool FindSpsSize(std::span<const uint8_t> frame, size_t searchLimit, PictureSize& size) {
    // The start code and the NAL header both lie within the limit.
    const size_t end = std::min(frame.size(), searchLimit);
    for (size_t i = 0; i + 3 < end; ++i) {
        if (frame[i] == 0 && frame[i + 1] == 0 && frame[i + 2] == 1 && (frame[i + 3] & 0x1F) == 7) {
            return ReadSpsSize(frame.subspan(i + 3), size);
        }
    }
    return false;
}

}  // namespace dravnel
