// The interfaces between a packet source (a UDP socket), its users (the RTP
// receiver, the RTCP handler) and the channel that receives RTP packets.
//
// Thread-safety: a source calls its user on its own thread; the receiver
// calls the channel on its delivery thread; the RTSP client calls the channel
// on the client thread.
#pragma once

#include "platform/InetAddress.h"

#include <cstdint>
#include <span>
#include <vector>

#include "rtp/CRTPPacket.h"
#include "rtsp/CodecConfig.h"

namespace dravnel {

class IRTPClientUser;

// One datagram of those a source read at once.
struct ReceivedDatagram {
    const sockaddr_in* from;
    const uint8_t* data;
    unsigned length;
};

// A packet source, such as a bound UDP socket.
class IRTPClient {
public:
    virtual ~IRTPClient() = default;
    virtual bool Open(IRTPClientUser* user, uint16_t port) = 0;
    virtual void Close() = 0;
    virtual void SetReceiveSize(unsigned bytes) = 0;
    virtual void SetSelectTimeout(unsigned seconds, unsigned milliseconds) = 0;
    virtual uint16_t GetPort() = 0;
};

// Receives what a source reads.
class IRTPClientUser {
public:
    virtual ~IRTPClientUser() = default;
    virtual void OnPacket(IRTPClient* source, const sockaddr_in* from, const uint8_t* data, unsigned length) = 0;
    virtual void OnTimeout(IRTPClient* source) = 0;
    virtual void OnClosed(IRTPClient* source) = 0;  // the source closed, or its socket failed
    // Datagrams read at once, in arrival order; by default one OnPacket each.
    virtual void OnPacketBatch(IRTPClient* source, std::span<const ReceivedDatagram> datagrams) {
        for (const ReceivedDatagram& d : datagrams) OnPacket(source, d.from, d.data, d.length);
    }
};

// The channel: receives parsed RTP packets and the session's codec parameters.
// Packets and frames are valid only during the call.
class IRTPReceiverUser {
public:
    virtual ~IRTPReceiverUser() = default;
    virtual void OnInterleavedPacket(CRTPPacket* packet, const std::vector<uint8_t>* frame) = 0;
    virtual void OnRTPPacket(const sockaddr_in* from, CRTPPacket* packet) = 0;
    virtual void OnTimeout() = 0;
    virtual void OnClosed() = 0;
    virtual void OnSessionDescription(const CodecConfig* config) = 0;
};

}  // namespace dravnel
