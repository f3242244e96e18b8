// quarnel io against quarnel sim, both as programs: an input toggled on the
// simulator's standard input reaches the io command's output, and an output
// switched on the io command's standard input closes the simulator's relay.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/ChildProcess.h"
#include "platform/Terminal.h"

namespace {

using namespace std::chrono_literals;

struct Program {
    dravnel::platform::ChildProcess child;
    std::string out;

    bool Start(std::vector<std::string> arguments) {
        dravnel::platform::ChildProcess::Spec spec;
        spec.executable = QUARNEL_BIN_DIR "/quarnel";
        spec.arguments = std::move(arguments);
        spec.reportFd = 1;
        std::string error;
        return child.Spawn(spec, error);
    }
    // Reads on until `text` has appeared after `from`.
    bool WaitFor(const std::string& text, size_t from = 0) {
        const auto end = std::chrono::steady_clock::now() + 20s;
        uint8_t buffer[4096];
        while (out.find(text, from) == std::string::npos) {
            if (std::chrono::steady_clock::now() > end) return false;
            auto got = child.Read(buffer, 200);
            if (got.status == dravnel::platform::IoStatus::Ok)
                out.append(reinterpret_cast<char*>(buffer), got.bytes);
            else if (got.status != dravnel::platform::IoStatus::Timeout)
                return false;
        }
        return true;
    }
    int Stop() {
        kill(child.Pid(), SIGINT);
        WaitFor("\x01");  // reads to the end of the output
        return child.WaitExit(10000) ? child.ExitCode() : -1;
    }
};

TEST(IOCommand, InputsReachTheHostAndOutputsTheRelayBetweenTheTwoPrograms) {
    Program sim;
    ASSERT_TRUE(sim.Start({"sim", "--inputs", "2", "--outputs", "1", "--seconds", "120"}));
    ASSERT_TRUE(sim.WaitFor("Running for")) << sim.out;
    const size_t at = sim.out.find("quarnel io --address 127.0.0.1 --port ") + 38;
    const std::string port = sim.out.substr(at, sim.out.find(' ', at) - at);

    Program io;
    ASSERT_TRUE(io.Start({"io", "--port", port, "--inputs", "2", "--outputs", "1", "--seconds", "120"}));
    ASSERT_TRUE(io.WaitFor("  input 1 inactive\n")) << io.out;
    EXPECT_NE(io.out.find("  device 127.0.0.1:" + port + ": 2 input(s), 1 output(s)\n"), std::string::npos);

    ASSERT_TRUE(sim.child.Write("in 2 on\n", 5000));
    ASSERT_TRUE(io.WaitFor("  input 1 active\n")) << io.out;
    ASSERT_TRUE(io.child.Write("out 0 on\n", 5000));
    ASSERT_TRUE(sim.WaitFor("alarm: relay 1 closed for 5 s (manual trigger)\n")) << sim.out;
    EXPECT_TRUE(io.WaitFor("  output 0 on\n")) << io.out;

    EXPECT_EQ(io.Stop(), 0) << io.out;
    EXPECT_NE(io.out.find("  I/O stopped\n"), std::string::npos) << io.out;
    EXPECT_EQ(sim.Stop(), 0) << sim.out;
}

TEST(IOCommand, BadOptionsGetAClearError) {
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"io", "--outputs", "1", "--set-output", "1=on"}, "--set-output: the device has 1 output(s)"},
        {{"io", "--outputs", "1", "--set-output", "0=maybe"}, "--set-output: '0=maybe' is not I=on or I=off"},
        {{"io", "--seconds", "0"}, "--seconds: '0' is not a number of seconds"},
        {{"io", "--seconds"}, "--seconds needs a value"},
        {{"io", "--frobnicate"}, "unknown option '--frobnicate'"},
        {{"sim", "--inputs", "65"}, "--inputs: '65' is not a number from 0 to 64"},
    };
    for (const auto& [args, message] : cases) {
        auto run = dravnel::platform::RunProgram(QUARNEL_BIN_DIR "/quarnel", args, 30000);
        EXPECT_EQ(run.exitCode, 2) << message;
        EXPECT_NE(run.output.find(message), std::string::npos) << run.output;
    }
}

}  // namespace
