// Differential check of the conversions between UTF-8 and the system code page against iconv
// run over the whole input at once: every character of U+0080..U+FFFF and every two-byte
// system sequence, and random byte strings that mix ASCII runs with valid characters of both
// encodings, stray bytes and sequences cut short, so that malformed input meets every kind of
// boundary. The seed is fixed; a failure names the round.

#include <gtest/gtest.h>
#include <iconv.h>

#include <cerrno>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "text/CodePage.h"

namespace velmora {
namespace {

// The model: one iconv pass over the whole input; each unit that cannot be decoded becomes
// U+FFFD and the pass goes on at the next byte.
std::string WholeInputConversion(std::string_view input, const char* from, const char* to,
                                 std::string_view replacement) {
    iconv_t handle = iconv_open(to, from);
    EXPECT_NE(handle, reinterpret_cast<iconv_t>(-1));
    std::string output;
    char* in = const_cast<char*>(input.data());
    std::size_t inLeft = input.size();
    while (inLeft > 0) {
        char buffer[256];
        char* out = buffer;
        std::size_t outLeft = sizeof buffer;
        const std::size_t result = iconv(handle, &in, &inLeft, &out, &outLeft);
        output.append(buffer, static_cast<std::size_t>(out - buffer));
        if (result != static_cast<std::size_t>(-1) || errno == E2BIG) continue;
        output += replacement;
        ++in;
        --inLeft;
        iconv(handle, nullptr, nullptr, nullptr, nullptr);
    }
    iconv_close(handle);
    return output;
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
        "\xD6\xD0",          // GB18030 中
        "\xB0\x41",          // GB18030 with an ASCII trail
        "\x81\x30\x81\x30",  // GB18030 four bytes
        "\x95\x34\xB2\x35",  // GB18030 beyond the BMP
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

std::string RandomInput(std::mt19937& random) {
    constexpr int kMaxPieces = 12;
    constexpr std::string_view kAscii = "aZ0\t\r\n <@~\x7F";
    std::string input;
    const int count = std::uniform_int_distribution<int>(0, kMaxPieces)(random);
    for (int i = 0; i < count; ++i) {
        if (random() % 2 == 0) {
            const int run = std::uniform_int_distribution<int>(1, 3)(random);
            for (int k = 0; k < run; ++k) input += kAscii[random() % kAscii.size()];
        } else {
            input += Pieces()[random() % Pieces().size()];
        }
    }
    return input;
}

std::string Show(std::string_view bytes) {
    std::string shown;
    for (unsigned char c : bytes) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X ", c);
        shown += hex;
    }
    return shown;
}

std::string Utf8Of(unsigned codePoint) {
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

// Each block of 256 goes through as one text, its characters between ASCII letters; surrogate
// code points, lone leads and bytes that are no trail come out as iconv has them.
TEST(CodePageDifferentialTest, EveryTwoAndThreeByteCharacterAndEveryTwoByteSequence) {
    for (unsigned block = 0; block < 256; ++block) {
        std::string utf8;
        std::string system;
        for (unsigned low = 0; low < 256; ++low) {
            const unsigned codePoint = block << 8 | low;
            if (codePoint >= 0x80) utf8 += Utf8Of(codePoint) + "a";
            system += {static_cast<char>(block), static_cast<char>(low), 'b'};
        }
        SCOPED_TRACE("block " + std::to_string(block));
        ASSERT_EQ(Utf8ToSystem(utf8),
                  WholeInputConversion(utf8, "UTF-8", "GB18030", "\x84\x31\xA4\x37"));
        ASSERT_EQ(SystemToUtf8(system),
                  WholeInputConversion(system, "GB18030", "UTF-8", "\xEF\xBF\xBD"));
    }
}

TEST(CodePageDifferentialTest, PieceWiseConversionEqualsWholeInputConversion) {
    constexpr unsigned kSeed = 0xC0DE9A6u;
    constexpr int kRounds = 20000;
    std::mt19937 random(kSeed);
    for (int round = 0; round < kRounds; ++round) {
        const std::string input = RandomInput(random);
        SCOPED_TRACE("round " + std::to_string(round) + " input " + Show(input));
        ASSERT_EQ(Show(Utf8ToSystem(input)),
                  Show(WholeInputConversion(input, "UTF-8", "GB18030", "\x84\x31\xA4\x37")));
        ASSERT_EQ(Show(SystemToUtf8(input)),
                  Show(WholeInputConversion(input, "GB18030", "UTF-8", "\xEF\xBF\xBD")));
    }
}

// SystemUtf8 stands for the round trip through the system code page: every character of every
// plane between ASCII letters (private-use ones and those the system code page reads back as
// another included), and the random inputs above with their malformed pieces.
TEST(CodePageDifferentialTest, SystemUtf8IsTheRoundTripThroughTheSystemCodePage) {
    auto check = [](const std::string& input) {
        const SystemUtf8 text = SystemUtf8::FromUtf8(input);
        ASSERT_EQ(Show(text.utf8()), Show(SystemToUtf8(Utf8ToSystem(input))));
        ASSERT_EQ(Show(text.ToSystem()), Show(Utf8ToSystem(input)));
    };
    for (unsigned block = 0; block <= 0x10FF; ++block) {
        std::vector<std::string> characters;
        std::string utf8;
        for (unsigned low = 0; low < 256; ++low) {
            const unsigned codePoint = block << 8 | low;
            if (codePoint < 0x80 || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) continue;
            characters.push_back(Utf8Of(codePoint));
            utf8 += characters.back() + "a";
        }
        SCOPED_TRACE("block " + std::to_string(block));
        check(utf8);
        // A block that does not come back whole is checked character by character, so that
        // each one's own verdict is tried.
        if (SystemToUtf8(Utf8ToSystem(utf8)) == utf8) continue;
        for (const std::string& character : characters) check(character);
    }
    std::mt19937 random(0x5EED17u);
    for (int round = 0; round < 20000; ++round) {
        const std::string input = RandomInput(random);
        SCOPED_TRACE("round " + std::to_string(round) + " input " + Show(input));
        check(input);
    }
}

}  // namespace
}  // namespace velmora
