#pragma once
// Paths travel through the program as UTF-8 text and become std::filesystem::path only here, on
// their way to the system. A path made from a std::string directly would be read in the ANSI
// code page on Windows, which cannot spell most names.

#include <filesystem>
#include <string>
#include <string_view>

namespace velmora {

// Malformed UTF-8 becomes U+FFFD (on Windows; elsewhere the bytes stay as they are).
std::filesystem::path PathFromUtf8(std::string_view utf8);
std::string Utf8FromPath(const std::filesystem::path& path);

}  // namespace velmora
