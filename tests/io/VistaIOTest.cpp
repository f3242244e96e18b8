// The Vista/Hitron I/O object against the simulated camera's alarm pages:
// both device generations, the output configuration steps, the event
// stream's faults, and a prompt, clean stop.
#include <dirent.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "io/CVistaIO.h"
#include "sim/device/AlarmDevice.h"
#include "sim/web/WebServer.h"
#include "tests/support/FakeDriver.h"
#include "tests/support/ThreadState.h"
#include "tests/support/WaitUntil.h"
#include "tools/host/IOCallback.h"

namespace {

using namespace std::chrono_literals;
using dravnel::kIOStateActive;
using dravnel::kIOStateInactive;
using dravnel::sim::AlarmDevice;
using dravnel::sim::AlarmRule;
using dravnel::test::WaitUntil;
using Changes = std::vector<std::pair<unsigned, int>>;
using Targets = std::vector<std::string>;

constexpr const char* kStream = "/stream/event_stream.php?ch=1&strm=1&alarm=1";

// What each descriptor of this process refers to, one a line.
std::string DescriptorTargets() {
    std::string text;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        text += "\n  " + entry.path().filename().string() + " -> " + std::filesystem::read_symlink(entry, ec).string();
    }
    return text;
}

// Threads of this process named as the I/O threads ("Digital Input thread
// (...)", "Digital Output thread (...)", cut to the OS's 15 characters).
size_t IOThreads() {
    size_t n = 0;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (dirent* entry = readdir(dir)) {
            std::ifstream comm(std::string("/proc/self/task/") + entry->d_name + "/comm");
            std::string name;
            std::getline(comm, name);
            n += name.rfind("Digital ", 0) == 0;
        }
        closedir(dir);
    }
    return n;
}

struct VistaIOTest : ::testing::Test {
    dravnel::sim::WebServer web;
    std::unique_ptr<AlarmDevice> alarms;
    dravnel::test::FakeDriver driver;
    dravnel::host::IOCallback callback;

    void SetUp() override { ASSERT_TRUE(web.Start(0)); }

    std::unique_ptr<dravnel::CVistaIO> Make(const char* mode, unsigned inputs, unsigned outputs,
                                            uint32_t httpTimeout = 5000) {
        alarms = std::make_unique<AlarmDevice>(web, inputs, outputs);
        alarms->SetKeepAlive(100);
        driver.device.Port = web.Port();
        driver.device.HttpTimeout = httpTimeout;
        driver.alarmInputs = inputs;
        driver.alarmOutputs = outputs;
        if (mode) driver.parameters[4] = mode;
        auto io = std::make_unique<dravnel::CVistaIO>(&driver);
        io->SetCallback(&callback);
        return io;
    }

    // Targets of the requests answered so far that begin with `prefix`.
    Targets Requests(const std::string& prefix) const {
        Targets found;
        for (const auto& entry : web.Log())
            if (entry.target.rfind(prefix, 0) == 0) found.push_back(entry.target);
        return found;
    }
    size_t StreamRequests() const { return Requests(kStream).size(); }
};

// A newer device from a factory-fresh state: the inputs are set up to report,
// the output's alarm output, trigger and rule are set up on the start's "off",
// every toggle reaches the host once, and "on" fires the trigger.
TEST_F(VistaIOTest, NewerDeviceIsSetUpAndItsInputsAndRelayWork) {
    auto io = Make("1", 2, 1);
    ASSERT_TRUE(io->StartIO());
    ASSERT_TRUE(callback.WaitForChanges(2, 5s));
    alarms->SetInput(1, true);
    ASSERT_TRUE(callback.WaitForChanges(3, 5s));
    alarms->SetInput(0, true);
    alarms->SetInput(1, false);
    ASSERT_TRUE(callback.WaitForChanges(5, 5s));
    EXPECT_EQ(callback.Changes(), (Changes{{0, kIOStateInactive},
                                           {1, kIOStateInactive},
                                           {1, kIOStateActive},
                                           {0, kIOStateActive},
                                           {1, kIOStateInactive}}));
    EXPECT_EQ(Requests("/event/alarm_in.php"),
              (Targets{"/event/alarm_in.php?app=get",
                       "/event/alarm_in.php?app=set&alarm_in_1_enable=1&alarm_in_1_type=NO&alarm_in_1_time=1"
                       "&alarm_in_2_enable=1&alarm_in_2_type=NO&alarm_in_2_time=1"}));

    EXPECT_TRUE(io->ChangeOutputState(0, kIOStateActive));
    ASSERT_TRUE(WaitUntil([&] { return alarms->TriggerCount() == 1; }));
    EXPECT_TRUE(alarms->Relay(0));
    EXPECT_TRUE(io->ChangeOutputState(0, kIOStateInactive));  // the relay opens by itself: nothing is sent
    EXPECT_TRUE(io->StopIO());
    Targets output;  // the output thread's requests, in order
    for (const auto& target : Requests("/event/"))
        if (target.rfind("/event/alarm_in.php", 0) != 0) output.push_back(target);
    const Targets expected{
        "/event/alarm_out.php?app=get",
        "/event/alarm_out.php?app=set&alarm_out_enable=1",
        "/event/trigger.php?app=get",
        "/event/trigger.php?app=set&trigger1_enable=1&trigger1_time=5",
        "/event/map.php?app=get",
        "/event/event_pop.php?app=get&method=add",
        "/event/event_pop.php?app=set&method=add&event_name=AlarmOut&event_out_smtp=0&event_out_smtp_en1=0"
        "&event_out_smtp_en2=0&event_out_smtp_en3=0&event_out_smtp_en4=0&event_out_smtp_en5=0&event_out_smtp_en6=0"
        "&event_out_smtp_en7=0&event_out_smtp_en8=0&event_out_smtp_title=&event_out_smtp_msg=&event_out_ftp=0"
        "&event_out_http=0&event_out_http_msg=&event_out_alarm=1&event_out_audio=0&event_out_audio_file=1"
        "&event_out_record=0&event_in_id=3",
        "/event/trigger.php?app=set&make_trigger=1",
    };
    EXPECT_EQ(output, expected);
    EXPECT_EQ(callback.FailureCount(), 0u);
    EXPECT_TRUE(driver.Lines().empty()) << driver.Lines()[0].text;
}

