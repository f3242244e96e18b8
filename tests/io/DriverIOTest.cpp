// The I/O object as a recorder reaches it: through the opened driver, on the
// simulated camera's alarm pages.
#include <gtest/gtest.h>

#include <chrono>

#include "io/CVistaIO.h"
#include "sim/device/AlarmDevice.h"
#include "sim/device/SimCamera.h"
#include "sim/device/VistaMpegDevice.h"
#include "sim/web/WebServer.h"
#include "tests/support/OpenDriver.h"
#include "tests/support/WaitUntil.h"
#include "tools/host/ChannelSink.h"
#include "tools/host/IOCallback.h"

namespace {

using namespace std::chrono_literals;

// Open creates the I/O object once; its inputs reach the host's callback and
// its output the device's relay; Close stops what still runs.
TEST(DriverIO, OpenCreatesTheIOObjectThatServesTheHostUntilClose) {
    dravnel::sim::WebServer web;
    ASSERT_TRUE(web.Start(0));
    dravnel::sim::AlarmDevice alarms(web, 2, 1);
    dravnel::test::OpenDriver d;
    d.description.port = web.Port();
    d.description.inputs = 2;
    d.description.outputs = 1;
    d.description.parameters = {{1, "0"}, {2, "0"}, {3, "(none)"}, {4, "1"}};
    ASSERT_TRUE(d.Open());
    dravnel::ipcapture::ICaptureIOApi* io = d.driver->GetCaptureIO();
    ASSERT_NE(io, nullptr);
    EXPECT_TRUE(d.driver->CreateCaptureIO());
    EXPECT_EQ(d.driver->GetCaptureIO(), io);
    EXPECT_EQ(d.driver->GetIOCallback(), dynamic_cast<dravnel::CVistaIOCallback*>(io));
    EXPECT_EQ(io->GetInputCount(), 2u);
    EXPECT_EQ(io->GetOutputCount(), 1u);

    dravnel::host::IOCallback callback;
    ASSERT_TRUE(io->SetCallback(&callback));
    ASSERT_TRUE(io->StartIO());
    ASSERT_TRUE(callback.WaitForChanges(2, 5s));
    alarms.SetInput(1, true);
    ASSERT_TRUE(callback.WaitForChanges(3, 5s));
    EXPECT_EQ(callback.Changes().back(), (std::pair<unsigned, int>{1, dravnel::kIOStateActive}));
    ASSERT_TRUE(io->ChangeOutputState(0, dravnel::kIOStateActive));
    EXPECT_TRUE(dravnel::test::WaitUntil([&] { return alarms.Relay(0); }));

    d.driver->Close();  // with the I/O still running
    EXPECT_EQ(d.driver->GetCaptureIO(), nullptr);
    EXPECT_EQ(d.driver->GetIOCallback(), nullptr);
    EXPECT_EQ(callback.FailureCount(), 0u);
}

// An older device has no event stream: its alarm inputs ride in the video as
// user data in front of each picture. The driver's video channel hands the bits
// to the I/O object, which reports the inputs that changed to the host.
TEST(DriverIO, AnOlderDevicesAlarmBitsInTheVideoReachTheHostsCallback) {
    dravnel::sim::SimCameraOptions options;
    options.vistaMpeg = true;
    dravnel::sim::SimCamera camera(options);
    ASSERT_TRUE(camera.Start()) << camera.LastError();
    camera.VistaMpeg()->SetAlarmBits(0x00);

    dravnel::test::OpenDriver d;
    d.description.port = camera.WebPort();
    d.description.codec = 2;  // MPEG-4
    d.description.inputs = 2;
    d.description.userName = "admin";
    d.description.password = "admin";
    d.description.parameters = {{1, "0"}, {2, "0"}, {3, std::to_string(camera.RtspPort())}, {4, "0"}};
    ASSERT_TRUE(d.Open());
    dravnel::ipcapture::ICaptureIOApi* io = d.driver->GetCaptureIO();
    ASSERT_NE(io, nullptr);
    dravnel::host::IOCallback callback;
    ASSERT_TRUE(io->SetCallback(&callback));
    ASSERT_TRUE(io->StartIO());

    dravnel::host::ChannelSink sink;
    dravnel::host::ChannelDescription description;
    description.frameInterval = 0x700A;
    ASSERT_TRUE(d.driver->GetVideoCapture()->StartChannel(0, &sink, &description));
    ASSERT_TRUE(sink.WaitForFrames(3, 30s)) << "frames: " << sink.FrameCount();
    camera.VistaMpeg()->SetAlarmBits(0x02);
    ASSERT_TRUE(dravnel::test::WaitUntil([&] {
        for (const auto& change : callback.Changes())
            if (change == std::pair<unsigned, int>{1, dravnel::kIOStateActive}) return true;
        return false;
    }));
    for (const auto& change : callback.Changes())
        EXPECT_FALSE(change.first == 0 && change.second == dravnel::kIOStateActive);

    d.driver->GetVideoCapture()->StopChannel(0);
    io->StopIO();
    d.driver->Close();
}

}  // namespace
