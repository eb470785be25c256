// Conversions between the system code page, UTF-8 and UTF-16: undecodable input becomes
// replacement characters, and whatever came out of one conversion converts back unchanged.

#include "FuzzInput.h"
#include "text/CodePage.h"

using velmora::fuzz::Check;

namespace {

// Private-use code points: the system code page's converter leaves some of them out (GB18030
// moved their codes to characters Unicode has since encoded), so they become U+FFFD.
bool HasPrivateUse(std::string_view utf8) {
    for (std::size_t i = 0; i + 2 < utf8.size(); ++i) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const auto next = static_cast<unsigned char>(utf8[i + 1]);
        if ((lead == 0xEE) || (lead == 0xEF && next < 0xA4)) return true;  // U+E000..U+F8FF
    }
    return false;
}

bool IsValidUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto byte = static_cast<unsigned char>(text[i]);
        std::size_t length = byte < 0x80   ? 1
                             : byte < 0xC2 ? 0
                             : byte < 0xE0 ? 2
                             : byte < 0xF0 ? 3
                             : byte < 0xF5 ? 4
                                           : 0;
        if (length == 0 || i + length > text.size()) return false;
        for (std::size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
        }
        const auto second = static_cast<unsigned char>(text[i + 1 < text.size() ? i + 1 : i]);
        if ((byte == 0xE0 && second < 0xA0) || (byte == 0xED && second > 0x9F) ||
            (byte == 0xF0 && second < 0x90) || (byte == 0xF4 && second > 0x8F)) {
            return false;
        }
        i += length;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    // Bytes read as UTF-8.
    const velmora::Text system = velmora::Utf8ToSystem(bytes);
    const std::string utf8 = velmora::SystemToUtf8(system);
    Check(IsValidUtf8(utf8), "system text gives valid UTF-8");
    Check(velmora::Utf8ToSystem(utf8) == system, "system text round-trips");
    if (IsValidUtf8(bytes) && !HasPrivateUse(bytes))
        Check(utf8 == bytes, "valid UTF-8 round-trips");

    // Bytes read as system text.
    const std::string fromSystem = velmora::SystemToUtf8(bytes);
    Check(IsValidUtf8(fromSystem), "any bytes give valid UTF-8");
    Check(velmora::SystemToUtf8(velmora::Utf8ToSystem(fromSystem)) == fromSystem,
          "decoded system text round-trips");

    // UTF-16 both ways.
    const std::u16string utf16 = velmora::Utf8ToUtf16(bytes);
    const std::string back = velmora::Utf16ToUtf8(utf16);
    Check(IsValidUtf8(back), "UTF-16 gives valid UTF-8");
    Check(velmora::Utf8ToUtf16(back) == utf16, "UTF-16 round-trips");
    std::u16string units(size / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i) {
        units[i] = static_cast<char16_t>(data[2 * i] | data[2 * i + 1] << 8);
    }
    Check(IsValidUtf8(velmora::Utf16ToUtf8(units)), "any units give valid UTF-8");
    return 0;
}
