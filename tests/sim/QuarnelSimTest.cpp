// quarnel sim: the simulated camera as a program, its banner, its options
// and its end on a signal.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/ChildProcess.h"
#include "platform/Terminal.h"
#include "tests/sim/SimTestSupport.h"

namespace {

using namespace std::chrono_literals;

// The banner says how to reach every stream and how to point quarnel stream
// at the camera; SIGINT ends a timed run early and frees the ports.
TEST(QuarnelSim, PrintsHowToReachTheCameraAndStopsOnInterrupt) {
    dravnel::platform::ChildProcess child;
    dravnel::platform::ChildProcess::Spec spec;
    spec.executable = QUARNEL_BIN_DIR "/quarnel";
    spec.arguments = {"sim",    "--seconds", "60",     "--profile", "modelb", "--channels", "2",
                      "--ntsc", "--auth",    "digest", "--user",    "u",      "--password", "p w"};
    spec.reportFd = 1;
    std::string error;
    ASSERT_TRUE(child.Spawn(spec, error)) << error;
    const auto start = std::chrono::steady_clock::now();
    std::string out;
    uint8_t buffer[4096];
    while (out.find("Running for 60 s") == std::string::npos && std::chrono::steady_clock::now() < start + 20s) {
        auto got = child.Read(buffer, 500);
        if (got.status == dravnel::platform::IoStatus::Ok)
            out.append(reinterpret_cast<char*>(buffer), got.bytes);
        else if (got.status != dravnel::platform::IoStatus::Timeout)
            break;
    }
    ASSERT_NE(out.find("Running for 60 s"), std::string::npos) << out;
    for (const char* expected :
         {"Model B profile, 2 channels, NTSC", "  HTTP   http://127.0.0.1:", "/video/video.php?app=get&ch=1&strm=1",
          "/1/stream0 ", "/1/stream1 ", "/2/stream0 ", "channel 2 stream 2: JPEG 640x480 10 fps",
          "channel 1 stream 1: H264 1280x720 30 fps", "digest authentication on HTTP and RTSP: user \"u\"",
          "quarnel stream --address 127.0.0.1 --port ",
          " --user u --password 'p w' --codec h264 --channels 2 "
          "--param 2=1 --param 4=2\n"})
        EXPECT_NE(out.find(expected), std::string::npos) << expected << "\n" << out;
    EXPECT_EQ(out.find("/2/stream2"), std::string::npos);
    const size_t at = out.find("rtsp://127.0.0.1:") + 17;
    const int rtspPort = std::stoi(out.substr(at, out.find('/', at) - at));

    ASSERT_EQ(kill(child.Pid(), SIGINT), 0);
    for (auto got = child.Read(buffer, 5000); got.status == dravnel::platform::IoStatus::Ok;
         got = child.Read(buffer, 5000))
        out.append(reinterpret_cast<char*>(buffer), got.bytes);
    ASSERT_TRUE(child.WaitExit(5000)) << out;
    EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
    EXPECT_EQ(child.ExitCode(), 0);
    EXPECT_TRUE(out.ends_with("Simulated camera stopped.\n")) << out;
    EXPECT_TRUE(dravnel::test::PortFree(static_cast<uint16_t>(rtspPort)));
}

TEST(QuarnelSim, BadOptionsGetAClearError) {
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"sim", "--profile", "modelc"},
         "--profile: 'modelc' is not group1, group2, group3, older, vista-mpeg, standard or modelb"},
        {{"sim", "--channels", "129"}, "--channels: '129' is not a number from 1 to 128"},
        {{"sim", "--auth", "ntlm"}, "--auth: 'ntlm' is not none, basic or digest"},
        {{"sim", "--auth", "basic", "--user", ""}, "needs a --user"},
        {{"sim", "--rtsp-port"}, "--rtsp-port needs a value"},
        {{"sim", "--frobnicate"}, "unknown option '--frobnicate'"},
    };
    for (const auto& [args, message] : cases) {
        auto run = dravnel::platform::RunProgram(QUARNEL_BIN_DIR "/quarnel", args, 30000);
        EXPECT_EQ(run.exitCode, 2) << message;
        EXPECT_NE(run.output.find(message), std::string::npos) << run.output;
    }
}

}  // namespace
