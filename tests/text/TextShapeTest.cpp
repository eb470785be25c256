// Building, comparing, trimming and case mapping of texts.

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "text/TextOps.h"

namespace velmora {
namespace {

TEST(ConcatTextTest, JoinsEveryKindOfPieceInOrder) {
    const Text owned = "b";
    const std::string_view view = "c";
    EXPECT_EQ(ConcatText("a", owned, view, std::string("\xB0\xA1")), "abc\xB0\xA1");
    EXPECT_EQ(ConcatText("", "", ""), "");
    EXPECT_EQ(ConcatText("solo"), "solo");
    const Text embedded("x\0y", 3);
    EXPECT_EQ(ConcatText(embedded, "z"), std::string("x\0yz", 4));
}

struct CompareCase {
    std::string a;
    std::string b;
    int expected;
};

TEST(CompareTextTest, UnsignedBytewiseAndCaseSensitive) {
    const std::vector<CompareCase> cases = {
        {"", "", 0},         {"", "a", -1},         {"a", "", 1},   {"abc", "abc", 0},
        {"a", "b", -1},      {"ab", "a", 1},        {"A", "a", -1}, {"\x80", "a", 1},
        {"\xFF", "\x80", 1}, {"a\xB0", "a\x7F", 1},
    };
    for (const CompareCase& c : cases) {
        EXPECT_EQ(CompareText(c.a, c.b), c.expected) << '"' << c.a << "\" vs \"" << c.b << '"';
        EXPECT_EQ(CompareText(c.b, c.a), -c.expected) << "swapped";
    }
}

struct TrimCase {
    const char* name;
    std::string text;
    std::string leading;
    std::string both;
    std::string removed;
};

TEST(TrimTest, AsciiAndFullWidthSpacesOnCharacterBoundaries) {
    const std::string wide = "\xA1\xA1";  // the full-width space
    const std::string ah = "\xB0\xA1";    // a character whose trail byte is 0xA1
    const std::vector<TrimCase> cases = {
        {"ascii", "  a b  ", "a b  ", "a b", "ab"},
        {"full width", wide + "a" + wide + "b" + wide, "a" + wide + "b" + wide, "a" + wide + "b",
         "ab"},
        {"mixed", " " + wide + " x " + wide, "x " + wide, "x", "x"},
        {"lone 0xA1 then another byte is a character", "\xA1\xB0x", "\xA1\xB0x", "\xA1\xB0x",
         "\xA1\xB0x"},
        {"trail 0xA1 then a full-width space", ah + wide, ah + wide, ah, ah},
        {"trail 0xA1 then 0xA1 and a letter",
         ah + "\xA1"
              "x",
         ah + "\xA1"
              "x",
         ah + "\xA1"
              "x",
         ah + "\xA1"
              "x"},
        {"dangling 0xA1 at the end", "x \xA1", "x \xA1", "x \xA1", "x\xA1"},
        {"tabs are not spaces", "\tx\t", "\tx\t", "\tx\t", "\tx\t"},
        {"only spaces", " " + wide + " ", "", "", ""},
        {"empty", "", "", "", ""},
    };
    for (const TrimCase& c : cases) {
        EXPECT_EQ(TrimLeading(c.text), c.leading) << c.name;
        EXPECT_EQ(TrimBoth(c.text), c.both) << c.name;
        EXPECT_EQ(RemoveSpaces(c.text), c.removed) << c.name;
    }
}

TEST(CaseMappingTest, OnlyAsciiLettersChange) {
    // 0xB0 0x61 and 0x81 0x41 are characters whose trail bytes are letters.
    EXPECT_EQ(ToUpperText("abc\xB0\x61xyz{}@"), "ABC\xB0\x61XYZ{}@");
    EXPECT_EQ(ToLowerText("ABC\x81\x41Z[]`"), "abc\x81\x41z[]`");
    EXPECT_EQ(ToUpperText("\x95\x34\xB2\x35"
                          "a"),
              "\x95\x34\xB2\x35"
              "A");
    EXPECT_EQ(ToUpperText("x\xB0"), "X\xB0");
    EXPECT_EQ(ToLowerText(""), "");
}

}  // namespace
}  // namespace velmora
