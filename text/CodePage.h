#pragma once
// Conversions between the system code page (GB18030), UTF-8 and UTF-16: the one place where
// texts change encoding. Undecodable input becomes U+FFFD, so nothing after it is lost.

#include <memory>
#include <string>
#include <string_view>

#include "text/Text.h"

namespace velmora {

Text Utf8ToSystem(std::string_view utf8);
std::string SystemToUtf8(std::string_view text);
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);

// UTF-8 text exactly as the system code page holds it: what Utf8ToSystem and then SystemToUtf8
// make of the bytes it was made from (malformed ones as U+FFFD), so that a page can be searched
// in UTF-8 and only the parts kept converted. Made without converting when the bytes are
// well-formed and every character of them comes back as itself, which is what pages hold.
// The text never changes, so copies share it.
class SystemUtf8 {
public:
    SystemUtf8() = default;
    // From bytes read as UTF-8, as a page arrives.
    static SystemUtf8 FromUtf8(std::string_view bytes);
    // SystemToUtf8 of a system text, the UTF-8 a match reads it in.
    static SystemUtf8 FromSystem(std::string_view text);

    // Well-formed UTF-8.
    [[nodiscard]] const std::string& utf8() const;
    // The text in the system code page; of one made FromUtf8, Utf8ToSystem of its bytes.
    [[nodiscard]] Text ToSystem() const { return Utf8ToSystem(utf8()); }

private:
    explicit SystemUtf8(std::string utf8);
    std::shared_ptr<const std::string> utf8_;
};

}  // namespace velmora
