// The command queue and the Vista device layer against the simulated camera.
#include <gtest/gtest.h>

#include "ptz/CVistaPTZComm.h"
#include "tests/ptz/PtzCamera.h"

using dravnel::CPtzCapabilities;
using dravnel::CPTZItem;
using dravnel::CVistaPTZComm;
using dravnel::test::PtzCamera;

namespace {

constexpr uint32_t kWaitMs = 5000;

// Sends one item on the test thread, the way the PTZ thread does, and reads
// what reached the camera.
struct SentItem {
    std::vector<std::string> queries;
    std::vector<dravnel::test::FakeDriver::Line> lines;
};

SentItem Send(PtzCamera& camera, unsigned short channel, const CPTZItem& item) {
    camera.ptz.ClearCommands();
    camera.driver.ClearLines();
    CVistaPTZComm comm(channel, &camera.driver, dravnel::test::AllCapabilities());
    CPTZItem copy = item;
    comm.HandleWorkItem(&copy);
    return {camera.Queries(channel + 1u), camera.driver.Lines()};
}

}  // namespace

// Every row of the command table, byte for byte: the speed key before the
// move key, diagonals with tspd twice, zoom without speed, focus and iris
// speeds choosing only between motion and stop, and the level-2 messages.
TEST(VistaPTZComm, CommandTable) {
    PtzCamera camera;
    ASSERT_TRUE(camera.started);
    using namespace dravnel;
    const struct Row {
        const char* name;
        CPTZItem item;
        const char* query;    // "" : nothing sent
        const char* warning;  // "" : nothing logged; after "dravnel::CVistaPTZComm::"
    } rows[] = {
        {"left, speed 1", {MSG_PTZ_MOVE, 0, nullptr, 1, kPtzLeft, 0, 0}, "&pspd=1&move=left", ""},
        {"left, speed 17", {MSG_PTZ_MOVE, 0, nullptr, 17, kPtzLeft, 0, 0}, "&pspd=8&move=left", ""},
        {"right, speed 6", {MSG_PTZ_MOVE, 0, nullptr, 6, kPtzRight, 0, 0}, "&pspd=3&move=right", ""},
        {"up, speed 4", {MSG_PTZ_MOVE, 0, nullptr, 4, kPtzUp, 0, 0}, "&tspd=2&move=up", ""},
        {"down, speed 16", {MSG_PTZ_MOVE, 0, nullptr, 16, kPtzDown, 0, 0}, "&tspd=8&move=down", ""},
        {"up-left", {MSG_PTZ_MOVE, 0, nullptr, 5, kPtzUpLeft, 0, 0}, "&tspd=3&tspd=3&move=upleft", ""},
        {"up-right", {MSG_PTZ_MOVE, 0, nullptr, 2, kPtzUpRight, 0, 0}, "&tspd=1&tspd=1&move=upright", ""},
        {"down-left", {MSG_PTZ_MOVE, 0, nullptr, 9, kPtzDownLeft, 0, 0}, "&tspd=5&tspd=5&move=downleft", ""},
        {"down-right", {MSG_PTZ_MOVE, 0, nullptr, 100, kPtzDownRight, 0, 0}, "&tspd=8&tspd=8&move=downright", ""},
        {"zoom in, speed 10", {MSG_PTZ_MOVE, 0, nullptr, 10, kPtzZoomIn, 0, 0}, "&zoom=tele", ""},
        {"zoom out", {MSG_PTZ_MOVE, 0, nullptr, 3, kPtzZoomOut, 0, 0}, "&zoom=wide", ""},
        {"zoom, speed 0", {MSG_PTZ_MOVE, 0, nullptr, 0, kPtzZoomIn, 0, 0}, "&zoom=stop", ""},
        {"pan, speed 0", {MSG_PTZ_MOVE, 0, nullptr, 0, kPtzUp, 0, 0}, "&move=stop", ""},
        {"negative speed", {MSG_PTZ_MOVE, 0, nullptr, -1, kPtzLeft, 0, 0}, "", ""},
        {"direction 11", {MSG_PTZ_MOVE, 0, nullptr, 5, 11, 0, 0}, "", ""},
        {"focus far", {MSG_CHANGE_FOCUS, kFocusFar, nullptr, 7, 0, 0, 0}, "&focus=far", ""},
        {"focus near", {MSG_CHANGE_FOCUS, kFocusNear, nullptr, 1, 0, 0, 0}, "&focus=near", ""},
        {"focus, speed 0", {MSG_CHANGE_FOCUS, kFocusNear, nullptr, 0, 0, 0, 0}, "&focus=stop", ""},
        {"focus, negative speed", {MSG_CHANGE_FOCUS, kFocusNear, nullptr, -3, 0, 0, 0}, "", ""},
        {"focus, param 3",
         {MSG_CHANGE_FOCUS, 3, nullptr, 1, 0, 0, 0},
         "",
         "ProcessFocusCommand: Unexpected parameter 3 for MSG_CHANGE_FOCUS command"},
        {"iris open", {MSG_CHANGE_IRIS, kIrisOpen, nullptr, 1, 0, 0, 0}, "&iris=open", ""},
        {"iris close", {MSG_CHANGE_IRIS, kIrisClose, nullptr, 1, 0, 0, 0}, "&iris=close", ""},
        {"iris, speed 0", {MSG_CHANGE_IRIS, kIrisOpen, nullptr, 0, 0, 0, 0}, "&iris=stop", ""},
        {"iris, param 1",
         {MSG_CHANGE_IRIS, 1, nullptr, 1, 0, 0, 0},
         "",
         "ProcessIrisCommand: Unexpected parameter 1 for MSG_CHANGE_IRIS command"},
        {"stop moving", {MSG_PTZ_STOP, kStopMoving, nullptr, 0, 0, 0, 0}, "&move=stop", ""},
        {"stop zooming", {MSG_PTZ_STOP, kStopZooming, nullptr, 0, 0, 0, 0}, "&zoom=stop", ""},
        {"stop focusing", {MSG_PTZ_STOP, kStopFocusing, nullptr, 0, 0, 0, 0}, "&focus=stop", ""},
        {"stop iris", {MSG_PTZ_STOP, kStopIrisChanging, nullptr, 0, 0, 0, 0}, "&iris=stop", ""},
        {"stop, param 9",
         {MSG_PTZ_STOP, 9, nullptr, 0, 0, 0, 0},
         "",
         "ProcessStopCommand: Unexpected parameter 9 for MSG_PTZ_STOP command"},
        {"centre", {MSG_CENTER, 0, nullptr, 1, 10, 20, 0}, "", "HandleWorkItem: Unexpected command type (6)"},
        {"area zoom", {MSG_AREA_ZOOM, 0, nullptr, 1, 1, 2, 3}, "", "HandleWorkItem: Unexpected command type (5)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const SentItem sent = Send(camera, 0, row.item);
        if (*row.query) {
            EXPECT_EQ(sent.queries, std::vector<std::string>{row.query});
        } else {
            EXPECT_TRUE(sent.queries.empty());
        }
        if (*row.warning) {
            ASSERT_EQ(sent.lines.size(), 1u);
            EXPECT_EQ(sent.lines[0].level, dravnel::kLevelWarning);
            EXPECT_EQ(sent.lines[0].text, std::string("dravnel::CVistaPTZComm::") + row.warning);
        } else {
            EXPECT_TRUE(sent.lines.empty());
        }
    }
    // The second channel's page, and its move reaching the camera's head.
    const SentItem second = Send(camera, 1, {MSG_PTZ_MOVE, 0, nullptr, 6, kPtzRight, 0, 0});
    EXPECT_EQ(camera.ptz.Commands(), std::vector<std::string>{"/ptz/control.php?ch=2&pspd=3&move=right"});
    EXPECT_EQ(camera.ptz.Position(2).move, "right");
}

// The camera answers the command with an error: the request's own message at
// its level; a camera that keeps failing is reported on the first 14 errors,
// then on every 16th.
TEST(VistaPTZComm, FailedCommandsAreLoggedThroughTheThrottle) {
    PtzCamera camera;
    ASSERT_TRUE(camera.started);
    CVistaPTZComm comm(0, &camera.driver, dravnel::test::AllCapabilities());
    for (int i = 0; i < 32; ++i) comm.SendCommand("&move=nowhere");
    const auto lines = camera.driver.LinesContaining("does not process request");
    ASSERT_EQ(lines.size(), 16u);  // 1..14, 16, 32
    EXPECT_EQ(lines[0].level, dravnel::kLevelError);
    EXPECT_EQ(lines[0].text, "dravnel::HUtils::RequestGetRD: device 127.0.0.1:" + std::to_string(camera.web.Port()) +
                                 " does not process request \"/ptz/control.php?ch=1&move=nowhere\", status code = 400");
}

// Twenty moves while the camera sits on the first: only the newest 16 wait,
// so the camera sees the first, then the 5th to the 20th, in order.
TEST(VistaPTZComm, QueueKeepsTheNewestSixteenBehindASlowCamera) {
    PtzCamera camera;
    ASSERT_TRUE(camera.started);
    CVistaPTZComm comm(0, &camera.driver, dravnel::test::AllCapabilities());
    ASSERT_TRUE(comm.Open());
    EXPECT_EQ(comm.ThreadName(), "BaseIPPTZThread_Ch1");
    camera.ptz.Hold(true);
    ASSERT_EQ(comm.StartMove(dravnel::kPtzZoomIn, nullptr, 1), dravnel::PTZ_OK);
    ASSERT_TRUE(camera.ptz.WaitForCommands(1, kWaitMs));
    const char* moves[] = {"left", "right", "up", "down", "upleft", "upright", "downleft", "downright"};
    for (uint32_t i = 0; i < 20; ++i) ASSERT_EQ(comm.StartMove(i % 8, nullptr, 2), dravnel::PTZ_OK);
    camera.ptz.Hold(false);
    ASSERT_TRUE(camera.ptz.WaitForCommands(17, kWaitMs));
    ASSERT_TRUE(comm.StopZooming(nullptr));  // marks the end of what was queued before
    ASSERT_TRUE(camera.ptz.WaitForCommands(18, kWaitMs));
    const auto queries = camera.Queries();
    ASSERT_EQ(queries.size(), 18u);
    EXPECT_EQ(queries[0], "&zoom=tele");
    for (uint32_t i = 4; i < 20; ++i) {
        SCOPED_TRACE(i);
        EXPECT_NE(queries[i - 3].find(std::string("&move=") + moves[i % 8]), std::string::npos) << queries[i - 3];
    }
    EXPECT_EQ(queries[17], "&zoom=stop");
}

// Capabilities gate what is queued, never the stops; after Close nothing is
// queued and each refusal names its operation and item type.
TEST(VistaPTZComm, CapabilityChecksAndClose) {
    CPtzCapabilities panOnly;
    panOnly.pan = true;
    PtzCamera camera(panOnly);
    ASSERT_TRUE(camera.started);
    CVistaPTZComm comm(0, &camera.driver, panOnly);
    ASSERT_TRUE(comm.Open());
    EXPECT_EQ(comm.StartMove(dravnel::kPtzZoomIn, nullptr, 5), dravnel::PTZ_E_NOTSUPPORTED);
    EXPECT_EQ(comm.StartMove(dravnel::kPtzZoomOut, nullptr, 5), dravnel::PTZ_E_NOTSUPPORTED);
    EXPECT_EQ(comm.StartFocus(nullptr, true, 5), dravnel::PTZ_E_NOTSUPPORTED);
    EXPECT_EQ(comm.StartIris(nullptr, true, 5), dravnel::PTZ_E_NOTSUPPORTED);
    EXPECT_EQ(comm.Center(nullptr, 1, 2, 3), dravnel::PTZ_E_NOTSUPPORTED);
    EXPECT_EQ(comm.AreaZoom(nullptr, 1, 2, 3, 4), dravnel::PTZ_E_NOTSUPPORTED);
    EXPECT_EQ(comm.Unzoom(nullptr, 1), dravnel::PTZ_E_NOTSUPPORTED);
    EXPECT_EQ(comm.StartMove(dravnel::kPtzDown, nullptr, 5), dravnel::PTZ_OK);  // pan admits every direction
    EXPECT_TRUE(comm.StopFocusing(nullptr));
    ASSERT_TRUE(camera.ptz.WaitForCommands(2, kWaitMs));
    EXPECT_EQ(camera.Queries(), (std::vector<std::string>{"&tspd=3&move=down", "&focus=stop"}));
    EXPECT_TRUE(camera.driver.Lines().empty());

    comm.Close();
    comm.Close();
    EXPECT_EQ(comm.StartMove(dravnel::kPtzLeft, nullptr, 5), dravnel::PTZ_E_FAIL);
    EXPECT_FALSE(comm.StopIrisChanging(nullptr));
    const auto lines = camera.driver.Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].level, dravnel::kLevelError);
    EXPECT_EQ(lines[0].text, "dravnel::CBasePTZComm::StartMove: cannot send message (1) to thread");
    EXPECT_EQ(lines[1].text, "dravnel::CBasePTZComm::StopIrisChanging: cannot send message (4) to thread");

    // Area zoom, centring and unzoom alone are no PTZ.
    CPtzCapabilities extrasOnly;
    extrasOnly.areaZoom = extrasOnly.center = extrasOnly.unzoom = true;
    extrasOnly.presetCount = 4;
    CVistaPTZComm extras(0, &camera.driver, extrasOnly);
    EXPECT_FALSE(extras.IsPTZEnabled(nullptr));
    dravnel::PTZ_INFO info{};
    info.hostField = 77;
    EXPECT_EQ(extras.GetCapabilities(&info), dravnel::PTZ_OK);
    EXPECT_EQ(info.hostField, 77u);
    EXPECT_EQ(std::vector<uint32_t>({info.pan, info.zoom, info.areaZoom, info.center, info.unzoom, info.presetCapacity,
                                     info.presetCount}),
              std::vector<uint32_t>({0, 0, 1, 1, 1, 4, 0}));
}

