// The capability query as a host runs it, against the simulated camera's
// identities: what each is taken for, the failures with their messages, one
// query per module, and a Terminate that ends a slow query at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "platform/Event.h"
#include "properties/CCapabilityQueryModule.h"
#include "properties/CapabilityQueryExports.h"
#include "sim/device/SimCamera.h"
#include "tests/sim/SimTestSupport.h"
#include "tools/host/CapabilityRecorder.h"

namespace {

using dravnel::CCapabilityQueryModule;
using dravnel::host::CapabilityRecorder;
using dravnel::sim::DeviceProfile;
using dravnel::sim::IdentityProfile;
using dravnel::sim::SimCamera;
using dravnel::sim::SimCameraOptions;
using Outcome = CapabilityRecorder::Outcome;
using Module = std::unique_ptr<dravnel::ipcapture::IIPCapabilityQuery>;

// Far beyond any query against the local camera; only a hung query reaches it.
constexpr std::chrono::milliseconds kQueryBound{30000};

Module NewModule(CapabilityRecorder& recorder, bool ntsc = false) {
    return Module(dravnel::capability::CreateModule(&recorder, ntsc ? 1 : 0));
}

bool HasCapability(const CapabilityRecorder& recorder, uint32_t id, uint32_t value) {
    const auto all = recorder.capabilities();
    return std::find(all.begin(), all.end(), std::make_pair(id, value)) != all.end();
}

std::string Property(const CapabilityRecorder& recorder, const std::string& name) {
    for (const auto& p : recorder.properties())
        if (p.name == name) return p.value;
    return "(absent)";
}

SimCameraOptions Camera(IdentityProfile identity, DeviceProfile profile, std::string model) {
    SimCameraOptions options;
    options.identity = identity;
    options.profile = profile;
    options.model = std::move(model);
    options.rtspExecutable = dravnel::test::kSimRtspExecutable;
    return options;
}

TEST(CapabilityQuery, EachSimulatedIdentityIsWhatItSays) {
    struct Row {
        const char* name;
        SimCameraOptions camera;
        std::string deviceName;
        std::string group;              // driver parameter 4
        std::string codecCapabilities;  // of 6, 7 and 8, those given
        bool ptz;
    };
    std::vector<Row> rows = {
        {"group 1 with I/O and PTZ", Camera(IdentityProfile::Group1, DeviceProfile::Standard, "QSIM-100"),
         "Vista QSIM-100", "1", "8 6", true},
        {"group 2 NTSC", Camera(IdentityProfile::Group2, DeviceProfile::ModelB, "QSIM-2M"), "Hitron QSIM-2M", "2", "8",
         false},
        {"group 3", Camera(IdentityProfile::Group3, DeviceProfile::Standard, "QSIM-300"), "Vista QSIM-300", "3", "8 6",
         false},
        {"older firmware", Camera(IdentityProfile::Older, DeviceProfile::Standard, "eSS540"), "Hitron HNCB-F1SN", "0",
         "6", false},
    };
    rows[0].camera.inputs = 3;
    rows[0].camera.outputs = 1;
    rows[0].camera.ptz = true;
    rows[1].camera.ntsc = true;
    rows[3].camera.inputs = 2;
    for (Row* row : {&rows[1], &rows[2]}) row->camera.inputs = row->camera.outputs = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SimCamera camera(row.camera);
        ASSERT_TRUE(camera.Start()) << camera.LastError();
        CapabilityRecorder recorder;
        Module module = NewModule(recorder, row.camera.ntsc);
        ASSERT_TRUE(module->Start("127.0.0.1", camera.WebPort(), "admin", "admin", &recorder));
        ASSERT_TRUE(recorder.WaitForOutcome(kQueryBound));
        ASSERT_EQ(recorder.outcome(), Outcome::Completed) << recorder.failureMessage();
        EXPECT_EQ(recorder.deviceName(), row.deviceName);
        EXPECT_EQ(Property(recorder, "OEM Device Group"), row.group);
        EXPECT_EQ(Property(recorder, "Device Video Standard"), row.camera.ntsc ? "1" : "0");
        EXPECT_EQ(Property(recorder, "Device RTSP Port"), std::to_string(camera.RtspPort()));
        EXPECT_EQ(Property(recorder, "Firmware Version"), "1.0.0");
        for (uint32_t codec : {6u, 7u, 8u}) {
            const bool expected = row.codecCapabilities.find(std::to_string(codec)) != std::string::npos;
            EXPECT_EQ(HasCapability(recorder, codec, 1), expected) << codec;
        }
        EXPECT_TRUE(HasCapability(recorder, 0, 1));
        EXPECT_EQ(HasCapability(recorder, 2, row.camera.inputs), row.camera.inputs != 0);
        EXPECT_EQ(HasCapability(recorder, 3, 1), row.camera.outputs != 0);
        EXPECT_EQ(HasCapability(recorder, 1, 1), row.ptz);
        EXPECT_EQ(Property(recorder, "Has Device-PTZ Options"), row.ptz ? "1" : "0");
        EXPECT_FALSE(recorder.resolutions().empty());
        EXPECT_FALSE(recorder.frameRates().empty());
        module.reset();
        EXPECT_EQ(recorder.outcomeCount(), 1u);
    }
}

