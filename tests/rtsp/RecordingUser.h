// An IRTPReceiverUser that records what the RTSP client hands it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "rtp/IRTPClient.h"

namespace quarnel::test {

class RecordingUser : public dravnel::IRTPReceiverUser {
public:
    void OnInterleavedPacket(dravnel::CRTPPacket* packet, const std::vector<uint8_t>* frame) override {
        std::lock_guard<std::mutex> guard(mutex_);
        sequences_.push_back(packet->sequenceNumber);
        frames_.push_back(*frame);
        changed_.notify_all();
    }
    void OnRTPPacket(const sockaddr_in*, dravnel::CRTPPacket*) override {}
    void OnTimeout() override {}
    void OnClosed() override {}
    void OnSessionDescription(const dravnel::CodecConfig* config) override {
        std::lock_guard<std::mutex> guard(mutex_);
        configs_.push_back(*config);
    }

    std::vector<uint16_t> Sequences() const { return Locked(sequences_); }
    std::vector<std::vector<uint8_t>> Frames() const { return Locked(frames_); }
    std::vector<dravnel::CodecConfig> Configs() const { return Locked(configs_); }
    bool WaitForPackets(size_t count, int timeoutMs) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                 [&] { return sequences_.size() >= count; });
    }

private:
    template <typename T>
    T Locked(const T& value) const {
        std::lock_guard<std::mutex> guard(mutex_);
        return value;
    }

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<uint16_t> sequences_;
    std::vector<std::vector<uint8_t>> frames_;
    std::vector<dravnel::CodecConfig> configs_;
};

}  // namespace quarnel::test
