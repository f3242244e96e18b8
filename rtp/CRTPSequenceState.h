// The RTP sequence number bookkeeping of RFC 3550 Appendix A.1: the highest
// sequence number seen, extended by the count of wrap-arounds, re-synchronised
// after a large jump once two consecutive packets confirm it.
//
// Thread-safety: none; the RTCP handler guards it with its lock.
#pragma once

#include <cstdint>

namespace dravnel {

class CRTPSequenceState {
public:
    static constexpr uint32_t kMaxDropout = 3000;
    static constexpr uint32_t kMaxMisorder = 100;
    static constexpr uint32_t kMinSequential = 2;
    static constexpr uint32_t kSeqMod = 1u << 16;

    void Clear() { *this = CRTPSequenceState(); }

    // One packet's sequence number; false when it was not counted as valid.
    bool Update(uint16_t seq) {
        if (!initialised_) {
            Init(seq);
            base_ = static_cast<uint16_t>(seq - 1);
            initialised_ = true;
        }
        const uint16_t udelta = static_cast<uint16_t>(seq - maxSeq_);
        if (probation_ > 0) {
            // A source only counts after kMinSequential packets in a row.
            if (seq == static_cast<uint16_t>(maxSeq_ + 1)) {
                --probation_;
                maxSeq_ = seq;
                if (probation_ == 0) {
                    Init(seq);
                    ++received_;
                    return true;
                }
            } else {
                probation_ = kMinSequential - 1;
                maxSeq_ = seq;
            }
            return false;
        }
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
                return false;
            }
        }
        // Otherwise a duplicate or a reordered packet.
        ++received_;
        return true;
    }

    uint32_t ExtendedHighest() const { return cycles_ + maxSeq_; }
    uint16_t Highest() const { return maxSeq_; }
    uint32_t Cycles() const { return cycles_; }
    uint32_t Received() const { return received_; }
    bool Initialised() const { return initialised_; }

private:
    void Init(uint16_t seq) {
        base_ = seq;
        maxSeq_ = seq;
        badSeq_ = kSeqMod + 1;  // matches no sequence number
        cycles_ = 0;
        received_ = 0;
    }

    bool initialised_ = false;
    uint16_t maxSeq_ = 0;
    uint32_t cycles_ = 0;
    uint16_t base_ = 0;
    uint32_t badSeq_ = kSeqMod + 1;
    uint32_t probation_ = 0;
    uint32_t received_ = 0;
};

}  // namespace dravnel
