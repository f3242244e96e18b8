// Names the device's video page gives picture sizes ("4cif", "720p", ...),
// and the way back from such a name, or from "WIDTHxHEIGHT", to a size.
//
// Three tables: the CIF family of PAL and of NTSC (only the one of the
// channel's standard is consulted) and a general table of VGA and HD sizes.
// A size takes the name of its first exact match, searching the CIF family
// first, or the general table first for devices that prefer HD names.
//
// Thread-safety: immutable after construction; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace dravnel {

class CResolutionHelper {
public:
    CResolutionHelper(bool ntsc, bool preferHd) : ntsc_(ntsc), preferHd_(preferHd) {}
    virtual ~CResolutionHelper() = default;

    // Lower-case name of the size; empty when no table holds it.
    std::string GetName(uint32_t width, uint32_t height) const;
    // A name of the tables or "WIDTHxHEIGHT", any case. False (and 0 x 0) for
    // anything else.
    bool GetSize(std::string_view text, uint32_t& width, uint32_t& height) const;

private:
    bool ntsc_;
    bool preferHd_;
};

}  // namespace dravnel
