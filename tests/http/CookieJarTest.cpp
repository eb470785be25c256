// The cookie jar's rules: merging Set-Cookie lines, and the client's add, remove, get and set.

#include <gtest/gtest.h>

#include <ostream>

#include "http/CookieJar.h"
#include "http/HttpClient.h"
#include "text/CodePage.h"

namespace velmora {
namespace {

constexpr const char* kExampleJar = "; a=1; b=2; ";

struct MergeCase {
    const char* name;
    const char* jar;
    const char* headers;
    const char* expected;
};

void PrintTo(const MergeCase& c, std::ostream* out) {
    *out << c.name;
}

class MergeSetCookiesTest : public ::testing::TestWithParam<MergeCase> {};

TEST_P(MergeSetCookiesTest, FoldsTheLinesIntoTheJar) {
    Text jar = GetParam().jar;
    cookie_jar::MergeSetCookies(jar, GetParam().headers);
    EXPECT_EQ(jar, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, MergeSetCookiesTest,
    ::testing::Values(
        MergeCase{"UpdateInPlace", kExampleJar,
                  "HTTP/1.1 200 OK\r\nSet-Cookie: a=5; path=/; HttpOnly\r\n\r\n", "; a=5; b=2; "},
        MergeCase{"Append", kExampleJar, "HTTP/1.1 200 OK\r\nset-cookie:c=3;Path=/\r\n\r\n",
                  "; a=1; b=2; c=3; "},
        MergeCase{"DeletedLowerCase", kExampleJar,
                  "HTTP/1.1 200 OK\r\nSet-Cookie: a=deleted; expires=Thu, 01 Jan 1970\r\n\r\n",
                  "; b=2; "},
        MergeCase{"DeletedUpperCase", kExampleJar,
                  "HTTP/1.1 200 OK\r\nSet-Cookie: b=DELETED;\r\n\r\n", "; a=1; "},
        MergeCase{"DeletedCapitalised", kExampleJar,
                  "HTTP/1.1 200 OK\r\nSet-Cookie: a=Deleted; path=/\r\n\r\n", "; b=2; "},
        MergeCase{"OtherLetterCaseIsAValue", kExampleJar,
                  "HTTP/1.1 200 OK\r\nSet-Cookie: a=dELETED; path=/\r\n\r\n", "; a=dELETED; b=2; "},
        MergeCase{"DeletingAnAbsentCookie", kExampleJar,
                  "HTTP/1.1 200 OK\r\nSet-Cookie: z=deleted; path=/\r\n\r\n", kExampleJar},
        MergeCase{"LaterValueWinsInTheFirstPlace", "; ",
                  "HTTP/1.1 200 OK\r\nSet-Cookie: s=1; path=/\r\nSet-Cookie: t=0\r\n"
                  "Set-Cookie: s=2; path=/\r\n\r\n",
                  "; s=2; t=0; "},
        MergeCase{"NamesDifferingInCaseAreTwoEntries", "; ",
                  "HTTP/1.1 200 OK\r\nSet-Cookie: Id=1; path=/\r\nSet-Cookie: id=2; path=/\r\n\r\n",
                  "; Id=1; id=2; "},
        // A line without attributes ends at its line end: it neither vanishes nor swallows
        // the next line.
        MergeCase{"LineWithoutAttributes", "; ",
                  "HTTP/1.1 200 OK\r\nSet-Cookie: plain=1\r\nX-Other: a;b\r\n"
                  "Set-Cookie: next=2; path=/\r\n\r\n",
                  "; plain=1; next=2; "},
        MergeCase{"LastLineWithoutAttributesAndWithoutLineEnd", "; ",
                  "HTTP/1.1 200 OK\r\nSet-Cookie:  last=9", "; last=9; "},
        MergeCase{"FullWidthSpaceBeforeTheName", "; ",
                  "HTTP/1.1 200 OK\r\nSet-Cookie: \xA1\xA1w=1; path=/\r\n\r\n", "; w=1; "},
        MergeCase{"ItemWithoutEqualsIsSkipped", kExampleJar,
                  "HTTP/1.1 200 OK\r\nSet-Cookie: flag; path=/\r\n\r\n", kExampleJar},
        MergeCase{"NoSetCookieLines", kExampleJar, "HTTP/1.1 200 OK\r\nX-A: 1\r\n\r\n",
                  kExampleJar},
        // Only a line that begins with the name sets a cookie.
        MergeCase{"NameEndingInSetCookieIsAnotherHeader", kExampleJar,
                  "HTTP/1.1 200 OK\r\nX-Set-Cookie: z=1\r\nX-A: Set-Cookie: y=2\r\n"
                  "Set-Cookie: a=5\r\n\r\n",
                  "; a=5; b=2; "}),
    [](const ::testing::TestParamInfo<MergeCase>& testInfo) { return testInfo.param.name; });

TEST(MergeSetCookies, JarStopsGrowingAtItsCap) {
    Text jar(kEmptyCookieJar);
    std::string headers = "HTTP/1.1 200 OK\r\n";
    for (int i = 0; i < 2000; ++i) {
        headers += "Set-Cookie: name" + std::to_string(i) + "=" + std::string(20, 'v') + "\r\n";
    }
    cookie_jar::MergeSetCookies(jar, headers);
    EXPECT_LE(jar.size(), kMaxCookieJarBytes);
    EXPECT_GT(jar.size(), kMaxCookieJarBytes - 64);
    EXPECT_TRUE(jar.ends_with("; "));
    // Updates in place still work at the cap.
    cookie_jar::MergeSetCookies(jar, "\r\nSet-Cookie: name0=" + std::string(20, 'w') + "\r\n");
    EXPECT_EQ(cookie_jar::GetCookie(jar, "name0", false), std::string(20, 'w'));
}

class CookieMethodsTest : public ::testing::Test {
protected:
    void SetUp() override {
        client.Open(Text(kDefaultUserAgent));
        client.SetCookies(kExampleJar);
    }
    HttpClient client;
};

TEST_F(CookieMethodsTest, AddCookiesAddsAndChangesPairsButNotBareNames) {
    EXPECT_TRUE(client.AddCookies("c=3;  a=7 "));
    EXPECT_EQ(client.GetCookies(), "a=7 ; b=2; c=3");
    EXPECT_FALSE(client.AddCookies("only; names"));
    EXPECT_FALSE(client.AddCookies(""));
    EXPECT_TRUE(client.AddCookies("d=deleted"));
    EXPECT_EQ(client.GetCookie("d"), "deleted");
}

TEST_F(CookieMethodsTest, RemoveCookiesTakesNamesOrPairs) {
    EXPECT_TRUE(client.RemoveCookies("a=1"));
    EXPECT_EQ(client.GetCookies(), "b=2");
    EXPECT_FALSE(client.RemoveCookies("a"));
    EXPECT_FALSE(client.RemoveCookies(""));
    EXPECT_TRUE(client.RemoveCookies(" b"));
    EXPECT_EQ(client.GetCookies(), "");
}

TEST_F(CookieMethodsTest, GetCookieWithAndWithoutTheName) {
    EXPECT_EQ(client.GetCookie("a"), "1");
    EXPECT_EQ(client.GetCookie("a", true), "a=1");
    EXPECT_EQ(client.GetCookie("b"), "2");
    EXPECT_EQ(client.GetCookie("zz"), "");
    EXPECT_EQ(client.GetCookie(""), "");
    // The whole name: "a" is not the beginning of "ab".
    client.SetCookies("ab=long; a=short; abc=");
    EXPECT_EQ(client.GetCookie("a"), "short");
    EXPECT_EQ(client.GetCookie("a", true), "a=short");
    EXPECT_EQ(client.GetCookie("ab"), "long");
    EXPECT_EQ(client.GetCookie("abc", true), "abc=");
    EXPECT_EQ(client.GetCookie("b"), "");
}

TEST_F(CookieMethodsTest, SetCookiesAcceptsBothFormsAndTheEmptyTextEmptiesTheJar) {
    for (const char* text : {"a=1", "a=1;", "; a=1; "}) {
        SCOPED_TRACE(text);
        client.SetCookies(text);
        EXPECT_EQ(client.GetCookies(), "a=1");
        EXPECT_TRUE(client.AddCookies("n=2"));
        EXPECT_EQ(client.GetCookies(), "a=1; n=2");
    }
    client.SetCookies("");
    EXPECT_EQ(client.GetCookies(), "");
    EXPECT_TRUE(client.AddCookies("x=1"));
    EXPECT_EQ(client.GetCookies(), "x=1");
}

TEST_F(CookieMethodsTest, ValuesAreStoredAsReceivedIncludingDoubleByteText) {
    Text value = Utf8ToSystem("星辰");
    EXPECT_TRUE(client.AddCookies("city=" + value));
    EXPECT_EQ(client.GetCookie("city"), value);
}

}  // namespace
}  // namespace velmora
