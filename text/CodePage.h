#pragma once
// Conversions between the system code page (GB18030), UTF-8 and UTF-16: the one place where
// texts change encoding. Undecodable input becomes U+FFFD, so nothing after it is lost.

#include <string>
#include <string_view>

#include "text/Text.h"

namespace velmora {

Text Utf8ToSystem(std::string_view utf8);
std::string SystemToUtf8(std::string_view text);
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);

}  // namespace velmora
