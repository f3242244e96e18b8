// Each fault as a client of the simulated camera meets it: garbage and a cut
// on an open RTSP connection, a refused DESCRIBE and refused CGI pages while
// held, and everything back once cleared.
#include "sim/faults/FaultInjector.h"

#include <gtest/gtest.h>

#include <string>

#include "sim/device/SimCamera.h"
#include "tests/sim/SimTestSupport.h"

namespace {

using dravnel::sim::FaultInjector;
using dravnel::sim::FaultKind;
using dravnel::sim::FaultStep;
using dravnel::sim::SimCamera;
using dravnel::sim::SimCameraOptions;
using namespace dravnel::test;

// Sends one request on the connection and reads until its reply is whole
// (head and an empty line; DESCRIBE replies are read to their end by the caller).
std::string Ask(dravnel::platform::Socket& socket, const std::string& request) {
    EXPECT_TRUE(socket.SendAll(request));
    std::string reply;
    while (reply.find("\r\n\r\n") == std::string::npos)
        if (ReadSome(socket, reply, 5000) != dravnel::platform::IoStatus::Ok) break;
    return reply;
}

TEST(FaultInjector, EachFaultReachesAClientAndClearsAgain) {
    SimCamera camera(SimCameraOptions{.rtspExecutable = kSimRtspExecutable});
    ASSERT_TRUE(camera.Start()) << camera.LastError();
    FaultInjector injector(camera);
    std::string error;
    const std::string url = camera.RtspUrl(1, 1);

    // Garbage comes unframed on an open connection, which stays open; a drop ends it.
    dravnel::platform::Socket rtsp = ConnectTo(camera.RtspPort());
    ASSERT_TRUE(rtsp.IsOpen());
    EXPECT_NE(Ask(rtsp, "OPTIONS " + url + " RTSP/1.0\r\nCSeq: 1\r\n\r\n").find("RTSP/1.0 200"), std::string::npos);
    ASSERT_TRUE(injector.Apply({FaultStep::Action::Fire, FaultKind::Garbage, 1}, error)) << error;
    std::string garbage;
    while (garbage.size() < FaultInjector::GarbageBytes().size())
        if (ReadSome(rtsp, garbage, 5000) != dravnel::platform::IoStatus::Ok) break;
    EXPECT_EQ(garbage, FaultInjector::GarbageBytes());
    ASSERT_TRUE(injector.Apply({FaultStep::Action::Fire, FaultKind::Drop, 2}, error)) << error;
    std::string rest;
    dravnel::platform::IoStatus status;
    while ((status = ReadSome(rtsp, rest, 5000)) == dravnel::platform::IoStatus::Ok) {
    }
    EXPECT_EQ(status, dravnel::platform::IoStatus::Closed);

    // Held: DESCRIBE refused and the CGI pages refuse the login; cleared: both answer.
    const std::string describe = "DESCRIBE " + url + " RTSP/1.0\r\nCSeq: 2\r\nAccept: application/sdp\r\n\r\n";
    const std::string page = "/video/video.php?app=get&ch=1";
    for (const bool fire : {true, false}) {
        SCOPED_TRACE(fire ? "held" : "cleared");
        const auto action = fire ? FaultStep::Action::Fire : FaultStep::Action::Clear;
        ASSERT_TRUE(injector.Apply({action, FaultKind::RefuseDescribe, 3}, error)) << error;
        ASSERT_TRUE(injector.Apply({action, FaultKind::Unauthorized, 4}, error)) << error;
        dravnel::platform::Socket again = ConnectTo(camera.RtspPort());
        EXPECT_NE(Ask(again, describe).find(fire ? "RTSP/1.0 503" : "RTSP/1.0 200"), std::string::npos);
        EXPECT_EQ(SimHttpGet(camera.WebPort(), page).status, fire ? 401 : 200);
    }

    // A restart brings the camera back on its ports.
    const uint16_t port = camera.RtspPort();
    ASSERT_TRUE(injector.Apply({FaultStep::Action::Fire, FaultKind::Restart, 5}, error)) << error;
    EXPECT_TRUE(camera.Running());
    EXPECT_EQ(camera.RtspPort(), port);
    dravnel::platform::Socket after = ConnectTo(camera.RtspPort());
    EXPECT_NE(Ask(after, "OPTIONS " + url + " RTSP/1.0\r\nCSeq: 1\r\n\r\n").find("RTSP/1.0 200"), std::string::npos);
}

}  // namespace