TEST(CapabilityQuery, FailuresCarryTheirReasonAndMessage) {
    SimCameraOptions options = Camera(IdentityProfile::Group1, DeviceProfile::Standard, "QSIM-100");
    options.webAuth = dravnel::sim::WebAuth::Digest;
    SimCamera camera(options);
    ASSERT_TRUE(camera.Start()) << camera.LastError();
    camera.Video().Set(1, 1, "fps_list", "auto");  // no frame rate the host can take
    struct Row {
        const char* name;
        std::string address, password;
        uint32_t reason;
        std::string message;
    };
    const Row rows[] = {
        {"wrong password", "127.0.0.1", "nope", 1,
         "Failed to get camera properties, login failed (invalid credentials)"},
        {"empty password", "127.0.0.1", "", 1, "Failed to get camera properties, login failed (invalid credentials)"},
        {"':' in the address", "cam:80", "admin", 3, CCapabilityQueryModule::kMessageInvalidAddress},
        {"'?' in the address", "127.0.0.1?", "admin", 3, CCapabilityQueryModule::kMessageInvalidAddress},
        {"no usable frame rate", "127.0.0.1", "admin", 3, CCapabilityQueryModule::kMessageSaveFailed},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CapabilityRecorder recorder;
        Module module = NewModule(recorder);
        ASSERT_TRUE(module->Start(row.address.c_str(), camera.WebPort(), "admin", row.password.c_str(), &recorder));
        ASSERT_TRUE(recorder.WaitForOutcome(kQueryBound));
        EXPECT_EQ(recorder.outcome(), Outcome::Failed);
        EXPECT_EQ(recorder.failureReason(), row.reason);
        EXPECT_EQ(recorder.failureMessage(), row.message);
    }
    // Nothing asked for "/config.txt" with refused credentials.
    for (const auto& entry : camera.Web().Log()) EXPECT_FALSE(entry.target == "/config.txt" && entry.status != 200);
}

TEST(CapabilityQuery, OneQueryPerModuleAndOneModuleOfTheLibrarys) {
    CapabilityRecorder first, second;
    Module module = NewModule(first);
    EXPECT_FALSE(module->Start("127.0.0.1", 1, "admin", nullptr, &first));
    ASSERT_TRUE(module->Start("127.0.0.1", 1, "admin", "admin", &first));  // nobody listens on port 1
    EXPECT_FALSE(module->Start("127.0.0.1", 1, "admin", "admin", &first));
    ASSERT_TRUE(first.WaitForOutcome(kQueryBound));
    EXPECT_EQ(first.failureReason(), 3u);
    EXPECT_EQ(first.failureMessage(), "Failed to get camera properties");
    EXPECT_FALSE(module->Start("127.0.0.1", 1, "admin", "admin", &first));  // a module serves one query in its life
    module.reset();

    namespace exports = dravnel::capability;
    CapabilityRecorder results;
    EXPECT_EQ(exports::Start("127.0.0.1", 1, "a", "b", &results), 0);  // no module yet
    EXPECT_EQ(exports::Terminate(), 1);
    ASSERT_EQ(exports::Init(&second, 0), 1);
    EXPECT_EQ(exports::Init(&first, 0), 0);
    EXPECT_EQ(exports::Start("127.0.0.1", 1, "a", nullptr, &results), 0);
    EXPECT_EQ(exports::Start("127.0.0.1", 1, "a", "b", &results), 1);
    ASSERT_TRUE(second.WaitForOutcome(kQueryBound));  // the first module's sink hears of it
    EXPECT_EQ(exports::Uninit(), 1);
    EXPECT_EQ(exports::Start("127.0.0.1", 1, "a", "b", &results), 0);
    EXPECT_EQ(first.outcomeCount() + second.outcomeCount(), 2u);
}

