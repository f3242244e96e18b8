// The device-independent I/O object: which threads a start runs, how output
// requests become device requests, how inputs and failures reach the host,
// and how a stop ends a device request that blocks.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <utility>
#include <vector>

#include "io/CIOBase.h"
#include "platform/Event.h"
#include "tests/support/FakeDriver.h"
#include "tests/support/WaitUntil.h"
#include "tools/host/IOCallback.h"

namespace {

using namespace std::chrono_literals;
using dravnel::kIOStateActive;
using dravnel::kIOStateInactive;
using dravnel::kIOStateUnknown;
using dravnel::test::WaitUntil;
using Changes = std::vector<std::pair<unsigned, int>>;

// A device whose output requests are recorded (and fail on demand) and whose
// input reading hands out scripted readings, then blocks until stopped or
// released.
class ScriptedIO : public dravnel::CIOBase {
public:
    ScriptedIO(dravnel::test::FakeDriver* driver, bool monitor) : CIOBase(driver, monitor) {}
    ~ScriptedIO() override { StopIO(); }

    bool SetOutputState(unsigned index, int state) override {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.emplace_back(index, state);
        return !failOutputs_;
    }

    // Each call applies the next reading and then waits: for the stop (true),
    // or for a Fail (false).
    bool GetInputStates() override {
        Changes reading;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++readings_;
            if (!script_.empty()) {
                reading = script_.front();
                script_.erase(script_.begin());
            }
        }
        for (const auto& [index, state] : reading) UpdateInputState(index, state);
        dravnel::platform::Event* events[] = {release_.Handle(), abort_.Handle()};
        dravnel::platform::WaitAny(std::span<dravnel::platform::Event* const>(events, 2), dravnel::platform::kInfinite);
        return abort_.IsSet();
    }

    void AbortRequests() override { abort_.Set(); }
    void ResetConfiguration() override { abort_.Reset(); }

    void Script(std::vector<Changes> readings) {
        std::lock_guard<std::mutex> lock(mutex_);
        script_ = std::move(readings);
    }
    void FailReading() { release_.Set(); }
    void FailOutputs(bool fail) {
        std::lock_guard<std::mutex> lock(mutex_);
        failOutputs_ = fail;
    }
    Changes Requests() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }
    int Readings() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return readings_;
    }
    using CIOBase::UpdateInputState;

private:
    mutable std::mutex mutex_;
    Changes requests_;
    std::vector<Changes> script_;
    int readings_ = 0;
    bool failOutputs_ = false;
    dravnel::CEvent release_;
    dravnel::CManualEvent abort_;
};

struct IOBaseTest : ::testing::Test {
    dravnel::test::FakeDriver driver;
    dravnel::host::IOCallback callback;

    std::unique_ptr<ScriptedIO> Make(uint32_t inputs, uint32_t outputs, bool monitor = true) {
        driver.alarmInputs = inputs;
        driver.alarmOutputs = outputs;
        auto io = std::make_unique<ScriptedIO>(&driver, monitor);
        io->SetCallback(&callback);
        return io;
    }
};

