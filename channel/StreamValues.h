// The values a channel wants for the device's stream, worked out from the
// recorder's channel parameters and the device's video page. The page is a
// CGI reply of name=value entries, per channel and stream prefixed
// "ch<channel>_strm<stream>_":
//
//   res=200&ch1_strm1_codec=H264&ch1_strm1_res=4CIF&ch1_strm1_fps=25
//   &ch1_strm1_fps_list=5|10|15|25&ch1_strm1_maxbr=4000&...
//
// Thread-safety: pure functions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace dravnel {

// Marker in bits 12 to 15 of a frame interval: the low 12 bits are the rate.
constexpr uint32_t kFrameRateMarkerMask = 0xF000;
constexpr uint32_t kFrameRateMarker = 0x7000;

// "ch%u_strm%u_" for a 0-based channel index and a stream number.
std::string StreamPrefix(unsigned channelIndex, unsigned stream);

// Frames per second for a frame interval: 0 gives 1; a marked value gives its
// low 12 bits; otherwise 1000 / interval, rounded half up. Never 0.
uint32_t ChannelFrameRate(uint32_t frameInterval);

// The device's highest frame rate: the largest numeric entry of
// prefix + "fps_list" (entries split at '|'), or, without that list (or with
// fromList clear), the number in prefix + "maxfps". 0 when unknown.
uint32_t DeviceMaxFrameRate(std::string_view reply, std::string_view prefix, bool fromList = true);

// The channel's rate, lowered to the device's maximum when that is known.
uint32_t WantedFrameRate(uint32_t channelRate, uint32_t deviceMax);
// The rate to ask the device for. A device that lists its rates (fps_list,
// with fromList) refuses any other, so the largest listed rate not above the
// channel's is taken (the smallest listed when all are above); otherwise the
// channel's rate lowered to maxfps when that is known.
uint32_t DeviceFrameRate(std::string_view reply, std::string_view prefix, uint32_t channelRate, bool fromList = true);

// The "bitrate" value for a quality of 1 to 100 (clamped into that range):
// 100 x round(1 + (q - 1)(m - 1) / 99), where m is maxbr / 100 or, when the
// device gives none, a default by picture width. Quality 1 gives "100",
// quality 100 gives m x 100.
std::string BitrateForQuality(std::string_view maxbr, uint32_t width, uint32_t quality);

// The stream entries of a reply, each preceded by '&': those whose name begins
// "ch<n>_strm<n>_", whose name holds no "max" and whose value holds no '|'.
// Entries end at '&', CR or LF, as everywhere in these replies.
std::string DescribeConfiguration(std::string_view reply);

}  // namespace dravnel
