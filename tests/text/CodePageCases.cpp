#include "tests/text/CodePageCases.h"

#include <cstdio>
#include <random>

namespace velmora::test {
namespace {

constexpr char32_t kMaxCodePoint = 0x10FFFF;
// Characters per text of the exhaustive cases: one text per block keeps the cases few.
constexpr unsigned kBlockSize = 256;
// Enough random strings that every pair of pieces meets, in either order and across an ASCII
// run of each length, many times over.
constexpr std::uint32_t kMixedSeed = 0xC0DE9A6u;
constexpr int kMixedInputs = 20000;
constexpr std::uint32_t kUnitSeed = 0x0DD5u;
constexpr int kMixedUnitStrings = 5000;
// Pieces or runs in one random string: long enough for a piece to meet several others, short
// enough that a failure's input can be read.
constexpr std::uint32_t kMaxPieces = 12;
// A lone ASCII byte may be read as a GB18030 trail; two or more in a row never are.
constexpr std::uint32_t kMaxAsciiRun = 3;

bool IsSurrogate(char32_t codePoint) {
    return codePoint >= 0xD800 && codePoint <= 0xDFFF;
}

void AppendUnit(std::string& bytes, char16_t unit) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
}

// Pieces whose trail bytes look like ASCII, lead bytes without their trail, and lone trails.
const std::vector<std::string>& Pieces() {
    static const std::vector<std::string> pieces = {
        "\xE4\xB8\xAD",      // UTF-8 中
        "\xC3\xA9",          // UTF-8 é
        "\xF0\x9F\x98\x80",  // UTF-8 four bytes
        "\xE4\xB8",          // UTF-8 cut short
        "\xF0\x9F",          // UTF-8 cut short
        "\xED\xA0\x80",      // UTF-8 surrogate
        "\xC0\xAF",          // UTF-8 overlong
        "\xF4\x90\x80\x80",  // UTF-8 past U+10FFFF
        "\xEE\x9E\x8D",      // UTF-8 private use without a system code
        "\xD6\xD0",          // GB18030 中
        "\xB0\x41",          // GB18030 with an ASCII trail
        "\x81\x30\x81\x30",  // GB18030 four bytes
        "\x95\x34\xB2\x35",  // GB18030 beyond the BMP
        "\x84\x31\xA5\x30",  // GB18030 four bytes without a character
        "\x81\x30",          // GB18030 four bytes cut short
        "\x81\x30\x81",      // GB18030 four bytes cut short
        "\x80",
        "\xFF",
        "\x81",
        "\xBF",
        "\xFE",  // stray bytes
    };
    return pieces;
}

// UTF-16 units: ASCII, BMP characters, noncharacters, surrogates alone and paired.
const std::vector<std::u16string>& UnitPieces() {
    static const std::vector<std::u16string> pieces = {
        u"a",
        u"\u4E2D",
        u"\u0080",
        u"\uFFFE",
        u"\uFFFF",
        u"\U0001F600",
        u"\U0010FFFF",
        {static_cast<char16_t>(0xD800)},
        {static_cast<char16_t>(0xDBFF)},
        {static_cast<char16_t>(0xDC00)},
        {static_cast<char16_t>(0xDFFF)},
    };
    return pieces;
}

std::string MixedInput(std::mt19937& random) {
    constexpr std::string_view kAscii = "aZ0\t\r\n <@~\x7F";
    std::string input;
    const std::uint32_t count = random() % (kMaxPieces + 1);
    for (std::uint32_t i = 0; i < count; ++i) {
        if (random() % 2 == 0) {
            const std::uint32_t run = 1 + random() % kMaxAsciiRun;
            for (std::uint32_t k = 0; k < run; ++k) input += kAscii[random() % kAscii.size()];
        } else {
            input += Pieces()[random() % Pieces().size()];
        }
    }
    return input;
}

std::string MixedUnits(std::mt19937& random) {
    std::string bytes;
    const std::uint32_t count = random() % (kMaxPieces + 1);
    for (std::uint32_t i = 0; i < count; ++i) {
        for (const char16_t unit : UnitPieces()[random() % UnitPieces().size()]) {
            AppendUnit(bytes, unit);
        }
    }
    return bytes;
}

std::string Hex(unsigned value) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%04X", value);
    return hex;
}

