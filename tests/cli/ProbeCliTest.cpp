// quarnel probe against the simulated camera, and its saved device taken up
// by quarnel stream with no driver parameter given.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "sim/device/SimCamera.h"
#include "tests/sim/SimTestSupport.h"
#include "tests/support/RunCli.h"

namespace {

using dravnel::test::Cli;
using dravnel::test::CliRun;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

size_t Lines(const std::string& text) { return static_cast<size_t>(std::count(text.begin(), text.end(), '\n')); }

class ProbeCli : public testing::Test {
protected:
    void SetUp() override {
        char dir[] = "/tmp/quarnel-probe-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        dir_ = dir;
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }
    std::string dir_;
};

TEST_F(ProbeCli, ASavedProbeLetsStreamRunWithoutParameters) {
    dravnel::sim::SimCameraOptions options;
    options.identity = dravnel::sim::IdentityProfile::Group3;
    options.model = "QSIM-300";
    options.inputs = 2;
    options.outputs = 1;
    options.webAuth = dravnel::sim::WebAuth::Digest;
    options.rtspAuth = dravnel::sim::RtspServer::Auth::Digest;
    options.password = "s3cret";
    options.rtspExecutable = dravnel::test::kSimRtspExecutable;
    dravnel::sim::SimCamera camera(options);
    ASSERT_TRUE(camera.Start()) << camera.LastError();
    const std::string device = dir_ + "/cam.device";
    const std::string login = "--port " + std::to_string(camera.WebPort()) + " --user admin --password s3cret";

    const CliRun probe = Cli("probe " + login + " --json --save " + device);
    ASSERT_EQ(probe.status, 0) << probe.output;
    EXPECT_NE(probe.output.find("\"name\": \"Vista QSIM-300\""), std::string::npos) << probe.output;
    EXPECT_NE(probe.output.find("\"oem_device_group\": \"3\""), std::string::npos);
    EXPECT_NE(probe.output.find("\"alarm_inputs\": 2,\n  \"alarm_outputs\": 1"), std::string::npos);
    const std::string saved = ReadFile(device);
    EXPECT_NE(saved.find("\nparam4=3\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find("\nparam3=" + std::to_string(camera.RtspPort()) + "\n"), std::string::npos) << saved;
    EXPECT_EQ(saved.find("s3cret"), std::string::npos);

    const CliRun text = Cli("probe " + login);
    EXPECT_NE(text.output.find("  4 OEM Device Group = 3\n"), std::string::npos) << text.output;

    const CliRun stream =
        Cli("stream --device " + device + " --password s3cret --seconds 3 --out " + dir_ + "/cam.h264");
    EXPECT_EQ(stream.status, 0) << stream.output;
}

TEST_F(ProbeCli, FailuresEndWithOneLineThatSaysWhy) {
    dravnel::sim::SimCameraOptions options;
    options.webAuth = dravnel::sim::WebAuth::Basic;
    options.rtspExecutable = dravnel::test::kSimRtspExecutable;
    dravnel::sim::SimCamera camera(options);
    ASSERT_TRUE(camera.Start()) << camera.LastError();
    dravnel::sim::WebServer stranger;  // answers every page with 404
    ASSERT_TRUE(stranger.Start());
    uint16_t freePort = 0;
    {
        dravnel::platform::Socket socket;
        ASSERT_TRUE(socket.Create(dravnel::platform::Socket::Kind::Tcp) && socket.Bind(0, htonl(INADDR_LOOPBACK)));
        freePort = socket.LocalPort();
    }
    std::ofstream(dir_ + "/bad.device") << "address=127.0.0.1\nspeed=fast\n";
    struct Row {
        const char* name;
        std::string args;
        int status;
        std::string says;
    };
    const Row rows[] = {
        {"refused login", "probe --port " + std::to_string(camera.WebPort()) + " --user admin --password x", 1,
         "refused the login of user \"admin\": Failed to get camera properties, login failed"},
        {"unreachable", "probe --port " + std::to_string(freePort), 1, "no answer from 127.0.0.1:"},
        {"not a camera of these families", "probe --port " + std::to_string(stranger.Port()), 1,
         "answers, but not as a Vista or Hitron device"},
        {"forbidden address character", "probe --address 'cam;1'", 1, "Device address is invalid!"},
        {"missing device file", "stream --device " + dir_ + "/none.device", 2, "--device: cannot read"},
        {"unknown name in a device file", "probe --device " + dir_ + "/bad.device", 2, "line 2: unknown name 'speed'"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const CliRun run = Cli(row.args);
        EXPECT_EQ(run.status, row.status) << run.output;
        EXPECT_NE(run.output.find(row.says), std::string::npos) << run.output;
        EXPECT_EQ(Lines(run.output), 1u) << run.output;
    }
}

}  // namespace
