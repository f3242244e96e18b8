// The JPEG and MPEG-4 depacketizers fed packet by packet, with frames going
// to the recording host objects; the JPEG image headers they rebuild, and the
// MPEG-4 configuration headers they read the picture size from.
#include <gtest/gtest.h>

#include <string>

#include "rtp/CJpegRTPMediaParser.h"
#include "rtp/CMP4Parser.h"
#include "rtp/CMpeg4RTPMediaParser.h"
#include "rtp/JpegHeaders.h"
#include "tests/rtp/RtpPeers.h"

namespace {

using dravnel::test::Bytes;
using dravnel::test::Cat;
using dravnel::test::FromHex;

// ---- JPEG ----------------------------------------------------------------

// RFC 2435 main header: type-specific 0, fragment offset, type, Q, width/8, height/8.
Bytes MainHeader(uint8_t type, uint8_t q, uint8_t width8, uint8_t height8, uint32_t offset = 0) {
    return {0, uint8_t(offset >> 16), uint8_t(offset >> 8), uint8_t(offset), type, q, width8, height8};
}
Bytes RestartHeader(uint16_t interval) { return {uint8_t(interval >> 8), uint8_t(interval), 0xFF, 0xFF}; }
Bytes TableHeader(uint8_t mbz, const Bytes& tables) {
    return Cat({{mbz, 0, uint8_t(tables.size() >> 8), uint8_t(tables.size())}, tables});
}
Bytes Scan(size_t n, uint8_t seed = 1) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = uint8_t((seed + i * 7) % 0xF0);
    return b;
}
Bytes Tables(size_t n) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = uint8_t(i % 200 + 1);
    return b;
}

// The segments of a JPEG image up to SOS: markers in order, DQT table sizes,
// SOF0 picture size and components, DRI interval, and the scan data.
struct Image {
    std::string markers, tables, components;
    unsigned width = 0, height = 0, restartInterval = 0;
    Bytes firstTable, scan;
};

Image ReadImage(const Bytes& b) {
    Image image;
    char text[32];
    size_t at = 2;
    image.markers = "D8";
    while (at + 4 <= b.size() && b[at] == 0xFF) {
        const uint8_t marker = b[at + 1];
        const size_t length = size_t(b[at + 2]) << 8 | b[at + 3];
        const Bytes body(b.begin() + at + 4, b.begin() + std::min(b.size(), at + 2 + length));
        std::snprintf(text, sizeof text, " %02X", marker);
        image.markers += text;
        if (marker == 0xDB) {
            image.tables += (image.tables.empty() ? "" : " ") + std::to_string(body.size() - 1);
            if (image.firstTable.empty()) image.firstTable.assign(body.begin() + 1, body.end());
        } else if (marker == 0xDD) {
            image.restartInterval = unsigned(body[0]) << 8 | body[1];
        } else if (marker == 0xC0) {
            image.height = unsigned(body[1]) << 8 | body[2];
            image.width = unsigned(body[3]) << 8 | body[4];
            for (int c = 0; c < 3; ++c) {
                std::snprintf(text, sizeof text, "%s%u:%02X:%u", c ? " " : "", body[6 + 3 * c], body[7 + 3 * c],
                              body[8 + 3 * c]);
                image.components += text;
            }
        }
        at += 2 + length;
        if (marker == 0xDA) break;
    }
    image.scan.assign(b.begin() + std::min(at, b.size()), b.end());
    return image;
}

