// H.264 test data and the channel's end of a depacketizer: sequence parameter
// sets written field by field (ITU-T H.264 section 7.3.2.1.1) with emulation
// prevention, RTP packets around payloads, and a parser client that hands
// frames to the recording host sink.
#pragma once

#include <cstdint>
#include <vector>

#include "rtp/CRTPPacket.h"
#include "rtp/IMediaParserClient.h"
#include "tools/host/ChannelSink.h"

namespace quarnel::test {

using Bytes = std::vector<uint8_t>;

class BitWriter {
public:
    void Bits(uint64_t value, unsigned n) {
        for (unsigned i = n; i-- > 0;) Bit((value >> i) & 1);
    }
    void Bit(unsigned b) {
        if (fill_ == 0) bytes_.push_back(0);
        if (b) bytes_.back() |= static_cast<uint8_t>(0x80 >> fill_);
        fill_ = (fill_ + 1) % 8;
    }
    void UE(uint64_t v) {
        unsigned length = 0;
        while (((v + 1) >> length) > 1) ++length;
        Bits(0, length);
        Bits(v + 1, length + 1);
    }
    void SE(int64_t v) { UE(v > 0 ? 2 * static_cast<uint64_t>(v) - 1 : 2 * static_cast<uint64_t>(-v)); }
    Bytes Finish() {  // rbsp_trailing_bits
        Bit(1);
        while (fill_ != 0) Bit(0);
        return bytes_;
    }

private:
    Bytes bytes_;
    unsigned fill_ = 0;
};

struct SpsFields {
    unsigned profile = 66;
    unsigned chromaFormat = 1;  // written for the high profiles only
    bool scalingMatrix = false;
    unsigned pocType = 2;
    int offsetForNonRefPic = 0;  // POC type 1
    unsigned widthMbs = 20;
    unsigned heightMapUnits = 15;
    bool cropping = false;
    unsigned cropLeft = 0, cropRight = 0, cropTop = 0, cropBottom = 0;
};

// NAL header 67 (NRI 3, type 7), then the RBSP with emulation prevention
// (section 7.4.1: 00 00 0x with x <= 3 becomes 00 00 03 0x).
inline Bytes SpsNal(const SpsFields& f) {
    BitWriter w;
    w.Bits(f.profile, 8);
    w.Bits(0, 8);   // constraint flags
    w.Bits(30, 8);  // level_idc
    w.UE(0);        // seq_parameter_set_id
    if (f.profile >= 100) {
        w.UE(f.chromaFormat);
        if (f.chromaFormat == 3) w.Bit(0);  // separate_colour_plane_flag
        w.UE(0);                            // bit_depth_luma_minus8
        w.UE(0);                            // bit_depth_chroma_minus8
        w.Bit(0);                           // qpprime_y_zero_transform_bypass_flag
        w.Bit(f.scalingMatrix);
        for (int i = 0; f.scalingMatrix && i < (f.chromaFormat != 3 ? 8 : 12); ++i) {
            // Every other list present: 16s (first delta +8), then nextScale 0 ends it.
            const bool present = i % 2 == 0;
            w.Bit(present);
            if (!present) continue;
            w.SE(8);
            w.SE(-16);
        }
    }
    w.UE(0);  // log2_max_frame_num_minus4
    w.UE(f.pocType);
    if (f.pocType == 0) w.UE(2);  // log2_max_pic_order_cnt_lsb_minus4
    if (f.pocType == 1) {
        w.Bit(0);  // delta_pic_order_always_zero_flag
        w.SE(f.offsetForNonRefPic);
        w.SE(0);  // offset_for_top_to_bottom_field
        w.UE(1);  // num_ref_frames_in_pic_order_cnt_cycle
        w.SE(-32768);
    }
    w.UE(1);   // max_num_ref_frames
    w.Bit(0);  // gaps_in_frame_num_value_allowed_flag
    w.UE(f.widthMbs - 1);
    w.UE(f.heightMapUnits - 1);
    w.Bit(1);  // frame_mbs_only_flag
    w.Bit(1);  // direct_8x8_inference_flag
    w.Bit(f.cropping);
    if (f.cropping) {
        for (unsigned offset : {f.cropLeft, f.cropRight, f.cropTop, f.cropBottom}) w.UE(offset);
    }
    w.Bit(0);  // vui_parameters_present_flag
    Bytes nal{0x67};
    int zeros = 0;
    for (uint8_t b : w.Finish()) {
        if (zeros >= 2 && b <= 3) {
            nal.push_back(0x03);
            zeros = 0;
        }
        nal.push_back(b);
        zeros = b == 0 ? zeros + 1 : 0;
    }
    return nal;
}

inline dravnel::CRTPPacket Packet(uint16_t sequence, uint32_t timeStamp, bool marker, Bytes payload) {
    dravnel::CRTPPacket p;
    p.sequenceNumber = sequence;
    p.timeStamp = timeStamp;
    p.marker = marker ? 1 : 0;
    p.payloadLength = static_cast<uint32_t>(payload.size());
    p.payload = std::move(payload);
    return p;
}

inline Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// The channel's part: every finished frame goes to the host sink, which
// records it with every field set on it (and refuses it when told to).
class SinkClient : public dravnel::IMediaParserClient {
public:
    bool OnFrame(dravnel::ipcapture::IHostFrame* frame) override { return sink.DeliverFrame(frame); }
    std::pair<uint32_t, uint32_t> GetFrameSize() override { return {0, 0}; }

    quarnel::host::ChannelSink sink;
};

}  // namespace quarnel::test
