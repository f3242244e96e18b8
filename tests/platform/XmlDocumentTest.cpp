// The XML document as the settings and preset files use it: XPath reads of a
// file, and the preset file's edits along element paths, saved and read back.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/XmlDocument.h"

namespace {

class XmlFile : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        directory_ = std::filesystem::temp_directory_path() / ("quarnel-xml-" + std::string(info->name()));
        std::filesystem::remove_all(directory_);
        std::filesystem::create_directories(directory_);
    }
    void TearDown() override { std::filesystem::remove_all(directory_); }

    std::string Write(const std::string& name, const std::string& text) {
        const auto path = directory_ / name;
        std::ofstream(path, std::ios::binary) << text;
        return path.string();
    }

    std::filesystem::path directory_;
};

TEST_F(XmlFile, SettingsAreReadWithXPathAttributesAndBlanksIncluded) {
    const std::string path = Write("Quarnel.xml",
                                   "<?xml version='1.0' encoding='utf-8'?>\n"
                                   "<Quarnel><Device address='10.0.0.1'><Port> 8080 </Port>"
                                   "<Name>Hall <b>east</b></Name></Device></Quarnel>");
    dravnel::platform::XmlDocument document;
    ASSERT_TRUE(document.LoadFile(path));
    EXPECT_TRUE(document.NodeExists("/Quarnel/Device/Port"));
    EXPECT_FALSE(document.NodeExists("/Quarnel/Device/Missing"));
    EXPECT_EQ(document.NodeText("/Quarnel/Device/Port"), " 8080 ");
    EXPECT_EQ(document.NodeText("/Quarnel/Device/@address"), "10.0.0.1");
    EXPECT_EQ(document.NodeText("/Quarnel/Device/Name"), "Hall east");
    EXPECT_EQ(document.NodeText("/Quarnel/Device[1]/Port"), " 8080 ");
    EXPECT_EQ(document.NodeText("///["), "");  // not an expression: nothing, no throw
}

TEST_F(XmlFile, MalformedOrMissingFilesLoadNothing) {
    dravnel::platform::XmlDocument document;
    EXPECT_FALSE(document.LoadFile(Write("broken.xml", "<Quarnel><Device></Quarnel>")));
    EXPECT_FALSE(document.Loaded());
    EXPECT_FALSE(document.LoadFile((directory_ / "absent.xml").string()));
    EXPECT_EQ(document.NodeText("/Quarnel"), "");
}

TEST_F(XmlFile, PresetEditsAreSavedAndReadBack) {
    const std::string path = (directory_ / "presets.xml").string();
    {
        dravnel::platform::XmlDocument document;
        document.CreateEmpty();
        ASSERT_TRUE(document.SetElementText("Vista/PtzChannel01/Preposition000/Name", "Door"));
        ASSERT_TRUE(document.SetElementText("Vista/PtzChannel01/Preposition001/Name", "Gate"));
        ASSERT_TRUE(document.SetElementText("Vista/PtzChannel01/Preposition001/Name", "Yard"));
        EXPECT_FALSE(document.SetElementText("Other/Name", "x"));  // another document element
        EXPECT_FALSE(document.SetElementText("Vista/1bad", "x"));  // not an XML name
        ASSERT_TRUE(document.SaveFile(path));
    }
    dravnel::platform::XmlDocument document;
    ASSERT_TRUE(document.LoadFile(path));
    EXPECT_EQ(document.ElementText("Vista/PtzChannel01/Preposition000/Name"), "Door");
    EXPECT_EQ(document.ElementText("Vista/PtzChannel01/Preposition001/Name"), "Yard");
    ASSERT_TRUE(document.RemoveChildren("Vista/PtzChannel01", "Preposition", {"Preposition001"}));
    EXPECT_FALSE(document.ElementExists("Vista/PtzChannel01/Preposition000"));
    EXPECT_TRUE(document.ElementExists("Vista/PtzChannel01/Preposition001"));
    ASSERT_TRUE(document.SaveFile(path));
    ASSERT_TRUE(dravnel::platform::XmlDocument::SetAside(path, ".bad"));
    EXPECT_FALSE(dravnel::platform::XmlDocument::FileExists(path));
    EXPECT_TRUE(dravnel::platform::XmlDocument::FileExists(path + ".bad"));
}

}  // namespace
