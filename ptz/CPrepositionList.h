// One PTZ channel's named presets, each bound to a preset slot of the camera
// (slot s is the camera's preset s + 1), in the order they were created, and
// which of them the camera stands at.
//
// The camera stores presets by number; the host wants them by name. The list
// asks the camera to store or recall a slot through the channel's
// IPrepositionComm and keeps names and slots in the device's preset file.
//
//   position (the host's preset index)   0      1      2
//   order (slots)                        [2]    [0]    [1]
//   names                                {0: "Gate", 1: "Dock", 2: "Door"}
//
// A store on a camera that has not moved since it reached or stored a preset
// renames that preset instead of taking a new slot. A removal rewrites the
// channel's entries densely, so the positions after it move up and the file
// holds exactly the list.
//
// Thread-safety: every operation takes the list's lock; camera requests for
// store and recall run on the caller's thread under it, so a slow camera
// blocks the channel's other preset calls but not its command queue.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "ptz/CXMLPrepositionReader.h"
#include "rtp/TSmartPtr.h"
#include "threads/CLock.h"

namespace dravnel {

class IPrepositionComm;

class CPrepositionList {
public:
    explicit CPrepositionList(unsigned channel) : channel_(channel) {}
    CPrepositionList(const CPrepositionList&) = delete;
    CPrepositionList& operator=(const CPrepositionList&) = delete;

    // One entry to the storage; false without storage.
    virtual bool StorePreposition(unsigned position, uint32_t slot, const std::string& name);
    // Rewrites the channel's entries, with one save of the file.
    virtual bool Save();
    // Rebuilds the list from the storage; gaps in the file close.
    virtual void Load();
    virtual ~CPrepositionList() = default;
    // Keeps the storage and, when it holds one, loads the channel's presets.
    virtual bool SetStorage(TSmartPtr<CXMLPrepositionReader> storage);
    virtual unsigned GetCount();
    virtual bool GetName(unsigned position, std::string& name);
    // Recalls the preset of that name; true at once when the camera stands there.
    virtual bool SelectPreposition(const std::string& name, int value);
    // PTZ_OK, PTZ_E_INVALIDARG (invalid name), PTZ_E_FAIL (no camera link, or
    // the camera or the file refused), PTZ_E_FULL (capacity reached).
    virtual int AddPreposition(const std::string& name);
    virtual bool RemovePreposition(const std::string& name);
    virtual bool GetCurrentName(std::string& name);

    void ResetCurrent();
    int RenameCurrentPreposition(const std::string& name);

    // Set by the control once its queue runs.
    void SetComm(IPrepositionComm* comm, uint32_t maxCount);

    // Not empty and none of & ! < > ' ".
    static bool IsValidName(std::string_view name);

private:
    bool SaveLocked();
    int RenameCurrentLocked(const std::string& name);

    const unsigned channel_;
    IPrepositionComm* comm_ = nullptr;
    uint32_t maxCount_ = 0;
    TSmartPtr<CXMLPrepositionReader> storage_;
    CLock lock_;
    std::map<uint32_t, std::string> names_;  // slot -> name
    std::vector<uint32_t> order_;            // position -> slot
    int32_t current_ = -1;
};

}  // namespace dravnel