// Each character of the block of `first`, followed by an ASCII letter.
std::string Utf8Block(char32_t first) {
    std::string utf8;
    for (char32_t codePoint = first; codePoint < first + kBlockSize; ++codePoint) {
        if (codePoint >= 0x80 && !IsSurrogate(codePoint)) utf8 += Utf8Of(codePoint) + "a";
    }
    return utf8;
}

}  // namespace

std::vector<CodePageCase> CodePageCases() {
    std::vector<CodePageCase> cases;
    std::vector<char32_t> blocks;
    for (char32_t first = 0; first < 0x10000; first += kBlockSize) blocks.push_back(first);
    for (char32_t plane = 0x10000; plane < kMaxCodePoint; plane += 0x10000) {
        blocks.push_back(plane);
        blocks.push_back(plane + 0x10000 - kBlockSize);
    }
    for (const char32_t first : blocks) {
        const std::string utf8 = Utf8Block(first);
        if (utf8.empty()) continue;  // ASCII, surrogates
        const std::string name = "UTF-8 of U+" + Hex(first) + "..";
        cases.push_back({Conversion::kUtf8ToSystem, utf8, name});
        cases.push_back({Conversion::kUtf8ToUtf16, utf8, name});
    }
    // Lone leads, and bytes that are no trail, come out as iconv has them.
    for (unsigned lead = 0; lead < kBlockSize; ++lead) {
        std::string system;
        std::string utf16;
        for (unsigned low = 0; low < kBlockSize; ++low) {
            system += {static_cast<char>(lead), static_cast<char>(low), 'b'};
            AppendUnit(utf16, static_cast<char16_t>(lead << 8 | low));
            AppendUnit(utf16, u'a');
        }
        cases.push_back({Conversion::kSystemToUtf8, system, "system bytes " + Hex(lead) + ".."});
        cases.push_back({Conversion::kUtf16ToUtf8, utf16, "UTF-16 units " + Hex(lead) + ".."});
    }
    const std::vector<std::string> mixed = MixedInputs(kMixedSeed, kMixedInputs);
    for (std::size_t round = 0; round < mixed.size(); ++round) {
        const std::string name = "mixed input " + std::to_string(round);
        for (const Conversion conversion :
             {Conversion::kUtf8ToSystem, Conversion::kSystemToUtf8, Conversion::kUtf8ToUtf16}) {
            cases.push_back({conversion, mixed[round], name});
        }
    }
    std::mt19937 random(kUnitSeed);
    for (int round = 0; round < kMixedUnitStrings; ++round) {
        cases.push_back(
            {Conversion::kUtf16ToUtf8, MixedUnits(random), "mixed units " + std::to_string(round)});
    }
    return cases;
}

std::vector<std::string> MixedInputs(std::uint32_t seed, int count) {
    std::mt19937 random(seed);
    std::vector<std::string> inputs;
    for (int round = 0; round < count; ++round) inputs.push_back(MixedInput(random));
    return inputs;
}

std::string Utf8Of(char32_t codePoint) {
    if (codePoint < 0x800) {
        return {static_cast<char>(0xC0 | codePoint >> 6),
                static_cast<char>(0x80 | (codePoint & 0x3F))};
    }
    if (codePoint >= 0x10000) {
        return {static_cast<char>(0xF0 | codePoint >> 18),
                static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)),
                static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)),
                static_cast<char>(0x80 | (codePoint & 0x3F))};
    }
    return {static_cast<char>(0xE0 | codePoint >> 12),
            static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)),
            static_cast<char>(0x80 | (codePoint & 0x3F))};
}

std::string ShowBytes(std::string_view bytes) {
    std::string shown;
    for (const unsigned char c : bytes) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X ", c);
        shown += hex;
    }
    return shown;
}

}  // namespace velmora::test
