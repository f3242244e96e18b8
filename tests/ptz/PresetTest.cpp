// The preset list and the preset file, with the Vista device layer as the
// camera link.
#include <gtest/gtest.h>

#include <filesystem>

#include "ptz/CPrepositionList.h"
#include "ptz/CVistaPTZComm.h"
#include "tests/ptz/PtzCamera.h"

using dravnel::CPrepositionList;
using dravnel::CVistaPTZComm;
using dravnel::CXMLPrepositionReader;
using dravnel::TSmartPtr;
using dravnel::test::PtzCamera;
using dravnel::test::ReadText;

namespace {

TSmartPtr<CXMLPrepositionReader> OpenStorage(const std::string& path) {
    TSmartPtr<CXMLPrepositionReader> storage(new CXMLPrepositionReader("Vista"));
    EXPECT_TRUE(storage->Open(path));
    return storage;
}

struct Channel {
    CVistaPTZComm comm;
    CPrepositionList list;
    Channel(PtzCamera& camera, unsigned index, uint32_t capacity, TSmartPtr<CXMLPrepositionReader> storage)
        : comm(static_cast<unsigned short>(index), &camera.driver, dravnel::test::AllCapabilities(capacity)),
          list(index) {
        list.SetComm(&comm, capacity);
        list.SetStorage(std::move(storage));
    }
    std::vector<std::string> Names() {
        std::vector<std::string> names;
        std::string name;
        for (unsigned i = 0; list.GetName(i, name); ++i) names.push_back(name);
        return names;
    }
};

}  // namespace

// One channel's presets from the first store to a restart: slots, renames,
// refusals, removal with renumbering and slot reuse, recall, and the file
// after each step.
TEST(PresetList, StoreRenameRemoveRecallAndReload) {
    PtzCamera camera;
    ASSERT_TRUE(camera.started);
    const std::string path = camera.directory.File("door.preset");
    Channel channel(camera, 0, 8, OpenStorage(path));
    const std::string header = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Vista>\n";

    // Door on a camera that moved: slot 0, the camera's preset 1.
    EXPECT_EQ(channel.list.AddPreposition("Door"), dravnel::PTZ_OK);
    EXPECT_EQ(camera.Queries(), std::vector<std::string>{"&presetsave=1"});
    EXPECT_EQ(ReadText(path), header +
                                  "  <PtzChannel01>\n    <Preposition000>\n      <Name>Door</Name>\n"
                                  "      <Slot>0</Slot>\n    </Preposition000>\n  </PtzChannel01>\n</Vista>\n");

    // Gate right after, without a move: Door is renamed, no new slot.
    EXPECT_EQ(channel.list.AddPreposition("Gate"), dravnel::PTZ_OK);
    EXPECT_EQ(camera.Queries().size(), 1u);
    EXPECT_EQ(channel.Names(), std::vector<std::string>{"Gate"});
    EXPECT_EQ(camera.driver.CountContaining(
                  "dravnel::CPrepositionList::RenameCurrentPreposition: A preposition with index 0 was renamed "
                  "from \"Door\" to \"Gate\"."),
              1u);
    EXPECT_NE(ReadText(path).find("<Name>Gate</Name>"), std::string::npos);

    // Names that would break the file or the camera's CGI.
    for (const char* bad : {"", "O'Hara", "a&b", "<x>", "wow!", "say \"hi\""}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(channel.list.AddPreposition(bad), dravnel::PTZ_E_INVALIDARG);
    }
    EXPECT_EQ(camera.driver.CountContaining(
                  "dravnel::CPrepositionList::AddPreposition: A preposition \"O'Hara\" cannot be added - the name is "
                  "invalid."),
              1u);

    // Two more after moves: slots 1 and 2.
    channel.list.ResetCurrent();
    EXPECT_EQ(channel.list.AddPreposition("Dock"), dravnel::PTZ_OK);
    channel.list.ResetCurrent();
    EXPECT_EQ(channel.list.AddPreposition("Yard"), dravnel::PTZ_OK);
    EXPECT_EQ(channel.Names(), (std::vector<std::string>{"Gate", "Dock", "Yard"}));

    // Recalling where the camera stands sends nothing; another preset is
    // recalled by its camera number.
    camera.ptz.ClearCommands();
    EXPECT_TRUE(channel.list.SelectPreposition("Yard", 0));
    EXPECT_TRUE(camera.Queries().empty());
    EXPECT_TRUE(channel.list.SelectPreposition("Dock", 0));
    EXPECT_EQ(camera.Queries(), std::vector<std::string>{"&preset=2"});
    EXPECT_FALSE(channel.list.SelectPreposition("Nowhere", 0));
    std::string current;
    ASSERT_TRUE(channel.list.GetCurrentName(current));
    EXPECT_EQ(current, "Dock");

    // Removing the first of three: two entries, renumbered, nothing left
    // past them; the freed slot is the next one given out.
    EXPECT_TRUE(channel.list.RemovePreposition("Gate"));
    EXPECT_FALSE(channel.list.GetCurrentName(current));
    EXPECT_EQ(channel.Names(), (std::vector<std::string>{"Dock", "Yard"}));
    std::string file = ReadText(path);
    EXPECT_NE(file.find("<Preposition000>\n      <Name>Dock</Name>\n      <Slot>1</Slot>"), std::string::npos) << file;
    EXPECT_NE(file.find("<Preposition001>\n      <Name>Yard</Name>\n      <Slot>2</Slot>"), std::string::npos) << file;
    EXPECT_EQ(file.find("Preposition002"), std::string::npos) << file;
    camera.ptz.ClearCommands();
    EXPECT_EQ(channel.list.AddPreposition("Gate2"), dravnel::PTZ_OK);
    EXPECT_EQ(camera.Queries(), std::vector<std::string>{"&presetsave=1"});

    // A new reader and list see exactly what the file holds.
    Channel reloaded(camera, 0, 8, OpenStorage(path));
    EXPECT_EQ(reloaded.Names(), (std::vector<std::string>{"Dock", "Yard", "Gate2"}));
    EXPECT_FALSE(reloaded.list.GetCurrentName(current));
    EXPECT_FALSE(reloaded.list.RemovePreposition("Gate"));
}

