#pragma once
// GB18030, the system code page, one character at a time: what its bytes read as and how a code
// point is written in it. The mapping is the one glibc's iconv has, which the program always
// converted with; tables made from it at build time (tables/GenerateCodePageTables.cpp) carry it,
// so that every platform converts alike and none needs iconv or a code page of its own. The
// lookups are a template over where the tables live, so that the generator checks these very
// lookups, over the tables it made, against iconv before it writes them.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>

namespace velmora::gb18030 {

constexpr char32_t kMaxCodePoint = 0x10FFFF;
constexpr char32_t kNoCharacter = 0xFFFFFFFF;

// A two-byte code is a lead byte and a trail byte from 0x40 on (0x7F and 0xFF are no trail).
// The two-byte table has a row per lead and a column per byte 0x40..0xFF.
constexpr unsigned kFirstLead = 0x81;
constexpr unsigned kLastLead = 0xFE;
constexpr unsigned kLeads = kLastLead - kFirstLead + 1;
constexpr unsigned kFirstTrail = 0x40;
constexpr unsigned kTrailColumns = 0x100 - kFirstTrail;
constexpr unsigned kTwoByteCodes = kLeads * kTrailColumns;
// No two-byte code reads as a surrogate, so the table's entries in that range stand for the
// characters beyond the BMP that a few codes read as: entry kBeyondBmpMark + i is the i-th of
// Tables::kTwoByteBeyondBmp.
constexpr std::uint16_t kBeyondBmpMark = 0xD800;
constexpr std::uint16_t kBeyondBmpMarkEnd = 0xE000;

// A four-byte code is lead, digit, lead, digit; the codes are numbered in that order from
// 0x81308130 on ("linear"). The standard gives U+10000..U+10FFFF the codes from 0x90308130 on,
// in order; below them, Tables::kFourByteRanges says which code point each code reads as.
constexpr unsigned kFirstDigit = 0x30;
constexpr unsigned kDigits = 10;
constexpr std::uint32_t kFirstBeyondBmpLinear = (0x90 - kFirstLead) * kDigits * kLeads * kDigits;
constexpr char32_t kFirstBeyondBmp = 0x10000;

constexpr bool IsLead(unsigned byte) {
    return byte >= kFirstLead && byte <= kLastLead;
}

constexpr bool IsDigit(unsigned byte) {
    return byte >= kFirstDigit && byte < kFirstDigit + kDigits;
}

constexpr std::uint32_t Linear(unsigned b1, unsigned b2, unsigned b3, unsigned b4) {
    return (((b1 - kFirstLead) * kDigits + (b2 - kFirstDigit)) * kLeads + (b3 - kFirstLead)) *
               kDigits +
           (b4 - kFirstDigit);
}

// Four-byte codes that read as consecutive code points of the BMP, from `linear` and
// `codePoint` on. The order of the codes is not quite that of the code points (0x8135F437 reads
// as a private-use one), so the ranges are kept in each order.
struct FourByteRange {
    std::uint16_t linear;
    std::uint16_t codePoint;
    std::uint16_t count;
};

// The tables by code point are split in blocks of 256 code points; blocks alike are kept once.
constexpr unsigned kBlockSize = 256;
constexpr unsigned kBlockCount = (kMaxCodePoint + 1) / kBlockSize;
constexpr unsigned kBitsPerWord = 64;
constexpr unsigned kRoundTripWords = kBlockSize / kBitsPerWord;

// Tables holds, as static members:
//   kTwoByte[kTwoByteCodes]: the code point of each two-byte code, 0 for none (std::uint16_t);
//   kTwoByteBeyondBmp[]: see kBeyondBmpMark (char32_t);
//   kFourByteRanges[], kFourByteRangesByCodePoint[]: FourByteRange;
//   kEncodeBlockOf[kBlockCount], kEncodeBlocks[][kBlockSize]: the two-byte code written for each
//     code point, lead byte high, 0 when it has none (std::uint8_t, std::uint16_t);
//   kRoundTripBlockOf[kBlockCount], kRoundTripBlocks[][kRoundTripWords]: a bit for each code
//     point that reads back as itself once written (std::uint8_t, std::uint64_t).
template <typename Tables>
class Lookup {
public:
    // The character that the `size` bytes at `bytes` start with: its length in bytes, 0 when
    // they start with none (a byte that leads nothing, a code cut short or without a character).
    static std::size_t Decode(const unsigned char* bytes, std::size_t size, char32_t& codePoint) {
        const unsigned lead = bytes[0];
        if (lead < 0x80) {
            codePoint = lead;
            return 1;
        }
        if (!IsLead(lead) || size < 2) return 0;
        const unsigned second = bytes[1];
        if (second >= kFirstTrail) {
            codePoint = TwoByte(lead, second);
            return codePoint == kNoCharacter ? 0 : 2;
        }
        if (!IsDigit(second) || size < 4 || !IsLead(bytes[2]) || !IsDigit(bytes[3])) return 0;
        codePoint = FourByte(Linear(lead, second, bytes[2], bytes[3]));
        return codePoint == kNoCharacter ? 0 : 4;
    }