// Q 50 gives the Annex K tables themselves; below, the factor 5000 / Q
// (Q 0 counts as 1); above 99 the factor 2. Tables are in zig-zag order.
TEST(JpegQuantizer, TablesFromQ) {
    struct Row {
        uint8_t q;
        bool chrominance;
        Bytes first8;
        uint8_t last;
    };
    const Row kRows[] = {
        {50, false, {16, 11, 12, 14, 12, 10, 16, 14}, 99},
        {50, true, {17, 18, 18, 24, 21, 24, 47, 26}, 99},
        {10, false, {80, 55, 60, 70, 60, 50, 80, 70}, 255},  // 99 x 5 = 495, clamped
        {0, false, {255, 255, 255, 255, 255, 255, 255, 255}, 255},
        {100, false, {1, 1, 1, 1, 1, 1, 1, 1}, 2},  // (16 x 2 + 50) / 100 = 0: at least 1
        {127, true, {1, 1, 1, 1, 1, 1, 1, 1}, 2},
    };
    for (const Row& row : kRows) {
        SCOPED_TRACE("Q " + std::to_string(row.q) + (row.chrominance ? " chrominance" : " luminance"));
        uint8_t table[64];
        dravnel::MakeQuantizerTable(row.q, row.chrominance, table);
        EXPECT_EQ(Bytes(table, table + 8), row.first8);
        EXPECT_EQ(table[63], row.last);
    }
}

// The image in one line: markers, DQT table sizes, SOF0 components (id,
// sampling, table), size, DRI interval.
std::string Summary(const Image& i) {
    return i.markers + " | " + i.tables + " | " + i.components + " | " + std::to_string(i.width) + "x" +
           std::to_string(i.height) + " | " + std::to_string(i.restartInterval);
}

// The two header layouts, from the payload of a whole frame.
TEST(JpegImage, HeaderLayouts) {
    const Bytes scan = Scan(1000);
    const Bytes tables128 = Tables(128), tables64 = Tables(64);
    struct Row {
        const char* name;
        Bytes frame;
        std::string image;      // its Summary; the four DHT and SOS follow the markers given
        Bytes firstTable = {};  // empty: not checked
    };
    const Row kRows[] = {
        {"computed, type 1",
         Cat({MainHeader(1, 50, 40, 30), scan}),
         "D8 DB DB C0 | 64 64 | 0:22:0 1:11:1 2:11:1 | 320x240 | 0",
         {16, 11, 12, 14}},
        {"computed, type 0", Cat({MainHeader(0, 50, 40, 30), scan}),
         "D8 DB DB C0 | 64 64 | 0:21:0 1:11:1 2:11:1 | 320x240 | 0"},
        // The restart marker header is not scan data, and DRI tells the
        // decoder the interval.
        {"computed, type 65", Cat({MainHeader(65, 50, 40, 30), RestartHeader(16), scan}),
         "D8 DB DB DD C0 | 64 64 | 0:22:0 1:11:1 2:11:1 | 320x240 | 16"},
        {"computed, type 64", Cat({MainHeader(64, 50, 40, 30), RestartHeader(20), scan}),
         "D8 DB DB DD C0 | 64 64 | 0:21:0 1:11:1 2:11:1 | 320x240 | 20"},
        {"stream, 128 table bytes", Cat({MainHeader(0, 255, 40, 30), TableHeader(0, tables128), scan}),
         "D8 E0 DB DB C0 | 64 64 | 1:21:0 2:11:1 3:11:1 | 320x240 | 0",
         Bytes(tables128.begin(), tables128.begin() + 64)},
        {"stream, 64 table bytes", Cat({MainHeader(1, 255, 40, 30), TableHeader(0, tables64), scan}),
         "D8 E0 DB C0 | 64 | 1:22:0 2:11:0 3:11:0 | 320x240 | 0", tables64},
        {"stream, type 65", Cat({MainHeader(65, 255, 40, 30), RestartHeader(16), TableHeader(0, tables128), scan}),
         "D8 E0 DD DB DB C0 | 64 64 | 1:22:0 2:11:1 3:11:1 | 320x240 | 16"},
        // MBZ not 0: the tables of Q (255 counts as 99), the stream's skipped
        {"stream, MBZ 1",
         Cat({MainHeader(0, 255, 40, 30), TableHeader(1, tables64), scan}),
         "D8 E0 DB DB C0 | 64 64 | 1:21:0 2:11:1 3:11:1 | 320x240 | 0",
         {1, 1, 1, 1}},
        {"stream, no table bytes",
         Cat({MainHeader(0, 200, 40, 30), TableHeader(0, {}), scan}),
         "D8 E0 DB DB C0 | 64 64 | 1:21:0 2:11:1 3:11:1 | 320x240 | 0",
         {1, 1, 1, 1}},
        // 0 stands for 2048 in the image
        {"stream, width 0", Cat({MainHeader(0, 255, 0, 30), TableHeader(0, tables128), scan}),
         "D8 E0 DB DB C0 | 64 64 | 1:21:0 2:11:1 3:11:1 | 2048x240 | 0"},
    };
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.name);
        Bytes out(row.frame.size() + dravnel::kJpegHeaderRoom);
        dravnel::JpegImageSize size;
        const size_t length = dravnel::BuildJpegImage(row.frame, out.data(), out.size(), size);
        ASSERT_GT(length, 0u);
        out.resize(length);
        const Image image = ReadImage(out);
        std::string expected = row.image;
        expected.insert(expected.find(" |"), " C4 C4 C4 C4 DA");
        EXPECT_EQ(Summary(image), expected);
        EXPECT_EQ(size.width, row.frame[6] * 8u);
        if (!row.firstTable.empty()) {
            EXPECT_EQ(Bytes(image.firstTable.begin(), image.firstTable.begin() + long(row.firstTable.size())),
                      row.firstTable);
        }
        EXPECT_EQ(image.scan, scan);
    }
}

