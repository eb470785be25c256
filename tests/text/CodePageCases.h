#pragma once
// The inputs of the code page's differential test: every character of the BMP and of each
// plane's first and last block, every two-byte system sequence, every UTF-16 unit, and random
// strings that mix ASCII runs with valid characters of each encoding, stray bytes, surrogates
// and sequences cut short, so that malformed input meets every kind of boundary. They come out
// the same wherever they are made (the random ones from mt19937's own outputs, which the
// standard fixes), so that the build machine can convert them with its iconv for a test that
// runs where there is none.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::test {

enum class Conversion { kUtf8ToSystem, kSystemToUtf8, kUtf8ToUtf16, kUtf16ToUtf8 };

struct CodePageCase {
    Conversion conversion;
    std::string input;  // UTF-16 as little-endian bytes
    std::string name;   // for a failure's report
};

std::vector<CodePageCase> CodePageCases();

// Random byte strings of the kind above, for checks of the code page that need no reference.
std::vector<std::string> MixedInputs(std::uint32_t seed, int count);

std::string Utf8Of(char32_t codePoint);
std::string ShowBytes(std::string_view bytes);

}  // namespace velmora::test
