#include <gtest/gtest.h>

#include "ptz/CPtzCapabilities.h"

using dravnel::BuildCapabilityString;
using dravnel::CPtzCapabilities;
using dravnel::ParseCapabilityString;

namespace {

CPtzCapabilities Caps(bool pan, bool tilt, bool zoom, bool center, bool unzoom, bool areaZoom, uint32_t presets) {
    CPtzCapabilities c;
    c.pan = pan;
    c.tilt = tilt;
    c.zoom = zoom;
    c.center = center;
    c.unzoom = unzoom;
    c.areaZoom = areaZoom;
    c.presetCount = presets;
    return c;
}

}  // namespace

// A capability that needs another is written as 0 without it; the text read
// back gives the record as written.
TEST(PtzCapabilities, WritesDependentFlagsOnlyWithWhatTheyNeed) {
    const struct Row {
        const char* name;
        CPtzCapabilities record;
        const char* text;
    } rows[] = {
        {"pan camera with zoom", Caps(true, false, true, true, true, false, 64),
         "Pan=1; Tilt=0; Zoom=1; Focus=0; Iris=0; Center=1; Unzoom=1; AreaZoom=0; Preset=64"},
        {"centre without pan or tilt", Caps(false, false, true, true, false, true, 0),
         "Pan=0; Tilt=0; Zoom=1; Focus=0; Iris=0; Center=0; Unzoom=0; AreaZoom=1; Preset=0"},
        {"unzoom and area zoom without zoom", Caps(false, true, false, true, true, true, 4294967295u),
         "Pan=0; Tilt=1; Zoom=0; Focus=0; Iris=0; Center=1; Unzoom=0; AreaZoom=0; Preset=4294967295"},
        {"new record", CPtzCapabilities{},
         "Pan=0; Tilt=0; Zoom=0; Focus=0; Iris=0; Center=0; Unzoom=0; AreaZoom=0; Preset=0"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(BuildCapabilityString(row.record), row.text);
        CPtzCapabilities all = row.record;
        all.focus = all.iris = true;
        const CPtzCapabilities back = ParseCapabilityString(BuildCapabilityString(all));
        EXPECT_TRUE(back.focus && back.iris);
        EXPECT_EQ(back.center, row.record.center && (row.record.pan || row.record.tilt));
        EXPECT_EQ(back.unzoom, row.record.unzoom && row.record.zoom);
        EXPECT_EQ(back.areaZoom, row.record.areaZoom && row.record.zoom);
        EXPECT_EQ(back.presetCount, row.record.presetCount > 0x7fffffff ? 0x7fffffffu : row.record.presetCount);
    }
}

TEST(PtzCapabilities, ReadsOnlyExactKeysAndTheDigitOne) {
    const struct Row {
        const char* text;
        CPtzCapabilities expected;
    } rows[] = {
        {"Pan=1;Zoom=yes;Preset=12abc", Caps(true, false, false, false, false, false, 12)},
        {"pan=1; PAN=1; Pan =1", CPtzCapabilities{}},
        {"Tilt=11; Zoom=1\tCenter=1\r\nUnzoom=1\nAreaZoom=1", Caps(false, false, true, true, true, true, 0)},
        {"Preset=+7", Caps(false, false, false, false, false, false, 7)},
        {"Preset=-5", CPtzCapabilities{}},                                                   // never four billion slots
        {"Preset=99999999999", Caps(false, false, false, false, false, false, 0x7fffffff)},  // saturates
        {"Preset=", CPtzCapabilities{}},
        {"Other=1; Pan=1", Caps(true, false, false, false, false, false, 0)},
        {"", CPtzCapabilities{}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(ParseCapabilityString(row.text), row.expected);
    }
}
