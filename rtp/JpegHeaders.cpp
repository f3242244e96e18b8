#include "rtp/JpegHeaders.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace dravnel {

namespace {

// ITU-T T.81 Annex K.1, natural (row by row) order.
constexpr uint8_t kLuminanceTable[64] = {
    16, 11,  10,  16, 24, 40, 51, 61, 12,  12,  14,  19,  26, 58, 60, 55,  14,  13,  16,  24, 40, 57,
    69, 56,  14,  17, 22, 29, 51, 87, 80,  62,  18,  22,  37, 56, 68, 109, 103, 77,  24,  35, 55, 64,
    81, 104, 113, 92, 49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98,  112, 100, 103, 99,
};
constexpr uint8_t kChrominanceTable[64] = {
    17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99, 24, 26, 56, 99, 99, 99,
    99, 99, 47, 66, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
};
// Natural-order index of each zig-zag position (T.81 Figure A.6).
constexpr uint8_t kZigZag[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
};

// T.81 Annex K.3 Huffman tables as DHT bodies: class/identifier byte, the 16
// code counts, the symbols.
constexpr uint8_t kLumDc[] = {
    0x00, 0x00, 0x01, 0x05, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B,
};
constexpr uint8_t kLumAc[] = {
    0x10, 0x00, 0x02, 0x01, 0x03, 0x03, 0x02, 0x04, 0x03, 0x05, 0x05, 0x04, 0x04, 0x00, 0x00, 0x01, 0x7D, 0x01,
    0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61, 0x07, 0x22, 0x71, 0x14,
    0x32, 0x81, 0x91, 0xA1, 0x08, 0x23, 0x42, 0xB1, 0xC1, 0x15, 0x52, 0xD1, 0xF0, 0x24, 0x33, 0x62, 0x72, 0x82,
    0x09, 0x0A, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2A, 0x34, 0x35, 0x36, 0x37, 0x38,
    0x39, 0x3A, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5A,
    0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6A, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7A, 0x83, 0x84,
    0x85, 0x86, 0x87, 0x88, 0x89, 0x8A, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9A, 0xA2, 0xA3, 0xA4,
    0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7, 0xB8, 0xB9, 0xBA, 0xC2, 0xC3, 0xC4,
    0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0xDA, 0xE1, 0xE2, 0xE3,
    0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0xEA, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA,
};
constexpr uint8_t kChromDc[] = {
    0x01, 0x00, 0x03, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B,
};
constexpr uint8_t kChromAc[] = {
    0x11, 0x00, 0x02, 0x01, 0x02, 0x04, 0x04, 0x03, 0x04, 0x07, 0x05, 0x04, 0x04, 0x00, 0x01, 0x02, 0x77, 0x00,
    0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61, 0x71, 0x13, 0x22, 0x32,
    0x81, 0x08, 0x14, 0x42, 0x91, 0xA1, 0xB1, 0xC1, 0x09, 0x23, 0x33, 0x52, 0xF0, 0x15, 0x62, 0x72, 0xD1, 0x0A,
    0x16, 0x24, 0x34, 0xE1, 0x25, 0xF1, 0x17, 0x18, 0x19, 0x1A, 0x26, 0x27, 0x28, 0x29, 0x2A, 0x35, 0x36, 0x37,
    0x38, 0x39, 0x3A, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59,
    0x5A, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6A, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7A, 0x82,
    0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8A, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9A, 0xA2,
    0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7, 0xB8, 0xB9, 0xBA, 0xC2,
    0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0xDA, 0xE2,
    0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0xEA, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA,
};
constexpr size_t kMainHeader = 8;
constexpr size_t kRestartHeader = 4;
constexpr size_t kTableHeader = 4;

bool HasRestartHeader(uint8_t type) { return type >= 64 && type <= 127; }

// A header under construction; never longer than its room.
class HeaderWriter {
public:
    bool ok() const { return ok_; }
    size_t size() const { return size_; }
    const uint8_t* data() const { return bytes_.data(); }

