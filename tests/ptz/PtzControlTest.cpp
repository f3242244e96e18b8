// The host's side: the handler hands out controls, the controls check,
// queue and remember what they started; and a driver restart keeps presets.
#include <gtest/gtest.h>

#include <cstring>

#include "ptz/CBasePTZHandler.h"
#include "tests/ptz/PtzCamera.h"
#include "tests/support/OpenDriver.h"

using dravnel::CVistaPTZHandler;
using dravnel::IIPPTZApiEx;
using dravnel::test::PtzCamera;

namespace {

constexpr uint32_t kWaitMs = 5000;

// The queries a control's calls sent. A marker queued behind them, past the
// control (so no motion flag changes), closes the batch: once the camera has
// it, it has seen everything queued before.
std::vector<std::string> SentBy(PtzCamera& camera, IIPPTZApiEx* control, const std::function<void()>& calls) {
    const std::string marker = "&pspd=8&move=left";  // the tests' moves stay below speed 15
    camera.ptz.ClearCommands();
    calls();
    auto* comm = static_cast<dravnel::CBasePTZControl*>(control)->Comm();
    EXPECT_TRUE(comm->SendMessage("marker", dravnel::MSG_PTZ_MOVE, 0, 16, nullptr, dravnel::kPtzLeft, 0, 0));
    EXPECT_TRUE(dravnel::test::WaitUntil([&] {
        const auto q = camera.Queries();
        return !q.empty() && q.back() == marker;
    }));
    auto queries = camera.Queries();
    queries.pop_back();
    return queries;
}

}  // namespace

// Controls exist per channel and only while they can work: none for a device
// without PTZ channels or without a preset file name (both messages on each
// request); the same control for the same channel.
TEST(PtzHandler, HandsOutOneControlPerChannel) {
    PtzCamera camera;
    ASSERT_TRUE(camera.started);
    CVistaPTZHandler none(&camera.driver, 0);
    EXPECT_EQ(none.GetPTZApiEx(0), nullptr);

    CVistaPTZHandler handler(&camera.driver, 2);
    IIPPTZApiEx* first = handler.GetPTZApiEx(0);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(handler.GetPTZApiEx(0), first);
    EXPECT_EQ(handler.GetPTZApi(0), first);
    EXPECT_NE(handler.GetPTZApiEx(1), first);
    EXPECT_EQ(handler.GetPTZApiEx(2), nullptr);
    EXPECT_TRUE(first->QueryFeature(1));
    EXPECT_FALSE(first->QueryFeature(2));
    EXPECT_TRUE(camera.driver.Lines().empty());

    camera.driver.parameters[8] = "(none)";
    CVistaPTZHandler unnamed(&camera.driver, 2);
    for (int attempt = 0; attempt < 2; ++attempt) EXPECT_EQ(unnamed.GetPTZApiEx(0), nullptr);
    const auto lines = camera.driver.Lines();
    ASSERT_EQ(lines.size(), 4u);
    for (int i = 0; i < 4; i += 2) {
        EXPECT_EQ(lines[i].text,
                  "dravnel::CVistaPTZHandler::GetXMLStorageFileName: PTZ handler for device "
                  "127.0.0.1 is not created!");
        EXPECT_EQ(lines[i + 1].text,
                  "dravnel::CBasePTZHandler::InitializeXMLStorage: PTZ module cannot be "
                  "initialized! Name of file for preset storing was not defined");
        EXPECT_EQ(lines[i + 1].level, dravnel::kLevelError);
    }

    // A file that cannot be opened is retried on the next request.
    camera.driver.ClearLines();
    camera.driver.parameters[8] = camera.directory.File("later/cam.preset");
    CVistaPTZHandler retried(&camera.driver, 1);
    EXPECT_EQ(retried.GetPTZApiEx(0), nullptr);
    EXPECT_EQ(camera.driver.CountContaining("cannot initialize CXMLPrepositionReader object with parameter \"" +
                                            camera.driver.parameters[8] + "\""),
              1u);
    std::filesystem::create_directory(camera.directory.File("later"));
    EXPECT_NE(retried.GetPTZApiEx(0), nullptr);
}

