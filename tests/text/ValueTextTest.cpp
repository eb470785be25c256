// Numbers, dates and byte arrays to and from texts, and the number services.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cfenv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "platform/ChildProcess.h"
#include "text/CodePage.h"
#include "text/TextOps.h"

namespace velmora {
namespace {

struct DoubleTextCase {
    double value;
    const char* expected;
};

TEST(ToTextTest, DoublesInTheShortestFormUpToThirteenDigits) {
    const std::vector<DoubleTextCase> cases = {
        {3, "3"},
        {0.1, "0.1"},
        {0.1 + 0.2, "0.3"},
        {-2.5, "-2.5"},
        {1.0 / 3, "0.3333333333333"},
        {2.0 / 3, "0.6666666666667"},
        {1e20, "1e+20"},
        {123456789012345.0, "1.234567890123e+14"},
        {1234567890123.0, "1234567890123"},
        {0.0001, "0.0001"},
        {0.00001, "1e-05"},
        {0.0, "0"},
    };
    for (const DoubleTextCase& c : cases) EXPECT_EQ(ToText(c.value), c.expected) << c.value;
}

TEST(ToTextTest, DoublesAgreeWithPrintfOverRandomValues) {
    std::mt19937_64 random(20240305);
    std::uniform_int_distribution<int> exponent(-30, 30);
    std::uniform_real_distribution<double> mantissa(-10, 10);
    for (int i = 0; i < 20000; ++i) {
        const double value = mantissa(random) * std::pow(10.0, exponent(random));
        char expected[64];
        std::snprintf(expected, sizeof expected, "%.13g", value);
        ASSERT_EQ(ToText(value), expected) << "value " << value;
    }
}

TEST(ToTextTest, OtherScalars) {
    EXPECT_EQ(ToText(0.1f), "0.1");
    EXPECT_EQ(ToText(1.0f / 3), "0.333333");
    EXPECT_EQ(ToText(1234567.0f), "1.23457e+06");
    EXPECT_EQ(ToText(-42), "-42");
    EXPECT_EQ(ToText(INT_MIN), "-2147483648");
    EXPECT_EQ(ToText(std::int64_t{9007199254740993}), "9007199254740993");
    EXPECT_EQ(ToText(true), Utf8ToSystem("真"));
    EXPECT_EQ(ToText(false), Utf8ToSystem("假"));
    EXPECT_EQ(ToText("as is"), "as is");
    EXPECT_EQ(ToText(Bytes{'a', 'b', 0, 'c'}), "ab");
    EXPECT_EQ(ToText(Bytes{}), "");
}

struct DateTimeCase {
    DateTime value;
    const char* expectedUtf8;
};

TEST(ToTextTest, DateTimesEndAtTheLastNonZeroPartOfTheTime) {
    const std::vector<DateTimeCase> cases = {
        {{2024, 3, 5, 0, 0, 0}, "2024年3月5日"},
        {{2024, 3, 5, 7, 0, 0}, "2024年3月5日7时"},
        {{2024, 3, 5, 7, 8, 0}, "2024年3月5日7时8分"},
        {{2024, 3, 5, 7, 8, 9}, "2024年3月5日7时8分9秒"},
        {{2024, 3, 5, 7, 0, 9}, "2024年3月5日7时0分9秒"},
        {{2024, 3, 5, 0, 8, 0}, "2024年3月5日0时8分"},
        {{2024, 3, 5, 0, 0, 9}, "2024年3月5日0时0分9秒"},
        {{1999, 12, 31, 23, 59, 59}, "1999年12月31日23时59分59秒"},
    };
    for (const DateTimeCase& c : cases) {
        EXPECT_EQ(SystemToUtf8(ToText(c.value)), c.expectedUtf8);
    }
}

struct IntegerCase {
    const char* textUtf8;
    int expected;
};

TEST(ToIntegerTest, ReadsTextsWithFullWidthFormsAsHalfWidth) {
    const std::vector<IntegerCase> cases = {
        {"12", 12},
        {"１２", 12},
        {"－１２", -12},
        {"＋７", 7},
        {"　３", 3},
        {"１a", 1},
        {"  -42abc", -42},
        {"\t\r\n 5", 5},
        {"+7", 7},
        {"1 2", 1},
        {"- 5", 0},
        {"--5", 0},
        {"abc", 0},
        {"", 0},
        {"007", 7},
        {"2147483647", INT_MAX},
        {"2147483648", INT_MAX},
        {"99999999999999999999", INT_MAX},
        {"-2147483648", INT_MIN},
        {"-99999999999999999999", INT_MIN},
        {"共12页", 0},
    };
    for (const IntegerCase& c : cases) {
        EXPECT_EQ(ToInteger(Utf8ToSystem(c.textUtf8)), c.expected) << c.textUtf8;
    }
    EXPECT_EQ(ToInteger("3\xA3"), 3) << "lead byte at the end";
    EXPECT_EQ(ToInteger("\xA3"), 0);
}

TEST(ToIntegerTest, OtherValues) {
    EXPECT_EQ(ToInteger(-2.7), -2);
    EXPECT_EQ(ToInteger(2.9), 2);
    EXPECT_EQ(ToInteger(4294967297.0), 1) << "low 32 bits kept";
    EXPECT_EQ(ToInteger(true), 1);
    EXPECT_EQ(ToInteger(false), 0);
    EXPECT_EQ(ToInteger(static_cast<short>(-3)), -3);
    EXPECT_EQ(ToInteger(static_cast<unsigned char>(200)), 200);
}

struct RoundingMode {
    int mode;
    const char* name;
};

TEST(TruncateToIntegerTest, TruncatesInEveryRoundingModeAndLeavesTheModeAlone) {
    const RoundingMode modes[] = {{FE_TONEAREST, "to nearest"},
                                  {FE_UPWARD, "upward"},
                                  {FE_DOWNWARD, "downward"},
                                  {FE_TOWARDZERO, "toward zero"}};
    struct Case {
        double value;
        std::int64_t expected;
    };
    const Case cases[] = {
        {-2.7, -2}, {2.7, 2}, {-2.5, -2}, {2.5, 2}, {0.5, 0}, {-0.5, 0}, {1e10 + 0.9, 10000000000}};
    const int original = std::fegetround();
    for (const RoundingMode& m : modes) {
        ASSERT_EQ(std::fesetround(m.mode), 0);
        for (const Case& c : cases) {
            volatile double value = c.value;  // keeps the conversion at run time
            EXPECT_EQ(TruncateToInteger(value), c.expected) << m.name << ' ' << c.value;
        }
        EXPECT_EQ(std::fegetround(), m.mode) << m.name;
    }
    std::fesetround(original);
}

TEST(TruncateToIntegerTest, OutOfRangeSaturatesAndNanIsZero) {
    constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
    constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
    EXPECT_EQ(TruncateToInteger(1e300), kMax);
    EXPECT_EQ(TruncateToInteger(-1e300), kMin);
    EXPECT_EQ(TruncateToInteger(9223372036854775808.0), kMax);
    EXPECT_EQ(TruncateToInteger(-9223372036854775808.0), kMin);
    EXPECT_EQ(TruncateToInteger(std::numeric_limits<double>::infinity()), kMax);
    EXPECT_EQ(TruncateToInteger(std::numeric_limits<double>::quiet_NaN()), 0);
}

TEST(SmallTextsTest, HexSpacesAndSingleBytes) {
    EXPECT_EQ(ToHexText(255), "FF");
    EXPECT_EQ(ToHexText(0xABC), "ABC");
    EXPECT_EQ(ToHexText(0), "0");
    EXPECT_EQ(ToHexText(-1), "FFFFFFFF");
    EXPECT_EQ(SpaceText(3), "   ");
    EXPECT_EQ(SpaceText(0), "");
    EXPECT_EQ(SpaceText(-2), "");
    EXPECT_EQ(CharText('A'), "A");
    EXPECT_EQ(CharText(0x141), "A") << "low byte only";
    EXPECT_EQ(CharText(0xB0), "\xB0");
    EXPECT_EQ(CharText(0), "");
    EXPECT_EQ(CharText(0x100), "");
}

TEST(NumberServicesTest, RemainderTakesTheDividendsSignAndFoldsEveryDivisor) {
    EXPECT_DOUBLE_EQ(Remainder(7, 3), 1);
    EXPECT_DOUBLE_EQ(Remainder(-7, 3), -1);
    EXPECT_DOUBLE_EQ(Remainder(7, -3), 1);
    EXPECT_DOUBLE_EQ(Remainder(7.5, 2), 1.5);
    EXPECT_DOUBLE_EQ(Remainder(10, 7, 2), 1);
    EXPECT_DOUBLE_EQ(Remainder(-10, 7, 2), -1);
    EXPECT_DOUBLE_EQ(Remainder(100, 30, 7, 4), 3);
}

// With no handler installed, a fatal condition still ends the process, naming its cause.
TEST(NumberServicesDeathTest, RemainderByZeroWithoutAHandlerAborts) {
    EXPECT_EXIT(Remainder(5, 0), EndedByAbort,
                ::testing::HasSubstr(Utf8ToSystem("不能求余数于零")));
}

TEST(NumberServicesTest, BitOrOfEveryArgument) {
    EXPECT_EQ(BitOr(1, 2), 3);
    EXPECT_EQ(BitOr(1, 2, 4, 8), 15);
    EXPECT_EQ(BitOr(0x2000, 0x40, 0x4), 0x2044);
    EXPECT_EQ(BitOr(INT_MIN, 1), INT_MIN + 1);
}

TEST(BytesTest, LengthsCutsAndNumbersAsStored) {
    using ::testing::ElementsAre;
    const Bytes abc{'a', 'b', 'c'};
    EXPECT_EQ(ByteLength(abc), 3);
    EXPECT_EQ(ByteLength(Bytes{}), 0);
    EXPECT_THAT(ZeroBytes(3), ElementsAre(0, 0, 0));
    EXPECT_TRUE(ZeroBytes(0).empty());
    EXPECT_TRUE(ZeroBytes(-1).empty());
    EXPECT_THAT(LeftBytes(abc, 2), ElementsAre('a', 'b'));
    EXPECT_EQ(LeftBytes(abc, 10), abc);
    EXPECT_TRUE(LeftBytes(abc, 0).empty());
    EXPECT_TRUE(LeftBytes(abc, -1).empty());
    EXPECT_TRUE(LeftBytes(Bytes{}, 2).empty());
    EXPECT_THAT(ToBytes("a\xB0\xA1"), ElementsAre('a', 0xB0, 0xA1));
    EXPECT_TRUE(ToBytes("").empty());
    EXPECT_EQ(ToBytes(abc), abc);
    EXPECT_THAT(ToBytes(std::int32_t{0x01020304}), ElementsAre(4, 3, 2, 1));
    EXPECT_THAT(ToBytes(std::int16_t{0x0102}), ElementsAre(2, 1));
    EXPECT_THAT(ToBytes(std::int64_t{-2}),
                ElementsAre(0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF));
    EXPECT_THAT(ToBytes(1.0), ElementsAre(0, 0, 0, 0, 0, 0, 0xF0, 0x3F));
    EXPECT_THAT(ToBytes(1.0f), ElementsAre(0, 0, 0x80, 0x3F));
}

}  // namespace
}  // namespace velmora
