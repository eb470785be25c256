#pragma once
// Texts at the Win32 boundary: the window's texts are UTF-8 and the engine's are in the system
// code page; the wide functions take UTF-16.

#include <string>
#include <string_view>

#include "text/CodePage.h"

namespace velmora {

inline std::wstring Wide(std::string_view utf8) {
    const std::u16string utf16 = Utf8ToUtf16(utf8);
    return {utf16.begin(), utf16.end()};
}

inline std::string Utf8(std::wstring_view wide) {
    return Utf16ToUtf8(std::u16string(wide.begin(), wide.end()));
}

inline std::wstring WideFromSystem(const Text& text) {
    return Wide(SystemToUtf8(text));
}

}  // namespace velmora
