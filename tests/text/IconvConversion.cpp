#include "tests/text/IconvConversion.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace velmora::test {

std::string IconvConversion(Conversion conversion, std::string_view input) {
    struct Encodings {
        const char* from;
        const char* to;
        std::string_view replacement;
        std::size_t unit;
    };
    const Encodings encodings = [&]() -> Encodings {
        switch (conversion) {
            case Conversion::kUtf8ToSystem:
                return {"UTF-8", "GB18030", {"\x84\x31\xA4\x37", 4}, 1};
            case Conversion::kSystemToUtf8:
                return {"GB18030", "UTF-8", "\xEF\xBF\xBD", 1};
            case Conversion::kUtf8ToUtf16:
                return {"UTF-8", "UTF-16LE", {"\xFD\xFF", 2}, 1};
            case Conversion::kUtf16ToUtf8:
                return {"UTF-16LE", "UTF-8", "\xEF\xBF\xBD", 2};
        }
        std::abort();
    }();
    iconv_t handle = iconv_open(encodings.to, encodings.from);
    if (handle == reinterpret_cast<iconv_t>(-1)) {
        std::fprintf(stderr, "iconv cannot convert %s to %s\n", encodings.from, encodings.to);
        std::abort();
    }
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
        output += encodings.replacement;
        const std::size_t skip = std::min(encodings.unit, inLeft);
        in += skip;
        inLeft -= skip;
        iconv(handle, nullptr, nullptr, nullptr, nullptr);
    }
    iconv_close(handle);
    return output;
}

}  // namespace velmora::test