    void U8(uint8_t v) { Bytes({&v, 1}); }
    void U16(uint16_t v) {
        const uint8_t b[] = {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
        Bytes(b);
    }
    void Bytes(std::span<const uint8_t> b) {
        if (!ok_ || b.size() > bytes_.size() - size_) {
            ok_ = false;
            return;
        }
        std::memcpy(bytes_.data() + size_, b.data(), b.size());
        size_ += b.size();
    }
    void Marker(uint8_t code) {
        U8(0xFF);
        U8(code);
    }

private:
    std::array<uint8_t, kJpegHeaderRoom> bytes_;
    size_t size_ = 0;
    bool ok_ = true;
};

void WriteDqt(HeaderWriter& w, uint8_t id, std::span<const uint8_t> table) {
    w.Marker(0xDB);
    w.U16(static_cast<uint16_t>(3 + table.size()));
    w.U8(id);  // precision 0 (8-bit), identifier
    w.Bytes(table);
}

void WriteDri(HeaderWriter& w, uint16_t interval) {
    w.Marker(0xDD);
    w.U16(4);
    w.U16(interval);
}

struct Component {
    uint8_t id, sampling, table;
};

void WriteSof0(HeaderWriter& w, uint16_t width, uint16_t height, const Component (&components)[3]) {
    w.Marker(0xC0);
    w.U16(17);
    w.U8(8);  // sample precision
    w.U16(height);
    w.U16(width);
    w.U8(3);
    for (const Component& c : components) {
        w.U8(c.id);
        w.U8(c.sampling);
        w.U8(c.table);
    }
}

void WriteDhts(HeaderWriter& w) {
    for (std::span<const uint8_t> table : {std::span<const uint8_t>(kLumDc), std::span<const uint8_t>(kLumAc),
                                           std::span<const uint8_t>(kChromDc), std::span<const uint8_t>(kChromAc)}) {
        w.Marker(0xC4);
        w.U16(static_cast<uint16_t>(2 + table.size()));
        w.Bytes(table);
    }
}

// Luminance DC/AC tables 0 for the first component, chrominance 1 for the others.
void WriteSos(HeaderWriter& w, const uint8_t (&ids)[3]) {
    w.Marker(0xDA);
    w.U16(12);
    w.U8(3);
    w.U8(ids[0]);
    w.U8(0x00);
    w.U8(ids[1]);
    w.U8(0x11);
    w.U8(ids[2]);
    w.U8(0x11);
    w.U8(0);   // Ss
    w.U8(63);  // Se
    w.U8(0);   // Ah/Al
}

size_t Assemble(const HeaderWriter& header, std::span<const uint8_t> scan, uint8_t* out, size_t capacity) {
    if (!header.ok() || header.size() > capacity || scan.size() > capacity - header.size()) return 0;
    std::memcpy(out, header.data(), header.size());
    if (!scan.empty()) std::memcpy(out + header.size(), scan.data(), scan.size());
    return header.size() + scan.size();
}

// Layout A: tables from Q, the header of RFC 2435 Appendix B.
size_t BuildComputedTables(std::span<const uint8_t> frame, uint8_t* out, size_t capacity) {
    const uint8_t type = frame[4];
    const uint8_t q = frame[5];
    size_t scanOffset = kMainHeader;
    uint16_t restartInterval = 0;
    if (HasRestartHeader(type)) {
        // The restart marker header is not scan data, and the decoder needs
        // the interval to find its way through the restart markers.
        if (frame.size() < kMainHeader + kRestartHeader) return 0;
        restartInterval = static_cast<uint16_t>(frame[8] << 8 | frame[9]);
        scanOffset += kRestartHeader;
    }
    // Types 64..127 are types 0..63 with restart markers.
    const uint8_t baseType = HasRestartHeader(type) ? static_cast<uint8_t>(type - 64) : type;

    uint8_t luminance[64], chrominance[64];
    MakeQuantizerTable(q, false, luminance);
    MakeQuantizerTable(q, true, chrominance);

    HeaderWriter w;
    w.Marker(0xD8);
    WriteDqt(w, 0, luminance);
    WriteDqt(w, 1, chrominance);
    if (restartInterval != 0) WriteDri(w, restartInterval);
    WriteSof0(w, static_cast<uint16_t>(frame[6] * 8), static_cast<uint16_t>(frame[7] * 8),
              {{0, static_cast<uint8_t>(baseType == 0 ? 0x21 : 0x22), 0}, {1, 0x11, 1}, {2, 0x11, 1}});
    WriteDhts(w);
    WriteSos(w, {0, 1, 2});
    if (w.size() >= frame.size()) return 0;
    return Assemble(w, frame.subspan(scanOffset), out, capacity);
}

// Layout B: tables from the stream.
size_t BuildStreamTables(std::span<const uint8_t> frame, uint8_t* out, size_t capacity) {
    const uint32_t fragmentOffset = uint32_t{frame[1]} << 16 | uint32_t{frame[2]} << 8 | frame[3];
    if (fragmentOffset != 0) return 0;
    const uint8_t type = frame[4];
    const uint8_t q = frame[5];
    size_t at = kMainHeader;
    uint16_t restartInterval = 0;
    if (HasRestartHeader(type)) {
        if (frame.size() < at + kRestartHeader) return 0;
        restartInterval = static_cast<uint16_t>(frame[8] << 8 | frame[9]);
        at += kRestartHeader;
    }
    if (frame.size() < at + kTableHeader) return 0;
    const uint8_t mbz = frame[at];
    const size_t length = size_t{frame[at + 2]} << 8 | frame[at + 3];
    at += kTableHeader;
    if (frame.size() - at < length) return 0;

    uint8_t computed[128];
    std::span<const uint8_t> tables = frame.subspan(at, length);
    if (mbz != 0 || length == 0) {
        MakeQuantizerTable(q, false, computed);
        MakeQuantizerTable(q, true, computed + 64);
        tables = computed;
    }
    at += length;
    const bool twoTables = tables.size() > 64;
    const size_t first = twoTables ? tables.size() / 2 : tables.size();

    // 0 stands for 2048 pixels (the largest the main header cannot hold).
    const uint16_t width = frame[6] ? static_cast<uint16_t>(frame[6] * 8) : 2048;
    const uint16_t height = frame[7] ? static_cast<uint16_t>(frame[7] * 8) : 2048;
    const uint8_t chromaTable = twoTables ? 1 : 0;

    HeaderWriter w;  // fails, and with it the image, beyond kJpegHeaderRoom
    w.Marker(0xD8);
    static constexpr uint8_t kJfif[] = {'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0};
    w.Marker(0xE0);
    w.U16(16);
    w.Bytes(kJfif);
    if (restartInterval != 0) WriteDri(w, restartInterval);
    WriteDqt(w, 0, tables.first(first));
    if (twoTables) WriteDqt(w, 1, tables.subspan(first, first));
    WriteSof0(w, width, height,
              {{1, static_cast<uint8_t>(type & 1 ? 0x22 : 0x21), 0}, {2, 0x11, chromaTable}, {3, 0x11, chromaTable}});
    WriteDhts(w);
    WriteSos(w, {1, 2, 3});
    return Assemble(w, frame.subspan(at), out, capacity);
}

}  // namespace

void MakeQuantizerTable(uint8_t q, bool chrominance, uint8_t out[64]) {
    const int clamped = std::clamp<int>(q, 1, 99);
    const int factor = clamped < 50 ? 5000 / clamped : 200 - 2 * clamped;
    const uint8_t* table = chrominance ? kChrominanceTable : kLuminanceTable;
    for (int i = 0; i < 64; ++i) {
        const int value = (table[kZigZag[i]] * factor + 50) / 100;
        out[i] = static_cast<uint8_t>(std::clamp(value, 1, 255));
    }
}

size_t BuildJpegImage(std::span<const uint8_t> frame, uint8_t* out, size_t capacity, JpegImageSize& size) {
    if (frame.size() <= kMainHeader) return 0;
    size.width = frame[6] * 8u;
    size.height = frame[7] * 8u;
    return frame[5] < 128 ? BuildComputedTables(frame, out, capacity) : BuildStreamTables(frame, out, capacity);
}

}  // namespace dravnel
