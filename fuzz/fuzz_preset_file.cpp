// The preset file loader over arbitrary file contents: whatever the file
// holds, each channel's list has at most the camera's capacity of presets,
// every one with a name and a slot of its own, and reading it never fails.
#include <cstddef>
#include <cstdint>
#include <set>
#include <span>
#include <string>

#include "ptz/CPrepositionList.h"
#include "ptz/CXMLPrepositionReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    dravnel::TSmartPtr<dravnel::CXMLPrepositionReader> storage(new dravnel::CXMLPrepositionReader("Vista"));
    if (!storage->OpenBuffer(std::span<const uint8_t>(data, size))) return 0;
    for (unsigned channel = 0; channel < 3; ++channel) {
        const uint32_t capacity = 1u << (channel * 3);  // 1, 8, 64
        dravnel::CPrepositionList list(channel);
        list.SetComm(nullptr, capacity);
        list.SetStorage(storage);
        if (list.GetCount() > capacity) __builtin_trap();
        std::set<std::string> names;
        for (unsigned position = 0; position < list.GetCount(); ++position) {
            std::string name;
            if (!list.GetName(position, name) || name.empty()) __builtin_trap();
            names.insert(name);
        }
        std::string current;
        if (list.GetCurrentName(current)) __builtin_trap();    // nothing is current after a load
        if (!names.empty() && !list.Save()) __builtin_trap();  // in memory, a save always succeeds
    }
    return 0;
}
