// quarnel sim: the simulated camera as a program, its banner, its options
// and its end on a signal.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/ChildProcess.h"
#include "platform/Socket.h"
#include "platform/Terminal.h"

namespace {

using namespace std::chrono_literals;

bool Free(uint16_t port) {
    platform::Socket socket;
    return socket.Create(platform::Socket::Kind::Tcp) && socket.SetReuseAddress(true) &&
           socket.Bind(port, htonl(INADDR_LOOPBACK)) && socket.Listen();
}


// Standard output and standard error together.
platform::ProgramResult Cli(const std::vector<std::string>& args, uint32_t timeoutMs = 30000) {
    std::vector<std::string> all = {"sim"};
    all.insert(all.end(), args.begin(), args.end());
    return platform::RunProgram(QUARNEL_BIN_DIR "/quarnel", all, timeoutMs);
}

TEST(QuarnelSim, PrintsHowToReachTheCameraAndStopsOnTime) {
    const auto start = std::chrono::steady_clock::now();
    auto run = Cli({"--seconds", "2", "--profile", "modelb", "--channels", "2", "--ntsc", "--auth", "digest",
                    "--user", "u", "--password", "p w"});
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_GE(took, 2s);
    EXPECT_LT(took, 15s);
    const std::string& out = run.output;
    for (const char* expected :
         {"Model B profile, 2 channels, NTSC", "  HTTP   http://127.0.0.1:", "/video/video.php?app=get&ch=1&strm=1",
          "/1/stream0 ", "/1/stream1 ", "/2/stream0 ", "channel 2 stream 2: JPEG 640x480 10 fps",
          "channel 1 stream 1: H264 1280x720 30 fps", "digest authentication on HTTP and RTSP: user \"u\"",
          "quarnel stream --address 127.0.0.1 --port ", " --user u --password 'p w' --codec h264 --channels 2 "
          "--param 2=1 --param 4=2\n", "Simulated camera stopped.\n"})
        EXPECT_NE(out.find(expected), std::string::npos) << expected << "\n" << out;
    EXPECT_EQ(out.find("/2/stream2"), std::string::npos);
}

TEST(QuarnelSim, BadOptionsGetAClearError) {
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    const Case cases[] = {
        {{"--profile", "modelc"}, "--profile: 'modelc' is not standard or modelb"},
        {{"--channels", "0"}, "--channels: '0' is not a number from 1 to 64"},
        {{"--channels", "65"}, "from 1 to 64"},
        {{"--auth", "ntlm"}, "--auth: 'ntlm' is not none, basic or digest"},
        {{"--auth", "basic", "--user", ""}, "needs a --user"},
        {{"--http-port", "65536"}, "--http-port"},
        {{"--rtsp-port"}, "--rtsp-port needs a value"},
        {{"--seconds", "-1"}, "--seconds"},
        {{"--frobnicate"}, "unknown option '--frobnicate'"},
    };
    for (const Case& c : cases) {
        auto run = Cli(c.args);
        EXPECT_EQ(run.exitCode, 2) << c.message;
        EXPECT_NE(run.output.find(c.message), std::string::npos) << run.output;
    }
    auto help = Cli({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.output.find("--profile standard|modelb"), std::string::npos) << help.output;
}

TEST(QuarnelSim, InterruptStopsTheServersCleanly) {
    platform::ChildProcess child;
    platform::ChildProcess::Spec spec;
    spec.executable = QUARNEL_BIN_DIR "/quarnel";
    spec.arguments = {"sim"};
    spec.reportFd = 1;
    std::string error;
    ASSERT_TRUE(child.Spawn(spec, error)) << error;
    std::string out;
    uint8_t buffer[4096];
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (out.find("Running until Ctrl-C.") == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        auto got = child.Read(buffer, 500);
        if (got.status == platform::IoStatus::Ok) out.append(reinterpret_cast<char*>(buffer), got.bytes);
        else if (got.status != platform::IoStatus::Timeout) break;
    }
    ASSERT_NE(out.find("Running until Ctrl-C."), std::string::npos) << out;
    const size_t at = out.find("rtsp://127.0.0.1:") + 17;
    const int rtspPort = std::stoi(out.substr(at, out.find('/', at) - at));

    ASSERT_EQ(kill(child.Pid(), SIGINT), 0);
    for (;;) {
        auto got = child.Read(buffer, 5000);
        if (got.status != platform::IoStatus::Ok) break;
        out.append(reinterpret_cast<char*>(buffer), got.bytes);
    }
    ASSERT_TRUE(child.WaitExit(5000)) << out;
    EXPECT_EQ(child.ExitCode(), 0) << out;
    EXPECT_NE(out.find("Simulated camera stopped."), std::string::npos) << out;
    EXPECT_TRUE(Free(static_cast<uint16_t>(rtspPort)));
}

}  // namespace
