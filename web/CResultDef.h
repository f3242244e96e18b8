// The outcome of one device request: the level to log its message at, a
// result code, and the ready-made message (empty on success).
//
// Thread-safety: a value; copies are independent.
#pragma once

#include <cstdint>
#include <string>

#include "quarnel/CaptureDriver.h"

namespace dravnel {

class CResultDef {
public:
    // code
    static constexpr uint32_t kSuccess = 0;
    static constexpr uint32_t kBadStatus = 6;   // the device answered with a status other than 2xx
    static constexpr uint32_t kNotSent = 9;     // the request could not be sent, or got no status
    static constexpr uint32_t kBadResult = 11;  // the reply carries a "res" other than "200"

    CResultDef() = default;
    explicit CResultDef(std::string text) : message(std::move(text)) {}
    CResultDef(uint32_t levelValue, uint32_t codeValue, std::string text)
        : level(levelValue), code(codeValue), message(std::move(text)) {}
    CResultDef(const CResultDef&) = default;
    CResultDef& operator=(const CResultDef&) = default;
    virtual ~CResultDef() = default;

    bool Succeeded() const { return code == kSuccess; }

    uint32_t level = kLevelInfo;  // callers never log level kLevelNever
    uint32_t code = kSuccess;
    std::string message;
};

}  // namespace dravnel
