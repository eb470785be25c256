#include "text/CodePage.h"

#include <iconv.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace velmora {
namespace {

// U+FFFD in each encoding, written where the input cannot be decoded.
constexpr std::string_view kReplacementUtf8 = "\xEF\xBF\xBD";

struct Encoding {
    const char* name;
    size_t unitSize;  // bytes of one code unit: input is only skipped in whole units
};
constexpr Encoding kSystem{"GB18030", 1};
constexpr Encoding kUtf8{"UTF-8", 1};
constexpr Encoding kUtf16{"UTF-16LE", 2};

class Converter {
public:
    Converter(const Encoding& from, const Encoding& to) : from_(from) {
        handle_ = iconv_open(to.name, from.name);
        if (handle_ == reinterpret_cast<iconv_t>(-1)) {
            throw std::runtime_error(std::string("iconv cannot convert ") + from.name);
        }
    }
    ~Converter() { iconv_close(handle_); }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // Converts all of input; `replacement` (already in the target encoding) stands for every
    // undecodable unit and for a sequence cut short at the end.
    std::string Convert(std::string_view input, std::string_view replacement) {
        std::string output;
        output.resize(input.size() * 2 + 16);
        iconv(handle_, nullptr, nullptr, nullptr, nullptr);
        char* in = const_cast<char*>(input.data());
        size_t inLeft = input.size();
        size_t written = 0;
        while (inLeft > 0) {
            char* out = output.data() + written;
            size_t outLeft = output.size() - written;
            size_t result = iconv(handle_, &in, &inLeft, &out, &outLeft);
            written = output.size() - outLeft;
            if (result != static_cast<size_t>(-1)) break;
            if (errno == E2BIG) {
                output.resize(output.size() * 2);
            } else {  // EILSEQ or EINVAL: replace one unit and go on
                if (output.size() - written < replacement.size()) {
                    output.resize(output.size() * 2 + replacement.size());
                }
                std::memcpy(output.data() + written, replacement.data(), replacement.size());
                written += replacement.size();
                size_t skip = std::min(from_.unitSize, inLeft);
                in += skip;
                inLeft -= skip;
                iconv(handle_, nullptr, nullptr, nullptr, nullptr);
            }
        }
        output.resize(written);
        return output;
    }

private:
    Encoding from_;
    iconv_t handle_;
};

// One converter per thread and direction: iconv descriptors carry state and are not shared.
Converter& ConverterFor(const Encoding& from, const Encoding& to) {
    thread_local std::unique_ptr<Converter> cache[3][3];
    auto index = [](const Encoding& e) {
        return e.name == kSystem.name ? 0 : e.name == kUtf8.name ? 1 : 2;
    };
    auto& slot = cache[index(from)][index(to)];
    if (!slot) slot = std::make_unique<Converter>(from, to);
    return *slot;
}

std::string ReplacementIn(const Encoding& to) {
    if (to.name == kUtf8.name) return std::string(kReplacementUtf8);
    if (to.name == kUtf16.name) return std::string("\xFD\xFF", 2);
    return std::string("\x84\x31\xA4\x37", 4);  // GB18030
}

std::string Convert(std::string_view input, const Encoding& from, const Encoding& to) {
    if (input.empty()) return {};
    return ConverterFor(from, to).Convert(input, ReplacementIn(to));
}

}  // namespace

Text Utf8ToSystem(std::string_view utf8) { return Convert(utf8, kUtf8, kSystem); }

std::string SystemToUtf8(std::string_view text) { return Convert(text, kSystem, kUtf8); }

std::u16string Utf8ToUtf16(std::string_view utf8) {
    std::string bytes = Convert(utf8, kUtf8, kUtf16);
    return std::u16string(reinterpret_cast<const char16_t*>(bytes.data()), bytes.size() / 2);
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
    std::string_view bytes(reinterpret_cast<const char*>(utf16.data()), utf16.size() * 2);
    return Convert(bytes, kUtf16, kUtf8);
}

}  // namespace velmora
