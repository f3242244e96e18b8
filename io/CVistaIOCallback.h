// What the older Vista devices' video channel hands the I/O object: the
// alarm bits carried in the stream, bit i for input i.
//
// Thread-safety: called on the video channel's thread.
#pragma once

namespace dravnel {

class CVistaIOCallback {
public:
    virtual ~CVistaIOCallback() = default;
    virtual void OnAlarmBits(unsigned bits) = 0;
};

}  // namespace dravnel
