#pragma once
// Paths travel through the program as UTF-8 text and become std::filesystem::path only here, on
// their way to the system. A path made from a std::string directly would be read in the ANSI
// code page on Windows, which cannot spell most names.

#include <filesystem>
#include <string>
#include <string_view>

namespace velmora {

// Malformed UTF-8 becomes U+FFFD (on Windows; elsewhere the bytes stay as they are).
// On Windows a path of kLongPathFrom characters or more comes back whole and in the form
// "\\?\C:\..." (or "\\?\UNC\server\..."), which the system's functions take past
// MAX_PATH on every version, whatever the manifest and the registry allow; Utf8FromPath gives
// it back without that prefix, as the user wrote it.
std::filesystem::path PathFromUtf8(std::string_view utf8);
std::string Utf8FromPath(const std::filesystem::path& path);

// From here a folder's name is too long for CreateDirectoryW without the prefix (MAX_PATH less
// room for an 8.3 file name); every longer path gets it.
inline constexpr std::size_t kLongPathFrom = 260 - 12;

}  // namespace velmora
