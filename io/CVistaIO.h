// The I/O object of Vista and Hitron devices, for both device generations,
// chosen by driver parameter 4 (the OEM device group):
//
//   0 (older devices)  inputs: alarm bits in the video stream, handed over by
//                      the video channel (OnAlarmBits); no input thread.
//                      output: "/admin/event.html?app=set&mandatory_out_..."
//   other, or absent   inputs: the input thread holds the event stream
//   (newer devices)    "/stream/event_stream.php?ch=1&strm=1&alarm=1" open
//                      and reads one alarm message per chunk.
//                      output: the device's event engine; the alarm output,
//                      the manual trigger and a rule "AlarmOut" are set up
//                      once per start, then each "on" fires the trigger
//                      (mode 1 or 3 "/event/trigger.php?app=set&make_trigger=1",
//                      mode 2 "/event/trigger.php?make_trigger=1").
//
// Every CGI reply must carry "res=200"; anything else is a failed step.
//
// Thread-safety: the input side (input thread) uses only inputSender_ and
// inputsConfigured_, the output side (output thread) only outputSender_ and
// outputsConfigured_; OnAlarmBits (a video channel's thread) touches only the
// guarded state table of CIOBase. AbortRequests runs on the host's thread
// during StopIO and cancels both senders' requests, pending or about to be
// sent, so that both threads return at once.
#pragma once

#include <atomic>
#include <string>

#include "io/CIOBase.h"
#include "io/CVistaIOCallback.h"
#include "web/CHttpSender.h"

namespace dravnel {

class CVistaIO : public CIOBase, public CVistaIOCallback {
public:
    static constexpr const char* kEventStreamPath = "/stream/event_stream.php?ch=1&strm=1&alarm=1";

    explicit CVistaIO(IDriver* driver);
    ~CVistaIO() override;

    // CIOBase's stop, then the senders' kept connections are closed: a
    // stopped object holds no connection to the device.
    bool StopIO() override;

    bool SetOutputState(unsigned index, int state) override;
    bool GetInputStates() override;
    void ResetConfiguration() override;
    void AbortRequests() override;

    // CVistaIOCallback: bit i set makes input i active, clear inactive.
    // Inputs from 32 on are not carried by the bits and keep their state.
    void OnAlarmBits(unsigned bits) override;

    // GET `path` on the input (output) side; true with the reply text when the
    // reply's "res" is "200". Failures are logged; none is sent once the
    // side's thread is stopping.
    bool RequestGet_AlarmIn(const std::string& path, std::string& reply);
    bool RequestGet_AlarmOut(const std::string& path, std::string& reply);

    int Mode() const { return mode_; }

private:
    bool RequestGet(Web::CHttpSender& sender, bool stopping, const char* function, const std::string& path,
                    std::string& reply);
    bool ConfigureInputs();
    bool ConfigureAlarmOutput();
    bool ConfigureTrigger();
    bool ConfigureEventRule();
    bool FireTrigger();
    // One read of the event stream: every message in it, in order.
    void ApplyMessages(const std::string& burst);

    const int mode_;
    Web::CHttpSender inputSender_;
    Web::CHttpSender outputSender_;
    std::atomic<bool> inputsConfigured_{false};
    std::atomic<bool> outputsConfigured_{false};
};

}  // namespace dravnel
