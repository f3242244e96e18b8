// A recording user of a packet source and of the RTP receiver, for tests.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "rtp/IRTPClient.h"
#include "threads/CEvent.h"

namespace quarnel::test {

// The user of a UDP client (datagrams as they come) or the channel behind a
// receiver (packets by sequence number), recording what it gets. A delivery
// from the receiver can be made to block until released, to take time, or to
// go on to a depacketizer.
//
// Thread-safety: the user calls may come from any thread; read the records
// under `mutex`.
class Recorder : public dravnel::IRTPClientUser, public dravnel::IRTPReceiverUser {
public:
    void OnPacket(dravnel::IRTPClient* source, const sockaddr_in* from, const uint8_t* data, unsigned length) override {
        Record(*from, [&] { datagrams.emplace_back(data, data + length); });
        if (onPacket) onPacket(source);
    }
    void OnTimeout(dravnel::IRTPClient*) override { ++timeouts; }
    void OnClosed(dravnel::IRTPClient*) override { ++closed; }

    void OnInterleavedPacket(dravnel::CRTPPacket*, const std::vector<uint8_t>*) override {}
    void OnRTPPacket(const sockaddr_in* from, dravnel::CRTPPacket* packet) override {
        inCall = true;
        if (block) release.Wait(platform::kInfinite);
        std::this_thread::sleep_for(delay);
        if (onRtpPacket) onRtpPacket(packet);
        Record(*from, [&] { sequences.push_back(packet->sequenceNumber); });
        inCall = false;
    }
    void OnTimeout() override { ++timeouts; }
    void OnClosed() override { ++closed; }
    void OnSessionDescription(const dravnel::CodecConfig*) override {}

    // Until `n` datagrams or packets have come.
    bool WaitCount(size_t n) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(2), [&] { return senders.size() >= n; });
    }
    size_t Count() {
        std::lock_guard<std::mutex> guard(mutex);
        return senders.size();
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<sockaddr_in> senders;
    std::vector<std::vector<uint8_t>> datagrams;
    std::vector<uint16_t> sequences;
    std::atomic<int> timeouts{0};
    std::atomic<int> closed{0};
    std::function<void(dravnel::IRTPClient*)> onPacket;
    std::function<void(dravnel::CRTPPacket*)> onRtpPacket;
    std::atomic<bool> inCall{false};
    std::atomic<bool> block{false};
    std::chrono::milliseconds delay{0};
    dravnel::CManualEvent release;

private:
    template <class Keep>
    void Record(const sockaddr_in& from, Keep keep) {
        {
            std::lock_guard<std::mutex> guard(mutex);
            keep();
            senders.push_back(from);
        }
        changed.notify_all();
    }
};

}  // namespace quarnel::test
