// Conversions between the system code page, UTF-8 and UTF-16.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "text/CodePage.h"

namespace velmora {
namespace {

struct KnownText {
    const char* name;
    std::string utf8;
    std::string system;
    std::u16string utf16;
};

// The system bytes and UTF-16 units are written out rather than derived, so that a converter
// that is merely self-consistent (or falls back to '?') fails.
const std::vector<KnownText>& KnownTexts() {
    static const std::vector<KnownText> texts = {
        {"ascii", "Tel: 0755-1234\r\n", "Tel: 0755-1234\r\n", u"Tel: 0755-1234\r\n"},
        {"common characters", "中文", "\xD6\xD0\xCE\xC4", u"\u4E2D\u6587"},
        {"full-width space and digits", "　１２", "\xA1\xA1\xA3\xB1\xA3\xB2",
         u"\u3000\uFF11\uFF12"},
        {"euro sign", "€", "\xA2\xE3", u"\u20AC"},
        {"beyond the BMP, not in CP936", "𠮷", "\x95\x34\xB2\x35", u"\U00020BB7"},
        {"emoji", "😀", "\x94\x39\xFC\x36", u"\U0001F600"},
        {"beyond the BMP, with a two-byte code", "𠂇", "\xFE\x51", u"\U00020087"},
        {"BMP, with a four-byte code", "©", "\x81\x30\x84\x38", u"\u00A9"},
        {"mixed", "a中😀b",
         "a\xD6\xD0\x94\x39\xFC\x36"
         "b",
         u"a\u4E2D\U0001F600b"},
        {"empty", "", "", u""},
    };
    return texts;
}

TEST(CodePageTest, KnownTextsConvertBothWaysInEveryPair) {
    for (const KnownText& t : KnownTexts()) {
        EXPECT_EQ(Utf8ToSystem(t.utf8), t.system) << t.name;
        EXPECT_EQ(SystemToUtf8(t.system), t.utf8) << t.name;
        EXPECT_EQ(Utf8ToUtf16(t.utf8), t.utf16) << t.name;
        EXPECT_EQ(Utf16ToUtf8(t.utf16), t.utf8) << t.name;
        EXPECT_EQ(Utf8ToUtf16(SystemToUtf8(Utf8ToSystem(Utf16ToUtf8(t.utf16)))), t.utf16)
            << t.name << ": UTF-16 -> UTF-8 -> system -> UTF-8 -> UTF-16";
    }
}

TEST(CodePageTest, LongTextsGrowTheBufferWithoutLoss) {
    std::string utf8;
    for (int i = 0; i < 5000; ++i) utf8 += "公司😀a";
    const Text system = Utf8ToSystem(utf8);
    EXPECT_EQ(system.size(), 5000u * 9);
    EXPECT_EQ(SystemToUtf8(system), utf8);
    EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(utf8)), utf8);
}

struct MalformedCase {
    const char* name;
    std::string input;
    std::string expectedUtf8;
};

// U+FFFD as UTF-8.
const std::string R = "\xEF\xBF\xBD";

TEST(CodePageTest, MalformedUtf8BecomesReplacementsAndKeepsWhatFollows) {
    const std::vector<MalformedCase> cases = {
        {"invalid byte",
         "a\xFF"
         "b",
         "a" + R + "b"},
        {"stray continuation byte",
         "a\x80"
         "b",
         "a" + R + "b"},
        {"sequence cut by ascii",
         "\xE4\xB8"
         "x",
         R + R + "x"},
        {"overlong slash",
         "\xC0\xAF"
         "z",
         R + R + "z"},
        {"encoded surrogate",
         "\xED\xA0\x80"
         "z",
         R + R + R + "z"},
        {"sequence cut at the end", "a\xC3", "a" + R},
        {"good text after", "\xFF中文", R + "中文"},
    };
    for (const MalformedCase& c : cases) {
        EXPECT_EQ(SystemToUtf8(Utf8ToSystem(c.input)), c.expectedUtf8) << c.name;
        EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(c.input)), c.expectedUtf8) << c.name;
    }
}

TEST(CodePageTest, MalformedSystemTextBecomesReplacementsAndKeepsWhatFollows) {
    const std::vector<MalformedCase> cases = {
        {"0x80 alone",
         "a\x80"
         "b",
         "a" + R + "b"},
        {"0xFF alone",
         "\xFF"
         "z",
         R + "z"},
        {"lead byte then space", "\xB0 z", R + " z"},
        {"lead byte at the end", "ab\xB0", "ab" + R},
        {"four-byte sequence broken near the end",
         "\x81\x30"
         "z",
         R + "0z"},
        {"good character after", "\xFF\xD6\xD0", R + "中"},
    };
    for (const MalformedCase& c : cases) {
        EXPECT_EQ(SystemToUtf8(c.input), c.expectedUtf8) << c.name;
    }
}

TEST(CodePageTest, UnpairedSurrogatesBecomeReplacements) {
    const std::u16string highThenLetter{char16_t(0xD800), u'A'};
    const std::u16string lowThenLetter{char16_t(0xDC00), u'A'};
    const std::u16string highAtTheEnd{u'A', char16_t(0xD83D)};
    EXPECT_EQ(Utf16ToUtf8(highThenLetter), R + "A");
    EXPECT_EQ(Utf16ToUtf8(lowThenLetter), R + "A");
    EXPECT_EQ(Utf16ToUtf8(highAtTheEnd), "A" + R);
}

TEST(CodePageTest, ReplacementReachesTheSystemCodePage) {
    EXPECT_EQ(Utf8ToSystem("a\xFF"
                           "b"),
              "a\x84\x31\xA4\x37"
              "b");
}

}  // namespace
}  // namespace velmora
