#pragma once
// The model the code page's conversions are held to: what the build machine's iconv makes of a
// whole input in one pass, where each unit it cannot decode (or the output cannot hold) becomes
// U+FFFD and the pass goes on at the next unit.

#include <string>
#include <string_view>

#include "tests/text/CodePageCases.h"

namespace velmora::test {

// UTF-16 in and out as little-endian bytes.
std::string IconvConversion(Conversion conversion, std::string_view input);

}  // namespace velmora::test
