#include "platform/ChildProcess.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <string>
#include <thread>

namespace dravnel::platform {
namespace {

std::string ReadAll(ChildProcess& child, uint32_t timeoutMs) {
    std::string text;
    uint8_t buffer[256];
    for (;;) {
        auto got = child.Read(buffer, timeoutMs);
        if (got.status != IoStatus::Ok) return text;
        text.append(reinterpret_cast<const char*>(buffer), got.bytes);
    }
}

TEST(ChildProcess, TalksOverItsInputAndReportPipe) {
    ChildProcess child;
    std::string error;
    // Echoes each input line back on descriptor 3.
    ASSERT_TRUE(child.Spawn({"/bin/sh", {"-c", "while read line; do echo \"got $line\" >&3; done"}}, error)) << error;
    ASSERT_TRUE(child.Write("one\ntwo\n", 1000));
    child.CloseInput();
    EXPECT_EQ(ReadAll(child, 2000), "got one\ngot two\n");
    EXPECT_TRUE(child.WaitExit(2000));
    EXPECT_EQ(child.ExitCode(), 0);
    EXPECT_FALSE(child.Running());
}

TEST(ChildProcess, OnlyTheChosenDescriptorsReachTheChild) {
    ChildProcess child;
    std::string error;
    // Descriptors 0, 1, 2 and 3 (and the directory listing itself) only.
    ASSERT_TRUE(child.Spawn({"/bin/sh", {"-c", "ls /proc/self/fd | wc -l >&3"}}, error)) << error;
    EXPECT_EQ(ReadAll(child, 2000), "5\n");
    EXPECT_TRUE(child.WaitExit(2000));
}

TEST(ChildProcess, WritingToAChildThatHasGoneFailsQuietly) {
    ChildProcess child;
    std::string error;
    ASSERT_TRUE(child.Spawn({"/bin/true", {}}, error)) << error;
    EXPECT_TRUE(child.WaitExit(2000));
    // No SIGPIPE ends this process; the write just fails.
    EXPECT_FALSE(child.Write(std::string(256 * 1024, 'x'), 500));
}

TEST(ChildProcess, KillEndsAChildThatIgnoresItsInput) {
    ChildProcess child;
    std::string error;
    ASSERT_TRUE(child.Spawn({"/bin/sleep", {"30"}}, error)) << error;
    child.CloseInput();
    EXPECT_FALSE(child.WaitExit(50));
    child.Kill();
    EXPECT_FALSE(child.Running());
    EXPECT_EQ(child.ExitCode(), 128 + SIGKILL);
}

TEST(ChildProcess, DiesWithTheThreadThatSpawnedIt) {
    ChildProcess child;
    std::thread spawner([&] {
        std::string error;
        ASSERT_TRUE(child.Spawn({"/bin/sleep", {"30"}}, error)) << error;
    });
    spawner.join();  // the spawning thread is gone without reaping
    EXPECT_TRUE(child.WaitExit(5000));
    EXPECT_EQ(child.ExitCode(), 128 + SIGKILL);
}

}  // namespace
}  // namespace dravnel::platform