// The output configuration as each device group and prior rule make it.
TEST_F(VistaIOTest, OutputSetUpFollowsTheRuleThereIsAndTheTriggerFollowsTheMode) {
    struct Row {
        const char* name;
        const char* mode;
        std::vector<AlarmRule> rules;
        Targets requests;  // beyond the alarm output, trigger and map reads
    };
    const std::string params =
        "&event_name=AlarmOut&event_out_smtp=0&event_out_smtp_en1=0&event_out_smtp_en2=0&event_out_smtp_en3=0"
        "&event_out_smtp_en4=0&event_out_smtp_en5=0&event_out_smtp_en6=0&event_out_smtp_en7=0"
        "&event_out_smtp_en8=0&event_out_smtp_title=&event_out_smtp_msg=&event_out_ftp=0&event_out_http=0"
        "&event_out_http_msg=&event_out_alarm=1&event_out_audio=0&event_out_audio_file=1"
        "&event_out_preset=0&event_out_preset_num=1&event_out_preset_home=0&event_out_record=0&event_in_id=3";
    const Row rows[] = {
        {"mode 2, rule already AlarmOut",
         "2",
         {{"3", "Gate", "trigger(1)", "AlarmOut"}},
         {"/event/trigger.php?make_trigger=1"}},
        {"mode 3, rule that records",
         "3",
         {{"3", "Rec", "trigger(1)", "Record"}},
         {"/event/event_pop.php?app=get&method=modify&event_in_id=3",
          "/event/event_pop.php?app=set&method=modify" + params, "/event/trigger.php?app=set&make_trigger=1"}},
        {"group 5 fires nothing", "5", {{"3", "Gate", "trigger(1)", "AlarmOut"}}, {}},
        {"no parameter 4 counts as 1",
         nullptr,
         {{"3", "Gate", "trigger(1)", "AlarmOut"}},
         {"/event/trigger.php?app=set&make_trigger=1"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        driver.parameters.clear();
        auto io = Make(row.mode, 0, 1);
        auto settings = alarms->Settings();
        settings.alarmOutEnable = settings.triggerEnable = settings.presetUse = true;
        settings.rules = row.rules;
        alarms->SetSettings(settings);
        web.ClearLog();
        EXPECT_TRUE(io->SetOutputState(0, kIOStateInactive));
        EXPECT_TRUE(io->SetOutputState(0, kIOStateActive));
        Targets expected{"/event/alarm_out.php?app=get", "/event/trigger.php?app=get", "/event/map.php?app=get"};
        expected.insert(expected.end(), row.requests.begin(), row.requests.end());
        EXPECT_EQ(Requests("/event/"), expected);
        EXPECT_EQ(alarms->Relay(0), !row.requests.empty());
    }
}

TEST_F(VistaIOTest, AReplyWithoutRes200FailsTheStepAndIsLogged) {
    auto io = Make("1", 1, 1);
    alarms->SetBadResult(true);
    ASSERT_TRUE(io->StartIO());
    ASSERT_TRUE(WaitUntil([&] { return callback.FailureCount() >= 2; }));
    EXPECT_TRUE(io->StopIO());
    const std::string device = "Device 127.0.0.1:" + std::to_string(web.Port());
    for (const std::string& line :
         {"dravnel::CVistaIO::RequestGet_AlarmOut: " + device +
              " unable to process request \"/event/alarm_out.php?app=get\", result code = 400",
          "dravnel::CVistaIO::RequestGet_AlarmIn: " + device +
              " unable to process request \"/event/alarm_in.php?app=get\", result code = 400",
          std::string("dravnel::CIOBase::MonitorInputStatesWrapper: GetInputStates() method failed! ") + device,
          std::string("dravnel::CIOBase::SetOutputStateWrapper: Unable to change output state for device ") +
              device.substr(7) + " (output index 0)"}) {
        const auto found = driver.LinesContaining(line);
        ASSERT_FALSE(found.empty()) << line;
        EXPECT_EQ(found[0].level, dravnel::kLevelError);
    }
    EXPECT_EQ(StreamRequests(), 0u);
}

// Older devices: no input thread, the alarm bits come from the video channel,
// and the output is the mandatory output of "/admin/event.html".
TEST_F(VistaIOTest, OlderDeviceTakesAlarmBitsAndSwitchesTheMandatoryOutput) {
    auto io = Make("0", 2, 1);
    ASSERT_TRUE(io->StartIO());
    EXPECT_FALSE(io->IsRunning());
    ASSERT_TRUE(WaitUntil([&] { return Requests("/admin/").size() == 1; }));
    io->ChangeOutputState(0, kIOStateActive);
    ASSERT_TRUE(WaitUntil([&] { return alarms->Relay(0); }));
    io->ChangeOutputState(0, kIOStateInactive);
    ASSERT_TRUE(WaitUntil([&] { return !alarms->Relay(0); }));
    EXPECT_EQ(Requests("/admin/"), (Targets{"/admin/event.html?app=set&mandatory_out_enable=1&mandatory_out_mode=0",
                                            "/admin/event.html?app=set&mandatory_out_enable=1&mandatory_out_mode=1",
                                            "/admin/event.html?app=set&mandatory_out_enable=1&mandatory_out_mode=0"}));

    dravnel::CVistaIOCallback* bits = io.get();
    bits->OnAlarmBits(0x2);
    bits->OnAlarmBits(0x2);
    bits->OnAlarmBits(0xFFFFFFFD);
    EXPECT_EQ(callback.Changes(),
              (Changes{{0, kIOStateInactive}, {1, kIOStateActive}, {0, kIOStateActive}, {1, kIOStateInactive}}));
    EXPECT_TRUE(io->StopIO());
    EXPECT_EQ(StreamRequests(), 0u);
}

// A stream that ends or goes silent is opened again; the change it missed
// arrives with the next connection's first message, once.
TEST_F(VistaIOTest, AStreamThatEndsOrStallsIsReopenedWithoutLosingOrRepeatingAChange) {
    struct Row {
        const char* name;
        void (AlarmDevice::*fault)();
    };
    for (const Row& row : {Row{"cut", &AlarmDevice::CutStreams}, Row{"stall", &AlarmDevice::StallStreams}}) {
        SCOPED_TRACE(row.name);
        dravnel::host::IOCallback rowCallback;
        web.ClearLog();
        auto io = Make("1", 1, 0, 600);
        io->SetCallback(&rowCallback);
        auto& callback = rowCallback;
        ASSERT_TRUE(io->StartIO());
        ASSERT_TRUE(callback.WaitForChanges(1, 5s));
        ASSERT_EQ(StreamRequests(), 1u);
        ((*alarms).*row.fault)();
        alarms->SetInput(0, true);
        ASSERT_TRUE(callback.WaitForChanges(2, 5s));
        ASSERT_TRUE(WaitUntil([&] { return StreamRequests() >= 2; }));
        alarms->SetInput(0, false);
        ASSERT_TRUE(callback.WaitForChanges(3, 5s));
        EXPECT_TRUE(io->StopIO());
        EXPECT_EQ(callback.Changes(), (Changes{{0, kIOStateInactive}, {0, kIOStateActive}, {0, kIOStateInactive}}));
        EXPECT_EQ(callback.FailureCount(), 0u);
    }
}

TEST_F(VistaIOTest, StopWhileTheStreamIsReadIsPromptAndLeavesNothingOpen) {
    // A stop that waited for the device would take the whole HTTP time-out;
    // the bound below leaves a loaded machine a wide margin under it.
    auto io = Make("1", 1, 1, 60000);
    const size_t descriptors = dravnel::test::DescriptorCount();
    ASSERT_TRUE(io->StartIO());
    ASSERT_TRUE(callback.WaitForChanges(1, 5s));
    ASSERT_TRUE(WaitUntil([&] { return alarms->Settings().rules.size() == 1; }));
    EXPECT_EQ(IOThreads(), 2u);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(io->StopIO());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 20s);
    EXPECT_FALSE(io->IsRunning());
    // The server in this process closes its ends once it sees ours closed
    // (the bounds only cap a failing run).
    EXPECT_TRUE(WaitUntil([&] { return alarms->OpenStreams() == 0; }, 20s));
    EXPECT_TRUE(WaitUntil([&] { return dravnel::test::DescriptorCount() == descriptors; }, 20s))
        << descriptors << " descriptors before, now:" << DescriptorTargets();
    EXPECT_EQ(IOThreads(), 0u);
    EXPECT_EQ(callback.FailureCount(), 0u);
    EXPECT_TRUE(driver.Lines().empty()) << driver.Lines()[0].text;
}

}  // namespace