TEST_F(IOBaseTest, StartRunsOnlyTheThreadsTheDeviceNeedsAndSwitchesEveryOutputOff) {
    struct Row {
        const char* name;
        uint32_t inputs, outputs;
        bool monitor;
        bool inputThread;
        Changes startRequests;
    };
    const Row rows[] = {
        {"nothing", 0, 0, true, false, {}},
        {"outputs only", 0, 2, true, false, {{0, kIOStateInactive}, {1, kIOStateInactive}}},
        {"inputs only", 3, 0, true, true, {}},
        {"inputs, not monitored", 3, 1, false, false, {{0, kIOStateInactive}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto io = Make(row.inputs, row.outputs, row.monitor);
        EXPECT_TRUE(io->StartIO());
        EXPECT_EQ(io->IsRunning(), row.inputThread);
        // The output thread sends each off before the next host request.
        io->ChangeOutputState(99, kIOStateActive);
        ASSERT_TRUE(WaitUntil([&] { return io->Requests().size() >= row.startRequests.size(); }));
        if (row.inputThread) {
            ASSERT_TRUE(WaitUntil([&] { return io->Readings() == 1; }));
        }
        EXPECT_TRUE(io->StopIO());
        EXPECT_EQ(io->Requests(), row.startRequests);
        EXPECT_FALSE(io->IsRunning());
        EXPECT_EQ(io->Readings(), row.inputThread ? 1 : 0);
        EXPECT_TRUE(driver.Lines().empty()) << driver.Lines()[0].text;
    }
}

TEST_F(IOBaseTest, OnlyChangesOfAKnownOutputReachTheDevice) {
    auto io = Make(0, 2);
    ASSERT_TRUE(io->StartIO());
    for (auto [index, state] : Changes{{0, kIOStateActive},
                                       {0, kIOStateActive},
                                       {5, kIOStateActive},
                                       {0, kIOStateInactive},
                                       {1, kIOStateInactive},
                                       {1, kIOStateActive}})
        EXPECT_TRUE(io->ChangeOutputState(index, state));
    const Changes expected{
        {0, kIOStateInactive}, {1, kIOStateInactive}, {0, kIOStateActive}, {0, kIOStateInactive}, {1, kIOStateActive}};
    ASSERT_TRUE(WaitUntil([&] { return io->Requests().size() >= expected.size(); }));
    EXPECT_TRUE(io->StopIO());
    EXPECT_EQ(io->Requests(), expected);
    EXPECT_TRUE(callback.Changes().empty());
    EXPECT_EQ(callback.FailureCount(), 0u);
    // Stopped: requests are refused, nothing more is sent.
    EXPECT_FALSE(io->ChangeOutputState(0, kIOStateActive));
}

// A failing switch resets every state to unknown, so the next reading of the
// inputs reports them all again; the failure is logged once per run of them.
TEST_F(IOBaseTest, AFailedSwitchReportsEveryInputAgainAndLogsOncePerRun) {
    auto io = Make(2, 1, false);
    EXPECT_FALSE(io->SetCallback(nullptr));  // the callback below keeps hearing
    ASSERT_TRUE(io->StartIO());
    io->UpdateInputState(0, kIOStateActive);
    io->UpdateInputState(1, kIOStateInactive);
    io->UpdateInputState(1, kIOStateInactive);
    io->UpdateInputState(7, kIOStateActive);
    ASSERT_TRUE(WaitUntil([&] { return io->Requests().size() == 1; }));

    io->FailOutputs(true);
    io->ChangeOutputState(0, kIOStateActive);
    ASSERT_TRUE(WaitUntil([&] { return callback.FailureCount() == 1; }));
    io->ChangeOutputState(0, kIOStateActive);  // unknown again, so sent again, and failing again
    ASSERT_TRUE(WaitUntil([&] { return callback.FailureCount() == 2; }));
    const std::string message =
        "dravnel::CIOBase::SetOutputStateWrapper: Unable to change output state for device "
        "127.0.0.1:80 (output index 0)";
    EXPECT_EQ(driver.CountContaining(message), 1u);

    io->UpdateInputState(0, kIOStateActive);
    io->UpdateInputState(1, kIOStateInactive);
    EXPECT_EQ(callback.Changes(),
              (Changes{{0, kIOStateActive}, {1, kIOStateInactive}, {0, kIOStateActive}, {1, kIOStateInactive}}));
    EXPECT_EQ(io->InputStates().at(0), kIOStateActive);

    // A switch that works again re-arms the message.
    io->FailOutputs(false);
    io->ChangeOutputState(0, kIOStateInactive);
    ASSERT_TRUE(WaitUntil([&] { return io->Requests().size() == 4; }));
    io->FailOutputs(true);
    io->ChangeOutputState(0, kIOStateActive);
    ASSERT_TRUE(WaitUntil([&] { return callback.FailureCount() == 3; }));
    EXPECT_TRUE(driver.WaitFor(message, 5s, 2));
    EXPECT_TRUE(io->StopIO());
    for (const auto& [index, state] : io->OutputStates()) EXPECT_EQ(state, kIOStateUnknown) << index;
}

// A failed reading resets the states (the same state is news again after
// the thread's pause) and is logged once until a reading finds an input.
TEST_F(IOBaseTest, FailedReadingsAreReportedAndLoggedOncePerRun) {
    auto io = Make(2, 0);
    io->Script({{{0, kIOStateActive}, {1, kIOStateInactive}}, {{0, kIOStateActive}}, {}});
    ASSERT_TRUE(io->StartIO());
    ASSERT_TRUE(callback.WaitForChanges(2, 5s));
    io->FailReading();
    ASSERT_TRUE(callback.WaitForChanges(3, 5s));
    io->FailReading();  // logged again: the second reading found an input
    ASSERT_TRUE(WaitUntil([&] { return io->Readings() == 3; }));
    io->FailReading();  // not logged: the third reading found none
    ASSERT_TRUE(WaitUntil([&] { return io->Readings() == 4; }));
    EXPECT_TRUE(io->StopIO());
    EXPECT_EQ(callback.Changes(), (Changes{{0, kIOStateActive}, {1, kIOStateInactive}, {0, kIOStateActive}}));
    EXPECT_EQ(callback.FailureCount(), 3u);
    EXPECT_EQ(driver.CountContaining("dravnel::CIOBase::MonitorInputStatesWrapper: GetInputStates() method failed! "
                                     "Device 127.0.0.1:80"),
              2u);
}

TEST_F(IOBaseTest, StopEndsAReadingThatBlocksAndStartsAgainCleanly) {
    auto io = Make(1, 1);
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        ASSERT_TRUE(io->StartIO());
        ASSERT_TRUE(WaitUntil([&] { return io->Readings() == run + 1; }));
        EXPECT_TRUE(io->StopIO());
        EXPECT_FALSE(io->IsRunning());
    }
    EXPECT_EQ(callback.FailureCount(), 0u);  // a stop is no failure
    EXPECT_TRUE(driver.Lines().empty()) << driver.Lines()[0].text;
}

}  // namespace
