#include "text/CodePage.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>

#include "generated/Gb18030Tables.h"
#include "text/FatalHandler.h"
#include "text/Gb18030.h"

namespace velmora {
namespace {

// Every conversion reads its input a character at a time; wherever the input holds no character
// (or one the output cannot hold), one U+FFFD is written and reading goes on at the next unit.
// That is what the program's conversions through iconv always did, the bytes included.

using SystemCodePage = gb18030::Lookup<gb18030::GeneratedTables>;

constexpr char32_t kMaxCodePoint = 0x10FFFF;
constexpr char32_t kReplacement = 0xFFFD;
constexpr std::string_view kSystemReplacement{"\x84\x31\xA4\x37", 4};
constexpr std::string_view kUtf8Replacement = "\xEF\xBF\xBD";
// The most units one character takes in any of the three encodings.
constexpr std::size_t kMaxCharacterUnits = 4;

bool IsSurrogate(char32_t codePoint) {
    return codePoint >= 0xD800 && codePoint <= 0xDFFF;
}

bool IsTrail(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// The output of a conversion, written through a pointer into a string kept longer than what has
// been written, so that a character costs one comparison for its room; cut to size at the end.
// It starts at the input's size, which ASCII keeps (and a short text in the string itself), and
// doubles when that runs out. Running out of memory is fatal.
template <typename String>
class Output {
public:
    using Unit = typename String::value_type;

    explicit Output(std::size_t inputSize) { Resize(inputSize); }

    // Room for `count` more units after those written.
    Unit* Room(std::size_t count) {
        if (text_.size() - written_ < count) {
            Resize(std::max(text_.size() * 2, written_ + count));
        }
        return text_.data() + written_;
    }
    void Advance(std::size_t count) { written_ += count; }

    String Take() && {
        text_.resize(written_);
        return std::move(text_);
    }

private:
    void Resize(std::size_t size) {
        try {
            text_.resize(size);
        } catch (const std::bad_alloc&) {
            RaiseAllocationFailure(size * sizeof(Unit));
        } catch (const std::length_error&) {
            RaiseAllocationFailure(size * sizeof(Unit));
        }
    }

    String text_;
    std::size_t written_ = 0;
};

const unsigned char* BytesOf(std::string_view text) {
    return reinterpret_cast<const unsigned char*>(text.data());
}

// The end of the ASCII run that `p` starts, a word at a time; in the word that ends it, the
// first high bit says where (the first byte is the lowest one in little-endian order).
const unsigned char* AsciiRunEnd(const unsigned char* p, const unsigned char* end) {
    constexpr std::uint64_t kHighBits = 0x8080808080808080;
    constexpr int kBitsPerByte = 8;
    std::uint64_t word = 0;
    while (end - p >= static_cast<std::ptrdiff_t>(sizeof word)) {
        std::memcpy(&word, p, sizeof word);
        if (const std::uint64_t high = word & kHighBits; high != 0) {
            if constexpr (std::endian::native == std::endian::little) {
                return p + std::countr_zero(high) / kBitsPerByte;
            }
            break;
        }
        p += sizeof word;
    }
    while (p < end && *p < 0x80) ++p;
    return p;
}

// ASCII reads and writes as itself in all three encodings. Pages are mostly ASCII markup, so
// runs of it are copied whole.
template <typename String>
const unsigned char* CopyAsciiRun(const unsigned char* p, const unsigned char* end,
                                  Output<String>& out) {
    const unsigned char* const runEnd = AsciiRunEnd(p, end);
    const auto count = static_cast<std::size_t>(runEnd - p);
    auto* const at = out.Room(count);
    if constexpr (sizeof *at == 1) {
        std::memcpy(at, p, count);
    } else {
        std::copy(p, runEnd, at);
    }
    out.Advance(count);
    return runEnd;
}

// The character that the UTF-8 at `p` starts with and its length; 0 when it is malformed (a
// stray or cut sequence, an overlong form, a surrogate, past U+10FFFF).
std::size_t DecodeUtf8(const unsigned char* p, std::size_t size, char32_t& codePoint) {
    const unsigned lead = p[0];
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    }
    // Chinese text first.
    if ((lead & 0xF0) == 0xE0) {
        if (size < 3 || !IsTrail(p[1]) || !IsTrail(p[2])) return 0;
        codePoint = (lead & 0x0Fu) << 12 | (p[1] & 0x3Fu) << 6 | (p[2] & 0x3Fu);
        return codePoint >= 0x800 && !IsSurrogate(codePoint) ? 3 : 0;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        if (size < 2 || !IsTrail(p[1])) return 0;
        codePoint = (lead & 0x1Fu) << 6 | (p[1] & 0x3Fu);
        return 2;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        if (size < 4 || !IsTrail(p[1]) || !IsTrail(p[2]) || !IsTrail(p[3])) return 0;
        codePoint =
            (lead & 0x07u) << 18 | (p[1] & 0x3Fu) << 12 | (p[2] & 0x3Fu) << 6 | (p[3] & 0x3Fu);
        return codePoint >= 0x10000 && codePoint <= kMaxCodePoint ? 4 : 0;
    }
    return 0;
}

// Writes a scalar value as UTF-8 and gives its length.
std::size_t EncodeUtf8(char32_t codePoint, char* out) {
    if (codePoint < 0x80) {
        out[0] = static_cast<char>(codePoint);
        return 1;
    }
    if (codePoint < 0x800) {
        out[0] = static_cast<char>(0xC0 | codePoint >> 6);
        out[1] = static_cast<char>(0x80 | (codePoint & 0x3F));
        return 2;
    }
    if (codePoint < 0x10000) {
        out[0] = static_cast<char>(0xE0 | codePoint >> 12);
        out[1] = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (codePoint & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | codePoint >> 18);
    out[1] = static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (codePoint & 0x3F));
    return 4;
}

// Converts bytes a character at a time. `convert(p, size, out)` reads the character at p (of
// `size` bytes left) and writes it at out, which has room for kMaxCharacterUnits: it gives how
// many bytes it read and units it wrote, 0 read when there is no character to write there.
template <typename String, typename Convert>
String ConvertBytes(std::string_view input, Convert convert,
                    std::basic_string_view<typename String::value_type> replacement) {
    Output<String> out(input.size());
    const unsigned char* p = BytesOf(input);
    const unsigned char* const end = p + input.size();
    while (p < end) {
        p = CopyAsciiRun(p, end, out);
        // Then the characters beyond ASCII that follow one another (Chinese text).
        while (p < end && *p >= 0x80) {
            auto* const at = out.Room(kMaxCharacterUnits);
            std::size_t written = 0;
            std::size_t read = convert(p, static_cast<std::size_t>(end - p), at, written);
            if (read == 0) {
                std::copy(replacement.begin(), replacement.end(), at);
                written = replacement.size();
                read = 1;
            }
            out.Advance(written);
            p += read;
        }
    }
    return std::move(out).Take();
}

// True when `utf8` is well-formed and every character of it comes back as itself through the
// system code page, so that converting it there and back changes nothing.
bool ComesBackWhole(std::string_view utf8) {
    const unsigned char* p = BytesOf(utf8);
    const unsigned char* const end = p + utf8.size();
    while (p < end) {
        p = AsciiRunEnd(p, end);
        while (p < end && *p >= 0x80) {
            char32_t codePoint = 0;
            const std::size_t length = DecodeUtf8(p, static_cast<std::size_t>(end - p), codePoint);
            if (length == 0 || !SystemCodePage::ComesBack(codePoint)) return false;
            p += length;
        }
    }
    return true;
}

}  // namespace

Text Utf8ToSystem(std::string_view utf8) {
    return ConvertBytes<std::string>(
        utf8,
        [](const unsigned char* p, std::size_t size, char* out, std::size_t& written) {
            char32_t codePoint = 0;
            const std::size_t read = DecodeUtf8(p, size, codePoint);
            if (read == 0) return read;
            written = SystemCodePage::Encode(codePoint, out);
            return written == 0 ? 0 : read;
        },
        kSystemReplacement);
}

std::string SystemToUtf8(std::string_view text) {
    return ConvertBytes<std::string>(
        text,
        [](const unsigned char* p, std::size_t size, char* out, std::size_t& written) {
            char32_t codePoint = 0;
            const std::size_t read = SystemCodePage::Decode(p, size, codePoint);
            if (read != 0) written = EncodeUtf8(codePoint, out);
            return read;
        },
        kUtf8Replacement);
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
    return ConvertBytes<std::u16string>(
        utf8,
        [](const unsigned char* p, std::size_t size, char16_t* out, std::size_t& written) {
            char32_t codePoint = 0;
            const std::size_t read = DecodeUtf8(p, size, codePoint);
            if (read == 0) return read;
            if (codePoint < 0x10000) {
                out[0] = static_cast<char16_t>(codePoint);
                written = 1;
            } else {
                out[0] = static_cast<char16_t>(0xD800 + ((codePoint - 0x10000) >> 10));
                out[1] = static_cast<char16_t>(0xDC00 + ((codePoint - 0x10000) & 0x3FF));
                written = 2;
            }
            return read;
        },
        std::u16string_view(u"\uFFFD"));
}

// A unit that is no character (a surrogate without its other half) is skipped alone.
std::string Utf16ToUtf8(std::u16string_view utf16) {
    Output<std::string> out(utf16.size());
    for (std::size_t i = 0; i < utf16.size();) {
        char32_t codePoint = utf16[i++];
        if (IsSurrogate(codePoint)) {
            const bool paired =
                codePoint < 0xDC00 && i < utf16.size() && utf16[i] >= 0xDC00 && utf16[i] <= 0xDFFF;
            codePoint = paired ? 0x10000 + ((codePoint - 0xD800) << 10) + (utf16[i++] - 0xDC00)
                               : kReplacement;
        }
        out.Advance(EncodeUtf8(codePoint, out.Room(kMaxCharacterUnits)));
    }
    return std::move(out).Take();
}

SystemUtf8::SystemUtf8(std::string utf8)
    : utf8_(std::make_shared<const std::string>(std::move(utf8))) {}

const std::string& SystemUtf8::utf8() const {
    static const std::string empty;
    return utf8_ ? *utf8_ : empty;
}

SystemUtf8 SystemUtf8::FromUtf8(std::string_view bytes) {
    if (ComesBackWhole(bytes)) return SystemUtf8(std::string(bytes));
    return SystemUtf8(SystemToUtf8(Utf8ToSystem(bytes)));
}

SystemUtf8 SystemUtf8::FromSystem(std::string_view text) {
    return SystemUtf8(SystemToUtf8(text));
}

}  // namespace velmora