// The camera's capacity bounds the list: 0 refuses every store with the
// capacity message; a full list refuses the next one; a refused camera
// store leaves the list as it was.
TEST(PresetList, CapacityAndRefusals) {
    PtzCamera camera;
    ASSERT_TRUE(camera.started);
    const std::string path = camera.directory.File("full.preset");
    Channel none(camera, 0, 0, OpenStorage(path));
    EXPECT_EQ(none.list.AddPreposition("Door"), dravnel::PTZ_E_FULL);
    EXPECT_EQ(camera.driver.CountContaining(
                  "dravnel::CPrepositionList::AddPreposition: A preposition \"Door\" cannot be added. Camera supports "
                  "saving not more than 0 prepositions."),
              1u);
    EXPECT_TRUE(camera.Queries().empty());

    Channel two(camera, 1, 2, OpenStorage(path));
    EXPECT_EQ(two.list.AddPreposition("A"), dravnel::PTZ_OK);
    two.list.ResetCurrent();
    EXPECT_EQ(two.list.AddPreposition("B"), dravnel::PTZ_OK);
    two.list.ResetCurrent();
    EXPECT_EQ(two.list.AddPreposition("C"), dravnel::PTZ_E_FULL);
    EXPECT_EQ(camera.Queries(2), (std::vector<std::string>{"&presetsave=1", "&presetsave=2"}));

    camera.web.SetFaults({.status = 500});
    EXPECT_TRUE(two.list.RemovePreposition("A"));  // the camera is not asked to delete
    EXPECT_EQ(two.list.AddPreposition("C"), dravnel::PTZ_E_FAIL);
    EXPECT_EQ(two.Names(), std::vector<std::string>{"B"});

    CPrepositionList unlinked(0);
    EXPECT_EQ(unlinked.AddPreposition("Door"), dravnel::PTZ_E_FAIL);
    EXPECT_FALSE(unlinked.Save());
}

