#include "rtp/CH264RTPMediaParser.h"

#include "rtp/ByteReader.h"

namespace dravnel {

namespace {

constexpr uint8_t kStartCode[] = {0x00, 0x00, 0x01};
// Start code, NAL type 9 (access unit delimiter), primary_pic_type 1 (I and P
// slices) followed by the RBSP stop bit.
constexpr uint8_t kAccessUnitDelimiter[] = {0x00, 0x00, 0x01, 0x09, 0x30};
// Deliver looks for the SPS among the first bytes of a frame only.
constexpr size_t kSpsSearchBytes = 64;
// Parameter sets no longer than this are taken as the head of a frame, so a
// marker bit on them does not end it.
constexpr size_t kShortParameterSet = 128;

enum NalType : uint8_t {
    kNonIdrSlice = 1,
    kPartitionA = 2,
    kPartitionB = 3,
    kPartitionC = 4,
    kIdrSlice = 5,
    kSps = 7,
    kPps = 8,
    kAud = 9,
    kStapA = 24,
    kFuA = 28,
};

// Whether a non-IDR slice NAL unit continues a picture whose earlier slices
// may already be in the frame buffer. `firstPayloadByte` is the byte after the
// NAL header: a slice header starts with first_mb_in_slice as ue(v), which is
// 0 (a leading 1 bit) only for the first slice of a picture. Partitions B and
// C always belong to a partition A before them.
bool ContinuesPicture(uint8_t type, uint8_t firstPayloadByte) {
    if (type == kNonIdrSlice || type == kPartitionA) return (firstPayloadByte & 0x80) == 0;
    return type == kPartitionB || type == kPartitionC;
}

}  // namespace

CH264RTPMediaParser::CH264RTPMediaParser(IDriver* driver, std::string streamName)
    : CRTPMediaParser(driver, std::move(streamName)) {}

void CH264RTPMediaParser::Reset() {
    waitingForKeyFrame_ = true;
    size_ = PictureSize{};
    ClearFrame();
}

void CH264RTPMediaParser::ClearFrame() {
    ClearFrameBuffer();
    headOnly_ = true;
}

void CH264RTPMediaParser::SetCodecConfig(const CodecConfig* config) {
    if (!config || config->sps.empty() || config->pps.empty()) return;
    PictureSize size;
    if (!ReadSpsSize(config->sps, size)) return;
    size_ = size;
    codecConfig_.sps = config->sps;
    codecConfig_.pps = config->pps;
}

void CH264RTPMediaParser::ProcessPacket(CRTPPacket* packet) {
    if (!packet) return;
    if (!IsInSequence(packet)) Reset();  // the partial frame is lost; this packet still counts
    ReserveFor(*packet);
    const bool ok = HandlePayload(packet->payload);
    if (ok && !frame_.empty() && frameComplete_ && packet->marker) {
        clock_.Convert(packet->timeStamp);
        Deliver();
        ClearFrame();
    }
}

bool CH264RTPMediaParser::HandlePayload(std::span<const uint8_t> payload) {
    frameComplete_ = true;
    bool ok = false;
    if (!payload.empty()) {
        const uint8_t type = payload[0] & 0x1F;
        if (type >= 1 && type <= 23) {
            ok = HandleSingleNalUnit(payload);
        } else if (type == kStapA) {
            ok = HandleStapA(payload);
        } else if (type == kFuA) {
            ok = HandleFuA(payload);
        }
        // 0, 25 STAP-B, 26 MTAP16, 27 MTAP24, 29 FU-B, 30, 31: not supported.
    }
    if (!CheckBufferSize() || !ok) {
        Reset();
        return false;
    }
    return true;
}

void CH264RTPMediaParser::AppendNalUnit(std::span<const uint8_t> nal) {
    const uint8_t type = nal[0] & 0x1F;
    if ((type >= kNonIdrSlice && type <= kIdrSlice) || type == kSps || type == kPps) headOnly_ = false;
    frame_.insert(frame_.end(), std::begin(kStartCode), std::end(kStartCode));
    frame_.insert(frame_.end(), nal.begin(), nal.end());
}

// For an IDR picture that opens the frame. Whole NAL units that may come
// before the parameter sets (SEI and the like) can already be in the frame;
// the sets go in front of them, where they belong and where Deliver looks.
void CH264RTPMediaParser::PrependParameterSets() {
    if (!headOnly_ || codecConfig_.sps.empty() || codecConfig_.pps.empty()) return;
    // Back to front: 00 00 01 SPS 00 00 01 PPS. What they go in front of is a
    // few short units at most, so the moves cost nothing worth a buffer.
    for (const std::vector<uint8_t>* set : {&codecConfig_.pps, &codecConfig_.sps}) {
        frame_.insert(frame_.begin(), set->begin(), set->end());
        frame_.insert(frame_.begin(), std::begin(kStartCode), std::end(kStartCode));
    }
    headOnly_ = false;
}

bool CH264RTPMediaParser::HandleSingleNalUnit(std::span<const uint8_t> nal) {
    const uint8_t type = nal[0] & 0x1F;
    // Every frame ends with a delimiter of ours; the stream's own would
    // double it (and keep the frame buffer from looking empty to an IDR).
    if (type == kAud) return true;
    if (type == kIdrSlice) PrependParameterSets();
    if ((type == kSps || type == kPps) && nal.size() <= kShortParameterSet) frameComplete_ = false;
    AppendNalUnit(nal);
    return true;
}

//  STAP-A (RFC 6184 section 5.7.1):
//  | STAP-A NAL HDR | NALU 1 size (16) | NALU 1 ... | NALU 2 size (16) | NALU 2 ... |
bool CH264RTPMediaParser::HandleStapA(std::span<const uint8_t> payload) {
    if (payload.size() < 4) return false;
    ByteReader r(payload.subspan(1));
    while (r.remaining() >= 2) {
        const uint16_t size = r.U16();
        if (size > r.remaining()) return false;
        const auto nal = r.Bytes(size);
        // An empty unit would leave a bare start code in the stream.
        if (nal.empty() || (nal[0] & 0x1F) == kAud) continue;
        AppendNalUnit(nal);
    }
    return true;
}

//  FU-A (RFC 6184 section 5.8):
//  | FU indicator: F NRI type=28 | FU header: S E R type | fragment ... |
bool CH264RTPMediaParser::HandleFuA(std::span<const uint8_t> payload) {
    if (payload.size() < 3) return false;
    const uint8_t indicator = payload[0];
    const uint8_t header = payload[1];
    const uint8_t type = header & 0x1F;
    if (header & 0x80) {
        if (type == kIdrSlice) {
            PrependParameterSets();
        } else if (!ContinuesPicture(type, payload[2])) {
            // A new picture starts: whatever is left of an unfinished one goes.
            ClearFrame();
        }
        frame_.insert(frame_.end(), std::begin(kStartCode), std::end(kStartCode));
        frame_.push_back(static_cast<uint8_t>((indicator & 0xE0) | type));
    }
    // The end bit is not needed: the marker bit closes the frame.
    frame_.insert(frame_.end(), payload.begin() + 2, payload.end());
    headOnly_ = false;
    return true;
}

void CH264RTPMediaParser::Deliver() {
    ipcapture::IHostFrameAllocator* host = HostContext();
    if (!host || !client_ || frame_.empty()) return;
    frame_.insert(frame_.end(), std::begin(kAccessUnitDelimiter), std::end(kAccessUnitDelimiter));

    uint32_t tag = kCodecTagH264;
    PictureSize size;
    if (FindSpsSize(frame_, kSpsSearchBytes, size)) {
        size_ = size;
        tag = kCodecTagH264Key;
        waitingForKeyFrame_ = false;
    } else if (waitingForKeyFrame_) {
        ClearFrame();
        return;
    }

    bool noBuffer = false;
    HostFramePtr frame = CopyToHostFrame(host, tag, noBuffer);
    if (!frame) {
        if (noBuffer) Reset();
        return;
    }
    frame->SetWidth(size_.width);
    frame->SetHeight(size_.height);
    frame->SetSizeClass(SizeClass(size_.width, size_.height));
    frame->SetDataSize(static_cast<uint32_t>(frame_.size()));
    frame->SetCodecTag(tag);
    const SYSTEMTIME time = clock_.GetTime();
    frame->SetTime(&time);
    if (!client_->OnFrame(frame.get())) Reset();
}

}  // namespace dravnel