TEST(JpegImage, FramesThatMakeNoImage) {
    const std::pair<const char*, Bytes> kFrames[] = {
        {"the main header alone", MainHeader(1, 50, 40, 30)},
        {"computed, not longer than the header", Cat({MainHeader(1, 50, 40, 30), Scan(100)})},
        {"computed, type 65 without its restart header", Cat({MainHeader(65, 50, 40, 30), {1, 2}})},
        {"stream, fragment offset not 0",
         Cat({MainHeader(1, 255, 40, 30, 1000), TableHeader(0, Tables(64)), Scan(10)})},
        {"stream, tables beyond the frame", Cat({MainHeader(1, 255, 40, 30), {0, 0, 0, 128}, Tables(100)})},
        {"stream, no table header", Cat({MainHeader(1, 255, 40, 30), {0, 0}})},
        {"stream, header above 1024 bytes", Cat({MainHeader(1, 255, 40, 30), TableHeader(0, Tables(600)), Scan(10)})},
    };
    for (const auto& [name, frame] : kFrames) {
        SCOPED_TRACE(name);
        Bytes out(frame.size() + dravnel::kJpegHeaderRoom);
        dravnel::JpegImageSize size;
        EXPECT_EQ(dravnel::BuildJpegImage(frame, out.data(), out.size(), size), 0u);
    }
}

using JpegRig = dravnel::test::Depacketizer<dravnel::CJpegRTPMediaParser>;

// A frame of three fragments with restart markers: the later fragments'
// 12 header bytes are cut, the image reaches the host with its setters in
// the host's order.
TEST(JpegParser, FragmentsBecomeOneImage) {
    JpegRig rig;
    const Bytes scan = Scan(1500);
    const Bytes first = Cat({MainHeader(65, 255, 40, 30), RestartHeader(16), TableHeader(0, Tables(128)),
                             Bytes(scan.begin(), scan.begin() + 500)});
    rig.Send(first);
    rig.Send(
        Cat({MainHeader(65, 255, 40, 30, 500), RestartHeader(16), Bytes(scan.begin() + 500, scan.begin() + 1000)}));
    rig.Send(Cat({MainHeader(65, 255, 40, 30, 1000), RestartHeader(16), Bytes(scan.begin() + 1000, scan.end())}), true);

    const auto frames = rig.sink.Frames();
    ASSERT_EQ(frames.size(), 1u);
    const auto& f = frames[0];
    EXPECT_EQ(f.allocationTag, dravnel::kCodecTagJpeg);
    EXPECT_EQ(f.calls, (std::vector<std::string>{"size", "width", "height", "class", "time"}));
    EXPECT_EQ(std::make_tuple(f.width, f.height, f.sizeClass), std::make_tuple(320u, 240u, 2u));
    EXPECT_EQ(ReadImage(f.data).scan, scan);
    EXPECT_EQ(ReadImage(f.data).restartInterval, 16u);
    EXPECT_EQ(rig.allocator.allocated.load(), rig.allocator.released.load());
}