// A file edited by hand or left by an older version: gaps close, a slot
// named twice keeps its first name, and the file is rewritten to match the
// list so that the next store cannot overwrite an entry.
TEST(PresetList, LoadClosesGapsAndRewritesTheFile) {
    PtzCamera camera;
    ASSERT_TRUE(camera.started);
    const std::string path = camera.directory.File("gaps.preset");
    {
        std::ofstream out(path);
        out << "<?xml version='1.0'?><Vista><PtzChannel01>"
               "<Preposition001><Name>B</Name><Slot>3</Slot></Preposition001>"
               "<Preposition003><Name>C</Name><Slot>5</Slot></Preposition003>"
               "<Preposition004><Name>Twin</Name><Slot>3</Slot></Preposition004>"
               "<Preposition005><Name></Name><Slot>6</Slot></Preposition005>"
               "<Preposition006><Name>NoSlot</Name><Slot>x</Slot></Preposition006>"
               "</PtzChannel01></Vista>";
    }
    Channel channel(camera, 0, 8, OpenStorage(path));
    EXPECT_EQ(channel.Names(), (std::vector<std::string>{"B", "C"}));
    EXPECT_EQ(channel.list.AddPreposition("D"), dravnel::PTZ_OK);
    Channel reloaded(camera, 0, 8, OpenStorage(path));
    EXPECT_EQ(reloaded.Names(), (std::vector<std::string>{"B", "C", "D"}));
    const std::string file = ReadText(path);
    EXPECT_EQ(file.find("Twin"), std::string::npos) << file;
    EXPECT_NE(file.find("<Preposition002>\n      <Name>D</Name>\n      <Slot>0</Slot>"), std::string::npos) << file;
}

// Where the file lives and what happens to one that cannot be read: a
// relative name goes into the host directory; a file that is not XML is set
// aside and a new one made; another family's file is not written into; no
// temporary file stays behind a save.
TEST(PresetFile, PlacesAndBrokenFiles) {
    dravnel::test::TempDirectory directory;
    EXPECT_EQ(CXMLPrepositionReader::ResolvePath("cam.preset", "/opt/rec/"), "/opt/rec/cam.preset");
    EXPECT_EQ(CXMLPrepositionReader::ResolvePath("cam.preset", "/opt/rec"), "/opt/rec/cam.preset");
    EXPECT_EQ(CXMLPrepositionReader::ResolvePath("/var/cam.preset", "/opt/rec/"), "/var/cam.preset");
    EXPECT_EQ(CXMLPrepositionReader::ResolvePath("cam.preset", ""), "cam.preset");

    CXMLPrepositionReader relative("Vista");
    ASSERT_TRUE(relative.Open("rel.preset", directory.path.string() + "/"));
    EXPECT_TRUE(relative.WritePreposition(0, 0, "Door", 0));
    EXPECT_NE(ReadText(directory.File("rel.preset")).find("<Name>Door</Name>"), std::string::npos);

    const std::string broken = directory.File("broken.preset");
    { std::ofstream(broken) << "<Vista><PtzChannel01>"; }
    CXMLPrepositionReader repaired("Vista");
    ASSERT_TRUE(repaired.Open(broken));
    EXPECT_EQ(ReadText(broken + ".unreadable"), "<Vista><PtzChannel01>");
    EXPECT_NE(ReadText(broken).find("<Vista"), std::string::npos);

    const std::string other = directory.File("other.preset");
    { std::ofstream(other) << "<Hitron/>"; }
    CXMLPrepositionReader foreign("Vista");
    EXPECT_FALSE(foreign.Open(other));
    EXPECT_EQ(ReadText(other), "<Hitron/>");

    CXMLPrepositionReader missingDirectory("Vista");
    EXPECT_FALSE(missingDirectory.Open(directory.File("no/such/dir.preset")));

    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(directory.path)) {
        ++files;
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
    }
    EXPECT_EQ(files, 4u);
}
