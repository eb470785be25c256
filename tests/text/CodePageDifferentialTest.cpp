// Differential check of the conversions against the build machine's iconv converting the whole
// input at once (CodePageReference.h), over the cases of CodePageCases.h; and of SystemUtf8
// against the round trip it stands for. The random inputs are fixed; a failure names the case.

#include <gtest/gtest.h>

#include <exception>
#include <string>
#include <vector>

#include "tests/text/CodePageCases.h"
#include "tests/text/CodePageReference.h"
#include "text/CodePage.h"

namespace velmora::test {
namespace {

std::string BytesOfUnits(const std::u16string& units) {
    std::string bytes;
    for (const char16_t unit : units) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

std::u16string UnitsOfBytes(const std::string& bytes) {
    std::u16string units;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        units += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                       static_cast<unsigned char>(bytes[i + 1]) << 8);
    }
    return units;
}

// Shown in hex only when they differ.
::testing::AssertionResult SameBytes(const std::string& got, const std::string& expected) {
    if (got == expected) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "got      " << ShowBytes(got) << "\nexpected " << ShowBytes(expected);
}

std::string Convert(const CodePageCase& c) {
    switch (c.conversion) {
        case Conversion::kUtf8ToSystem:
            return Utf8ToSystem(c.input);
        case Conversion::kSystemToUtf8:
            return SystemToUtf8(c.input);
        case Conversion::kUtf8ToUtf16:
            return BytesOfUnits(Utf8ToUtf16(c.input));
        case Conversion::kUtf16ToUtf8:
            return Utf16ToUtf8(UnitsOfBytes(c.input));
    }
    return {};
}

TEST(CodePageDifferentialTest, ConversionsAgreeWithIconvOverTheWholeInput) {
    const std::vector<CodePageCase> cases = CodePageCases();
    std::vector<std::string> expected;
    try {
        expected = ReferenceOutputs(cases);
    } catch (const std::exception& e) {
        FAIL() << e.what();
    }
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const CodePageCase& c = cases[i];
        ASSERT_TRUE(SameBytes(Convert(c), expected[i]))
            << c.name << "\ninput    " << ShowBytes(c.input);
    }
}

// SystemUtf8 stands for the round trip through the system code page: every character of every
// plane between ASCII letters (private-use ones and those the system code page reads back as
// another included), and random inputs with their malformed pieces.
TEST(CodePageDifferentialTest, SystemUtf8IsTheRoundTripThroughTheSystemCodePage) {
    auto check = [](const std::string& input) {
        const SystemUtf8 text = SystemUtf8::FromUtf8(input);
        ASSERT_TRUE(SameBytes(text.utf8(), SystemToUtf8(Utf8ToSystem(input))))
            << "input    " << ShowBytes(input);
        ASSERT_TRUE(SameBytes(text.ToSystem(), Utf8ToSystem(input)))
            << "input    " << ShowBytes(input);
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
    constexpr std::uint32_t kSeed = 0x5EED17u;
    constexpr int kRounds = 20000;
    int round = 0;
    for (const std::string& input : MixedInputs(kSeed, kRounds)) {
        SCOPED_TRACE("round " + std::to_string(round++));
        check(input);
    }
}

}  // namespace
}  // namespace velmora::test