// Later fragments while the parser waits for a first one reset it; a lost
// packet drops the rest of its frame; a refused or unbuildable frame resets.
TEST(JpegParser, LostAndOrphanFragments) {
    JpegRig rig;
    const Bytes head = Cat({MainHeader(1, 50, 40, 30), Scan(400)});
    const Bytes tail = Cat({MainHeader(1, 50, 40, 30, 400), Scan(400, 9)});
    rig.Send(tail, true);  // no first fragment yet
    EXPECT_TRUE(rig.parser.WaitingForFirstFragment());
    rig.Send(head);
    ++rig.sequence;  // lost
    rig.Send(tail, true);
    rig.Send(Cat({MainHeader(1, 50, 40, 30), Scan(100)}), true);  // not longer than layout A's header
    EXPECT_TRUE(rig.parser.WaitingForFirstFragment());
    rig.Send(head);
    rig.Send(tail, true);
    rig.sink.accept = false;
    rig.Send(head);
    rig.Send(tail, true);
    EXPECT_TRUE(rig.parser.WaitingForFirstFragment());
    ASSERT_EQ(rig.sink.Frames().size(), 1u);
    EXPECT_EQ(ReadImage(rig.sink.Frames()[0].data).scan, Cat({Scan(400), Scan(400, 9)}));
    EXPECT_EQ(rig.allocator.allocated.load(), rig.allocator.released.load());
}

// ---- MPEG-4 --------------------------------------------------------------

// Visual object sequence, visual object, video object and video object layer
// headers as avenc_mpeg4 writes them for 320 x 240 (30 bytes), then its GOV.
const Bytes kConfig = FromHex("000001b001000001b58913000001000000012000c48d8ffffd0a041e1463");
const Bytes kGov = FromHex("000001b3001007");
const Bytes kIVop = FromHex("000001b6100c1234");  // vop_coding_type 00
const Bytes kPVop = FromHex("000001b650a35678");  // vop_coding_type 01
const Bytes kUserData = FromHex("000001b2414c41524d05ffff");

// The VOL reader: the recorded headers; each required value changed; cut short.
TEST(Mp4Headers, ReadFrameSize) {
    const auto with = [](size_t at, uint8_t value) {
        Bytes b = kConfig;
        b[at] = value;
        return b;
    };
    const std::pair<Bytes, std::string> kCases[] = {
        {kConfig, "320x240"},
        {Cat({kConfig, kGov, kIVop}), "320x240"},
        // user data after the sequence header is skipped
        {Cat({Bytes(kConfig.begin(), kConfig.begin() + 5), kUserData, Bytes(kConfig.begin() + 5, kConfig.end())}),
         "320x240"},
        {with(3, 0xB1), "none"},      // not a visual object sequence
        {with(10, 0x23), "none"},     // visual object type 2 (still texture)
        {with(20, 0x44), "none"},     // video_object_type_indication 0 (its last bit is the top one here)
        {with(19, 0x08), "320x240"},  // ... 17, advanced simple
        {with(22, 0x9F), "none"},     // video_object_layer_shape 1, binary
        {Bytes(kConfig.begin(), kConfig.end() - 2), "none"},  // the height cut off
        {{}, "none"},
    };
    for (const auto& [bytes, size] : kCases) {
        uint32_t w = 0, h = 0;
        const bool ok = dravnel::CMP4Parser::ReadFrameSize(bytes, w, h);
        EXPECT_EQ(ok ? std::to_string(w) + "x" + std::to_string(h) : "none", size) << ::testing::PrintToString(bytes);
    }
}