// Parameter 9 decides whether the camera is asked: only 1 does. The answer
// is per channel; an empty answer counts as off, with a message; a camera
// that does not answer at all counts as on.
TEST(VistaPTZComm, PtzEnabledOnTheDevice) {
    PtzCamera camera;
    ASSERT_TRUE(camera.started);
    camera.ptz.SetPtzEnabled(2, false);
    CVistaPTZComm first(0, &camera.driver, dravnel::test::AllCapabilities());
    CVistaPTZComm second(1, &camera.driver, dravnel::test::AllCapabilities());

    for (const char* p9 : {"", "0", "2", "x"}) {
        SCOPED_TRACE(p9);
        if (*p9) camera.driver.parameters[9] = p9;
        EXPECT_TRUE(second.IsPTZEnabled(nullptr));
    }
    EXPECT_EQ(camera.RequestsTo("/device/ptz.php"), 0u);

    camera.driver.parameters[9] = "1";
    EXPECT_TRUE(first.IsPTZEnabled(nullptr));
    EXPECT_FALSE(second.IsPTZEnabled(nullptr));
    EXPECT_EQ(camera.RequestsTo("/device/ptz.php?app=get"), 2u);
    EXPECT_TRUE(camera.driver.Lines().empty());

    camera.ptz.SetEmptyConfiguration(true);
    EXPECT_FALSE(first.IsPTZEnabled(nullptr));
    const auto lines = camera.driver.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].level, dravnel::kLevelError);
    EXPECT_EQ(lines[0].text,
              "dravnel::CVistaPTZComm::IsPtzEnabledOnDevice: Device 127.0.0.1:" + std::to_string(camera.web.Port()) +
                  " returns empty response for PTZ configuration request");

    camera.web.Stop();
    EXPECT_TRUE(first.IsPTZEnabled(nullptr));
}
