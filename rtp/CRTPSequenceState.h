// The RTP sequence number bookkeeping of RFC 3550 Appendix A.1: the highest
// sequence number seen, extended by the count of wrap-arounds, re-synchronised
// after a large jump once the next packet confirms it. Loss is not computed,
// so neither the base sequence nor the received count is kept.
//
// Thread-safety: none; the RTCP handler guards it with its lock.
#pragma once

#include <cstdint>

namespace dravnel {

class CRTPSequenceState {
public:
    static constexpr uint32_t kMaxDropout = 3000;
    static constexpr uint32_t kMaxMisorder = 100;
    static constexpr uint32_t kSeqMod = 1u << 16;

    void Clear() { *this = CRTPSequenceState(); }

    // One packet's sequence number.
    void Update(uint16_t seq) {
        if (!initialised_) {
            Init(seq);
            initialised_ = true;
            return;
        }
        const uint16_t udelta = static_cast<uint16_t>(seq - maxSeq_);
        if (udelta < kMaxDropout) {
            // In order, with a permissible gap.
            if (seq < maxSeq_) cycles_ += kSeqMod;
            maxSeq_ = seq;
        } else if (udelta <= kSeqMod - kMaxMisorder) {
            // A very large jump: believe it when the next packet follows it.
            if (seq == badSeq_) {
                Init(seq);
            } else {
                badSeq_ = (seq + 1u) & (kSeqMod - 1);
            }
        }
        // Otherwise a duplicate or a reordered packet.
    }

    uint32_t ExtendedHighest() const { return cycles_ + maxSeq_; }

private:
    void Init(uint16_t seq) {
        maxSeq_ = seq;
        badSeq_ = kSeqMod + 1;  // matches no sequence number
        cycles_ = 0;
    }

    bool initialised_ = false;
    uint16_t maxSeq_ = 0;
    uint32_t cycles_ = 0;
    uint32_t badSeq_ = kSeqMod + 1;
};

}  // namespace dravnel