// A host that ends the query from its own callback: Terminate, then delete,
// on the query thread. The thread then touches nothing of the module.
TEST(CapabilityQuery, TheHostMayDeleteTheModuleFromItsCallback) {
    struct DeletingSink : CapabilityRecorder {
        dravnel::ipcapture::IIPCapabilityQuery* module = nullptr;
        void OnQueryFailed(uint32_t reason, const char* message) override {
            module->Terminate();
            delete module;
            CapabilityRecorder::OnQueryFailed(reason, message);
        }
    };
    // Static: the detached query thread may still be on its way out of the
    // callback when the outcome is seen here.
    static DeletingSink sink;
    sink.module = dravnel::capability::CreateModule(&sink, 0);
    ASSERT_TRUE(sink.module->Start("127.0.0.1", 1, "admin", "admin", &sink));
    ASSERT_TRUE(sink.WaitForOutcome(kQueryBound));
    EXPECT_EQ(sink.outcomeCount(), 1u);
}

// The camera holds "/config.txt" until released; a query waiting for it is
// ended by Terminate (the module kept) or by deleting the module, either way
// long before the camera answers or the sender's own time-out, with one outcome
// and no further request.
TEST(CapabilityQuery, TerminateEndsASlowProbeAtOnceWithOneOutcome) {
    SimCamera camera(Camera(IdentityProfile::Group1, DeviceProfile::Standard, "QSIM-100"));
    ASSERT_TRUE(camera.Start()) << camera.LastError();
    auto arrived = std::make_shared<dravnel::platform::Event>(dravnel::platform::Event::Mode::Auto);
    auto release = std::make_shared<dravnel::platform::Event>(dravnel::platform::Event::Mode::Manual);
    camera.Web().SetPage("/config.txt", [arrived, release](const dravnel::sim::WebPageRequest&) {
        arrived->Set();
        release->Wait(20000);
        dravnel::sim::WebPageReply reply;
        reply.status = 404;
        return reply;
    });
    // Less than the sender's 5 s idle time-out: only Terminate can end the request this soon.
    constexpr uint32_t kPromptMs = 3000;
    for (const bool deleteInstead : {false, true}) {
        SCOPED_TRACE(deleteInstead ? "module deleted" : "Terminate");
        camera.Web().ClearLog();
        CapabilityRecorder recorder;
        Module module = NewModule(recorder);
        ASSERT_TRUE(module->Start("127.0.0.1", camera.WebPort(), "admin", "admin", &recorder));
        ASSERT_TRUE(arrived->Wait(10000));
        if (deleteInstead) {
            module.reset();  // waits for the thread
            EXPECT_NE(recorder.outcome(), Outcome::None);
        } else {
            module->Terminate();
            ASSERT_TRUE(recorder.WaitForOutcome(std::chrono::milliseconds(kPromptMs)));
        }
        EXPECT_EQ(recorder.outcome(), Outcome::Failed);
        EXPECT_EQ(recorder.failureReason(), 3u);
        EXPECT_EQ(recorder.failureMessage(), "Failed to get camera properties");
        module.reset();
        EXPECT_EQ(recorder.outcomeCount(), 1u);
        for (const auto& entry : camera.Web().Log())
            EXPECT_TRUE(entry.target == "/system/user.php?app=get" || entry.target == "/config.txt") << entry.target;
    }
    release->Set();
}

}  // namespace
