// The device's preset file: the names and camera slots of every PTZ
// channel's presets, shared by all channels of the device.
//
//   <?xml version="1.0" encoding="utf-8"?>
//   <Vista>                              the device family
//     <PtzChannel01>                     channel index 0 ("%.2u" of index + 1)
//       <Preposition000>                 list position 0 ("%.3u")
//         <Name>Door</Name>
//         <Slot>0</Slot>                 the camera's preset 1
//       </Preposition000>
//     </PtzChannel01>
//   </Vista>
//
// Once open, every write saves the file at once, unless a batch is under way
// (BeginBatch ... EndBatch saves once). A save replaces the file whole (see
// platform::XmlDocument::SaveFile): a crash mid-save leaves the old file or
// the new one, never a torn one.
//
// A relative file name is taken in the host's directory.
//
// Thread-safety: every operation takes the reader's lock, so all channels of
// a device may share one reader.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/XmlDocument.h"
#include "threads/CLock.h"

namespace dravnel {

class CXMLPrepositionReader {
public:
    explicit CXMLPrepositionReader(std::string familyName);
    virtual ~CXMLPrepositionReader() = default;
    CXMLPrepositionReader(const CXMLPrepositionReader&) = delete;
    CXMLPrepositionReader& operator=(const CXMLPrepositionReader&) = delete;

    // Loads the file, or creates it when there is none. A file that is there
    // but is not XML is renamed to <name>.unreadable and a new one created.
    // `hostDirectory` resolves a relative name. False when the file can
    // neither be loaded nor created, or belongs to another device family.
    bool Open(const std::string& fileName, const std::string& hostDirectory = {});
    // The same over bytes already in memory; nothing is ever saved.
    bool OpenBuffer(std::span<const uint8_t> bytes);

    void SelectChannel(unsigned channel);
    // True with both read: a non-empty name and a slot of decimal digits.
    bool ReadPreposition(unsigned channel, unsigned position, std::string& name, uint32_t& slot);
    bool WritePreposition(unsigned channel, unsigned position, const std::string& name, uint32_t slot);
    // Removes the channel's entries at `count` and beyond.
    bool TruncateChannel(unsigned channel, unsigned count);

    void BeginBatch();
    // Ends the batch and saves; false when the save failed.
    bool EndBatch();

    const std::string& Path() const { return path_; }
    const std::string& FamilyName() const { return familyName_; }

    static std::string ChannelElement(unsigned channel);
    static std::string PositionElement(unsigned position);
    // The full path of a preset file name: absolute names stay, relative ones
    // go into the host directory.
    static std::string ResolvePath(const std::string& fileName, const std::string& hostDirectory);

private:
    std::string ChannelPath(unsigned channel) const;
    std::string PositionPath(unsigned channel, unsigned position) const;
    bool SaveLocked();

    const std::string familyName_;
    CLock lock_;
    platform::XmlDocument document_;
    std::string path_;
    bool autoSave_ = false;
};

}  // namespace dravnel