// Repeated moves are absorbed, Stop ends what was started, in its order, and
// resets the repeat rule only after a pan or tilt.
TEST(PtzControl, VistaRepeatsAndStops) {
    PtzCamera camera;
    ASSERT_TRUE(camera.started);
    CVistaPTZHandler handler(&camera.driver, 1);
    IIPPTZApiEx* c = handler.GetPTZApiEx(0);
    ASSERT_NE(c, nullptr);
    using V = std::vector<std::string>;

    EXPECT_EQ(c->Move(10, 1), dravnel::PTZ_OK);  // a repeat of the initial "no direction"
    EXPECT_EQ(c->Move(10, 5), dravnel::PTZ_E_INVALIDARG);
    EXPECT_EQ(SentBy(camera, c, [&] { c->Stop(); }), V{});  // nothing started

    EXPECT_EQ(SentBy(camera, c, [&] { c->Move(0, 5), c->Move(0, 6); }), V{"&pspd=3&move=left"});
    EXPECT_EQ(SentBy(camera, c, [&] { c->Stop(); }), V{"&move=stop"});
    EXPECT_EQ(SentBy(camera, c, [&] { c->Move(0, 5), c->Move(0, 7); }), (V{"&pspd=3&move=left", "&pspd=4&move=left"}));
    EXPECT_EQ(SentBy(camera, c, [&] { c->Move(1, 7); }), V{"&pspd=4&move=right"});
    EXPECT_EQ(SentBy(camera, c, [&] { c->Move(1, 0); }), V{"&move=stop"});  // speed 0 is a Stop
    EXPECT_EQ(SentBy(camera, c, [&] { c->Move(11, 3); }), V{});             // queued, never sent
    EXPECT_EQ(SentBy(camera, c, [&] { c->Stop(); }), V{"&move=stop"});      // yet counted as a pan

    // After a zoom the last direction stays: the same zoom again is absorbed.
    EXPECT_EQ(SentBy(camera, c, [&] { c->Move(8, 5), c->Stop(), c->Move(8, 5), c->Stop(); }),
              (V{"&zoom=tele", "&zoom=stop"}));

    // One Stop for zoom and focus: zoom first, then focus.
    EXPECT_EQ(SentBy(camera, c, [&] { c->ZoomIn(5), c->FocusFar(5), c->Stop(), c->Stop(); }),
              (V{"&zoom=tele", "&focus=far", "&zoom=stop", "&focus=stop"}));
    EXPECT_EQ(SentBy(camera, c, [&] { c->IrisOpen(2), c->ZoomOut(2), c->Stop(); }),
              (V{"&iris=open", "&zoom=wide", "&zoom=stop", "&iris=stop"}));
    EXPECT_EQ(SentBy(camera, c, [&] { c->Center(1, 2, 3), c->AreaZoom(1, 2, 3, 4), c->Unzoom(1); }), V{});
    EXPECT_EQ(camera.driver.CountContaining("dravnel::CVistaPTZComm::HandleWorkItem: Unexpected command type (6)"), 1u);
}

// What the host reads: capabilities, preset names under the buffer rule,
// -19 for what the camera cannot do, and availability.
TEST(PtzControl, InfoPresetsAndCapabilities) {
    dravnel::CPtzCapabilities panOnly;
    panOnly.pan = true;
    panOnly.presetCount = 4;
    PtzCamera camera(panOnly);
    ASSERT_TRUE(camera.started);
    CVistaPTZHandler handler(&camera.driver, 1);
    IIPPTZApiEx* c = handler.GetPTZApiEx(0);
    ASSERT_NE(c, nullptr);

    EXPECT_EQ(c->ZoomIn(5), dravnel::PTZ_E_NOTSUPPORTED);
    EXPECT_EQ(c->ZoomOut(5), dravnel::PTZ_E_NOTSUPPORTED);
    EXPECT_EQ(c->FocusFar(5), dravnel::PTZ_E_NOTSUPPORTED);
    EXPECT_EQ(c->Move(2, 5), dravnel::PTZ_OK);
    EXPECT_EQ(c->IsPTZAvailable(), 1);

    EXPECT_EQ(c->AddPreset(nullptr), dravnel::PTZ_E_INVALIDARG);
    EXPECT_EQ(c->AddPreset("Door"), dravnel::PTZ_OK);
    dravnel::PTZ_INFO info{};
    ASSERT_EQ(c->GetPTZInfo(&info), dravnel::PTZ_OK);
    EXPECT_EQ(std::vector<uint32_t>({info.pan, info.tilt, info.zoom, info.presetCapacity, info.presetCount}),
              std::vector<uint32_t>({1, 0, 0, 4, 1}));
    EXPECT_EQ(c->GetPTZInfo(nullptr), dravnel::PTZ_E_INVALIDARG);

    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(c->GetPresetName(0, buffer, 4), dravnel::PTZ_E_INVALIDARG);  // no room for the zero
    EXPECT_EQ(c->GetPresetName(0, nullptr, 8), dravnel::PTZ_E_INVALIDARG);
    EXPECT_EQ(c->GetPresetName(1, buffer, 8), dravnel::PTZ_E_PRESET);
    ASSERT_EQ(c->GetPresetName(0, buffer, 5), dravnel::PTZ_OK);
    EXPECT_STREQ(buffer, "Door");
    ASSERT_EQ(c->GetCurrentPresetName(buffer, 8), dravnel::PTZ_OK);
    EXPECT_STREQ(buffer, "Door");
    EXPECT_EQ(c->Move(3, 5), dravnel::PTZ_OK);  // the camera leaves the preset
    EXPECT_EQ(c->GetCurrentPresetName(buffer, 8), dravnel::PTZ_E_PRESET);
    EXPECT_EQ(c->GoToPreset(0, "Gate"), dravnel::PTZ_E_PRESET);
    EXPECT_EQ(c->GoToPreset(7, "Door"), dravnel::PTZ_OK);
    EXPECT_EQ(c->DeletePreset(nullptr), dravnel::PTZ_E_INVALIDARG);
    EXPECT_EQ(c->DeletePreset("Door"), dravnel::PTZ_OK);
    EXPECT_EQ(c->DeletePreset("Door"), dravnel::PTZ_E_PRESET);
    EXPECT_EQ(c->GetPresetCount(), 0);
}