    // The code point of the two-byte code `lead`, `trail` (trail >= kFirstTrail).
    static char32_t TwoByte(unsigned lead, unsigned trail) {
        const std::uint16_t entry =
            Tables::kTwoByte[(lead - kFirstLead) * kTrailColumns + (trail - kFirstTrail)];
        if (entry == 0) return kNoCharacter;
        if (entry >= kBeyondBmpMark && entry < kBeyondBmpMarkEnd) {
            return Tables::kTwoByteBeyondBmp[entry - kBeyondBmpMark];
        }
        return entry;
    }

    static char32_t FourByte(std::uint32_t linear) {
        if (linear >= kFirstBeyondBmpLinear) {
            const std::uint32_t offset = linear - kFirstBeyondBmpLinear;
            return offset <= kMaxCodePoint - kFirstBeyondBmp ? kFirstBeyondBmp + offset
                                                             : kNoCharacter;
        }
        const auto first = std::begin(Tables::kFourByteRanges);
        auto range = std::upper_bound(
            first, std::end(Tables::kFourByteRanges), linear,
            [](std::uint32_t value, const FourByteRange& r) { return value < r.linear; });
        if (range == first) return kNoCharacter;
        --range;
        const std::uint32_t offset = linear - range->linear;
        return offset < range->count ? range->codePoint + offset : kNoCharacter;
    }

    // Writes the code of `codePoint` (a scalar value, no surrogate) at `out`, which has room for
    // four bytes, and gives its length: 0 when GB18030 has no code for it.
    static std::size_t Encode(char32_t codePoint, char* out) {
        if (codePoint < 0x80) {
            out[0] = static_cast<char>(codePoint);
            return 1;
        }
        if (codePoint > kMaxCodePoint) return 0;
        const std::uint16_t code =
            Tables::kEncodeBlocks[Tables::kEncodeBlockOf[codePoint / kBlockSize]]
                                 [codePoint % kBlockSize];
        if (code != 0) {
            out[0] = static_cast<char>(code >> 8);
            out[1] = static_cast<char>(code & 0xFF);
            return 2;
        }
        std::uint32_t linear = 0;
        if (codePoint >= kFirstBeyondBmp) {
            linear = kFirstBeyondBmpLinear + (codePoint - kFirstBeyondBmp);
        } else if (!FourByteLinear(codePoint, linear)) {
            return 0;
        }
        out[3] = static_cast<char>(kFirstDigit + linear % kDigits);
        linear /= kDigits;
        out[2] = static_cast<char>(kFirstLead + linear % kLeads);
        linear /= kLeads;
        out[1] = static_cast<char>(kFirstDigit + linear % kDigits);
        out[0] = static_cast<char>(kFirstLead + linear / kDigits);
        return 4;
    }

    // True when `codePoint` (U+0080 or above, no surrogate) has a code that reads back as it.
    static bool ComesBack(char32_t codePoint) {
        const std::uint64_t word =
            Tables::kRoundTripBlocks[Tables::kRoundTripBlockOf[codePoint / kBlockSize]]
                                    [codePoint % kBlockSize / kBitsPerWord];
        return ((word >> (codePoint % kBitsPerWord)) & 1) != 0;
    }

private:
    static bool FourByteLinear(char32_t codePoint, std::uint32_t& linear) {
        const auto first = std::begin(Tables::kFourByteRangesByCodePoint);
        auto range = std::upper_bound(
            first, std::end(Tables::kFourByteRangesByCodePoint), codePoint,
            [](char32_t value, const FourByteRange& r) { return value < r.codePoint; });
        if (range == first) return false;
        --range;
        const std::uint32_t offset = codePoint - range->codePoint;
        if (offset >= range->count) return false;
        linear = range->linear + offset;
        return true;
    }
};

}  // namespace velmora::gb18030
