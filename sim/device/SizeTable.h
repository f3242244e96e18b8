// The picture sizes a simulated camera names on its video page: the CIF
// family of its video standard and the general (HD and VGA) names, and the
// "WIDTHxHEIGHT" text of devices that write sizes out.
//
// Thread-safety: stateless; every function may be called from any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace dravnel::sim {

struct FrameSize {
    unsigned width = 0;
    unsigned height = 0;

    bool operator==(const FrameSize&) const = default;
    // Fits into `other` on both sides.
    bool FitsInto(const FrameSize& other) const { return width <= other.width && height <= other.height; }
};

class SizeTable {
public:
    // The size of a resolution name ("4CIF", "720p", ...), in any case; the
    // CIF names follow the video standard (NTSC: 704x480 for "4CIF").
    static std::optional<FrameSize> SizeOfName(std::string_view name, bool ntsc);
    // The lower-case name of a size: the CIF family of the standard first and
    // the general names second, or the other way round with preferGeneral;
    // empty when no name has that size.
    static std::string NameOfSize(FrameSize size, bool ntsc, bool preferGeneral);
    // "WIDTHxHEIGHT" with decimal sides from 1 to 9999.
    static std::optional<FrameSize> ParseDimensions(std::string_view text);
};

}  // namespace dravnel::sim
