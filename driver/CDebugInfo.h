// One diagnostic line as the host receives it.
//
// Thread-safety: immutable after construction.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "quarnel/HostObjects.h"

namespace dravnel {

class CDebugInfo : public CDebugInfoIf {
public:
    // An empty text is handed to the host as null.
    CDebugInfo(uint8_t level, std::string text) : level_(level), text_(std::move(text)) {}

    uint8_t GetLevel() const override { return level_; }
    const char* GetText() const override { return text_.empty() ? nullptr : text_.c_str(); }

private:
    uint8_t level_;
    std::string text_;
};

// The level the host sees, by the host core module's version: before 5.12,
// levels 3 and 100 become 2; before 6.3, level 100 becomes 3.
uint8_t AdjustLevelForHost(int level, uint16_t major, uint16_t minor);

}  // namespace dravnel