using Mpeg4Rig = dravnel::test::Depacketizer<dravnel::CMpeg4RTPMediaParser>;

// In-band configuration: a packet of headers alone is kept and gives no
// frame; an I-VOP gets it in front ("DIVX"), P-VOPs not ("DIVI", the last
// size). User data before a VOP belongs to its frame.
TEST(Mpeg4Parser, InBandConfiguration) {
    Mpeg4Rig rig;
    rig.Send(kPVop, true);  // before any I-VOP
    rig.Send(kConfig, true);
    EXPECT_EQ(rig.parser.Headers().Configuration(), kConfig);
    EXPECT_TRUE(rig.sink.Frames().empty());
    rig.Send(kIVop, true);
    rig.Send(Cat({kConfig, kGov, kIVop}));
    rig.Send({0x11, 0x22}, true);
    rig.Send(kPVop, true);
    rig.Send(Cat({kUserData, kPVop}), true);
    EXPECT_EQ(rig.FrameData(), (std::vector<Bytes>{Cat({kConfig, kIVop}), Cat({kConfig, kGov, kIVop, {0x11, 0x22}}),
                                                   kPVop, Cat({kUserData, kPVop})}));
    std::vector<std::tuple<uint32_t, uint32_t, uint32_t>> fields;
    for (const auto& f : rig.sink.Frames()) {
        fields.emplace_back(f.codecTag, f.width, f.height);
        EXPECT_EQ(f.calls, (std::vector<std::string>{"width", "height", "class", "size", "tag", "time"}));
    }
    using dravnel::kCodecTagMpeg4Key, dravnel::kCodecTagMpeg4;
    EXPECT_EQ(fields, (decltype(fields){{kCodecTagMpeg4Key, 320, 240},
                                        {kCodecTagMpeg4Key, 320, 240},
                                        {kCodecTagMpeg4, 320, 240},
                                        {kCodecTagMpeg4, 320, 240}}));
}

// Without in-band headers the session description's config goes in front of
// an I-VOP. A packet of 64 bytes or more that opens with a sequence header
// but holds no VOP keeps the stored headers and is data of the frame.
TEST(Mpeg4Parser, SessionDescriptionConfig) {
    Mpeg4Rig rig;
    const dravnel::CodecConfig config{{}, {}, kConfig};
    rig.parser.SetCodecConfig(&config);
    rig.Send(kIVop, true);
    const Bytes longHeaders = Cat({kConfig, Bytes(70, 0x55)});
    rig.Send(kPVop);
    rig.Send(longHeaders, true);
    EXPECT_TRUE(rig.parser.Headers().Configuration().empty());
    EXPECT_EQ(rig.FrameData(), (std::vector<Bytes>{Cat({kConfig, kIVop}), Cat({kPVop, longHeaders})}));
}

// A key frame whose headers give no size (not rectangular, or none at all)
// is dropped and the parser waits for the next I-VOP; so does a refused frame.
TEST(Mpeg4Parser, UnreadableKeyFramesAndRefusals) {
    Mpeg4Rig rig;
    Bytes shaped = kConfig;
    shaped[22] |= 0x10;  // video_object_layer_shape 1, binary
    rig.Send(Cat({shaped, kIVop}), true);
    EXPECT_TRUE(rig.parser.WaitingForKeyFrame());
    rig.Send(kPVop, true);
    rig.Send(kIVop, true);  // the stored (shaped) headers in front
    EXPECT_TRUE(rig.parser.WaitingForKeyFrame());
    rig.sink.accept = false;
    rig.Send(Cat({kConfig, kIVop}), true);
    EXPECT_TRUE(rig.parser.WaitingForKeyFrame());
    rig.sink.accept = true;
    rig.Send(kPVop, true);
    rig.Send(kIVop);
    ++rig.sequence;  // lost
    rig.Send({0x01}, true);
    EXPECT_TRUE(rig.sink.Frames().empty());
    EXPECT_EQ(rig.allocator.allocated.load(), rig.allocator.released.load());
}

}  // namespace
