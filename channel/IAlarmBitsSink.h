// Where the older Vista MPEG devices' alarm bits go: the I/O object, which
// turns bit i into the state of alarm input i.
//
// Thread-safety: called on the thread that drives the channel's parser.
#pragma once

namespace dravnel {

class IAlarmBitsSink {
public:
    virtual ~IAlarmBitsSink() = default;
    virtual void OnAlarmBits(unsigned bits) = 0;
};

}  // namespace dravnel
