#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "rtsp/Base64.h"
#include "sim/device/SimCamera.h"
#include "tests/support/RunCli.h"

using dravnel::test::Cli;

// The opening line at the level the host version gives it: 3 by default.
TEST(Cli, OpenPrintsTheOpeningLineAtTheHostVersionsLevel) {
    const std::pair<const char*, const char*> cases[] = {
        {"open --address 10.0.0.5 --model 'VX 100%s' --param 2=0 --param 6=1.0.3",
         "[3] DRIVER IS OPENED (name: Quarnel, device model: VX 100%s, FW: 1.0.3, address: 10.0.0.5:80)"},
        {"open --model M --param 2=0 --host-version 6.3", "[100] DRIVER IS OPENED"},
    };
    for (const auto& [args, line] : cases) {
        auto run = Cli(args);
        EXPECT_EQ(run.status, 0) << run.output;
        EXPECT_NE(run.output.find(line), std::string::npos) << run.output;
    }
}

// Status 2 for a bad command line, 1 for a failure, each with what went wrong.
TEST(Cli, BadInputGetsAClearErrorNotACrash) {
    const struct {
        const char* args;
        int status;
        const char* says;
    } cases[] = {
        {"open --model M", 1, "refused to open"},
        {"open --port 70000", 2, "--port"},
        {"open --codec vp9", 2, ""},
        {"open --frobnicate", 2, "unknown option"},
        {"open --param 2=0 --library /nonexistent/libquarnel.so", 1, "cannot load"},
        {"stream --transport quic --seconds 1", 2, "--transport: 'quic' is not udp, tcp, interleaved or http"},
        {"stream --fps 0", 2, "--fps"},
        {"stream extra", 2, ""},
        {"stream --help", 0, "Quarnel.xml"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        auto run = Cli(c.args);
        EXPECT_EQ(run.status, c.status) << run.output;
        EXPECT_NE(run.output.find(c.says), std::string::npos) << run.output;
    }
}

TEST(Cli, DemoStreamsFromTheSimulatedCameraAndTheFilesDecode) {
    char dir[] = "/tmp/quarnel-demo-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    auto run = Cli(std::string("demo --seconds 3 --out-dir ") + dir);
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("demo passed: every file decodes without an error"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("Camera 127.0.0.1 is online"), std::string::npos);
    std::remove((std::string(dir) + "/demo-udp.h264").c_str());
    std::remove((std::string(dir) + "/demo-interleaved.h264").c_str());
    std::remove((std::string(dir) + "/demo-udp.mjpeg").c_str());
    std::remove((std::string(dir) + "/demo-interleaved.m4v").c_str());
    rmdir(dir);
}

TEST(Cli, StreamFromAnUnreachableDeviceEndsWithoutFramesAndSaysWhy) {
    // Nothing listens on port 9 of loopback: the channel keeps trying until the time is up.
    auto run = Cli("stream --port 9 --seconds 2 --out /tmp/quarnel-unreachable.h264");
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_NE(run.output.find("0 frames"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("[ch 0] no frames: the device is unreachable or refuses the connection (HTTP port 9)"),
              std::string::npos)
        << run.output;
    std::remove("/tmp/quarnel-unreachable.h264");
}

// quarnel ptz against its own simulated camera: each request's outcome, the
// camera moving and coming back to a preset, and presets in the named file;
// words it does not know get one clear line.
TEST(Cli, PtzDrivesTheSimulatedCamera) {
    char directory[] = "/tmp/quarnel-cli-ptz-XXXXXX";
    ASSERT_NE(mkdtemp(directory), nullptr);
    const std::string file = std::string(directory) + "/cam.preset";
    auto run = Cli("ptz --sim --param 8=" + file +
                   " preset add Home move right --speed 8 --for 200 preset add Door preset go Home preset list"
                   " zoom out");
    EXPECT_EQ(run.status, 0) << run.output;
    for (const char* line : {"AddPreset(\"Home\") -> PTZ_OK", "Move(right, 8) -> PTZ_OK\nStop() -> PTZ_OK",
                             "GoToPreset(\"Home\") -> PTZ_OK\n  camera: pan 0.0, tilt 0.0, zoom 1.0x",
                             "presets: 2\n  0  Home  (current)\n  1  Door\n", "ZoomOut(8) -> PTZ_OK"})
        EXPECT_NE(run.output.find(line), std::string::npos) << line << "\n" << run.output;
    FILE* saved = fopen(file.c_str(), "r");
    ASSERT_NE(saved, nullptr);
    fclose(saved);
    unlink(file.c_str());
    rmdir(directory);

    for (const char* bad : {"ptz move sideways", "ptz --speed 3", "ptz preset rename X", "ptz"}) {
        auto refused = Cli(bad);
        EXPECT_EQ(refused.status, 2) << bad;
        EXPECT_EQ(refused.output.rfind("quarnel ptz: ", 0), 0u) << refused.output;
        EXPECT_EQ(std::count(refused.output.begin(), refused.output.end(), '\n'), 1) << refused.output;
    }
    auto noFile = Cli("ptz --param 2=0 --param 7=Pan=1 info");
    EXPECT_EQ(noFile.status, 1);
    EXPECT_NE(noFile.output.find("gives no PTZ control"), std::string::npos) << noFile.output;
}

// Streams from the simulated camera with Basic and with Digest on its web
// pages and RTSP, and once with a wrong password: the password never shows
// in the output (nor its Basic form) or in the file written, and the refused
// login ends the run with its reason and a non-zero status.
TEST(Cli, StreamKeepsThePasswordToItselfAndSaysWhyALoginFails) {
    using dravnel::sim::RtspServer;
    using dravnel::sim::WebAuth;
    const std::string password = "Pw9-uniq%s";
    const struct {
        WebAuth web;
        RtspServer::Auth rtsp;
        std::string given;
        const char* why;
    } cases[] = {
        {WebAuth::Basic, RtspServer::Auth::Basic, password, nullptr},
        {WebAuth::Digest, RtspServer::Auth::Digest, password, nullptr},
        {WebAuth::Digest, RtspServer::Auth::Digest, "Wrong7-pass", "[ch 0] no frames: login refused (HTTP 401)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.given + (c.web == WebAuth::Basic ? " Basic" : " Digest"));
        dravnel::sim::SimCameraOptions options;
        options.webAuth = c.web;
        options.rtspAuth = c.rtsp;
        options.password = password;
        dravnel::sim::SimCamera camera(options);
        ASSERT_TRUE(camera.Start()) << camera.LastError();
        const std::string out = "/tmp/quarnel-cli-login-" + std::to_string(getpid()) + ".h264";
        const auto run = Cli("stream --port " + std::to_string(camera.WebPort()) + " --user admin --password '" +
                             c.given + "' --seconds 3 --out " + out);
        std::ifstream file(out, std::ios::binary);
        std::stringstream written;
        written << file.rdbuf();
        std::remove(out.c_str());
        for (const std::string& secret : {c.given, dravnel::Base64EncodeLine("admin:" + c.given)}) {
            EXPECT_EQ(run.output.find(secret), std::string::npos) << run.output;
            EXPECT_EQ(written.str().find(secret), std::string::npos);
        }
        if (c.why) {
            EXPECT_EQ(run.status, 1) << run.output;
            EXPECT_NE(run.output.find(c.why), std::string::npos) << run.output;
        } else {
            EXPECT_EQ(run.status, 0) << run.output;
            EXPECT_GT(written.str().size(), 1000u);
        }
    }
}