// A host drives a simulated camera through the driver object: the camera
// moves, stops and goes back to a preset, and the presets outlive the driver.
TEST(PtzDriver, PresetsSurviveADriverRestart) {
    PtzCamera camera;
    ASSERT_TRUE(camera.started);
    uint64_t now = 1000;
    std::mutex clockMutex;
    camera.ptz.SetClock([&] {
        std::lock_guard<std::mutex> lock(clockMutex);
        return now;
    });
    const auto advance = [&](uint64_t ms) {
        std::lock_guard<std::mutex> lock(clockMutex);
        now += ms;
    };
    const auto open = [&](dravnel::test::OpenDriver& d) {
        d.description.port = camera.web.Port();
        d.description.channels = 1;
        d.description.parameters = {{1, "0"},
                                    {2, "0"},
                                    {3, "(none)"},
                                    {4, "1"},
                                    {5, "(none)"},
                                    {6, "(none)"},
                                    {7, camera.driver.parameters[7]},
                                    {8, camera.driver.parameters[8]}};
        return d.Open() && d.driver->GetPTZDriverEx() != nullptr;
    };
    {
        dravnel::test::OpenDriver d;
        ASSERT_TRUE(open(d));
        IIPPTZApiEx* c = d.driver->GetPTZDriverEx()->GetPTZApiEx(0);
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(d.driver->GetPTZDriver()->GetPTZApi(0), c);
        EXPECT_EQ(c->AddPreset("Home"), dravnel::PTZ_OK);
        EXPECT_EQ(c->Move(1, 4), dravnel::PTZ_OK);  // right at the camera's speed 2
        ASSERT_TRUE(camera.ptz.WaitForCommands(2, kWaitMs));
        advance(3000);
        EXPECT_EQ(c->Stop(), dravnel::PTZ_OK);
        ASSERT_TRUE(camera.ptz.WaitForCommands(3, kWaitMs));
        advance(3000);
        EXPECT_DOUBLE_EQ(camera.ptz.Position(1).pan, 30.0);
        EXPECT_EQ(c->AddPreset("Door"), dravnel::PTZ_OK);
        d.driver->Close();
    }
    dravnel::test::OpenDriver d;
    ASSERT_TRUE(open(d));
    IIPPTZApiEx* c = d.driver->GetPTZDriverEx()->GetPTZApiEx(0);
    ASSERT_NE(c, nullptr);
    ASSERT_EQ(c->GetPresetCount(), 2);
    char name[16];
    ASSERT_EQ(c->GetPresetName(1, name, sizeof name), dravnel::PTZ_OK);
    EXPECT_STREQ(name, "Door");
    EXPECT_EQ(c->GoToPreset(0, "Home"), dravnel::PTZ_OK);
    EXPECT_DOUBLE_EQ(camera.ptz.Position(1).pan, 0.0);
    EXPECT_EQ(c->GoToPreset(0, "Door"), dravnel::PTZ_OK);
    EXPECT_DOUBLE_EQ(camera.ptz.Position(1).pan, 30.0);
    EXPECT_EQ(camera.Queries(), (std::vector<std::string>{"&presetsave=1", "&pspd=2&move=right", "&move=stop",
                                                          "&presetsave=2", "&preset=1", "&preset=2"}));
}
