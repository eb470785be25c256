#include <windows.h>

#include <climits>

#include "platform/Utf8Path.h"

namespace velmora {

namespace {

constexpr std::wstring_view kLocalPrefix = L"\\\\?\\";
constexpr std::wstring_view kUncPrefix = L"\\\\?\\UNC\\";
constexpr std::wstring_view kUncStart = L"\\\\";

// The prefixed form takes no "." or "..", no "/" and no relative part: the system's own
// resolution makes the path whole first.
std::wstring LongForm(const std::wstring& path) {
    if (path.starts_with(kLocalPrefix)) return path;
    const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return path;
    std::wstring full(needed, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed) return path;
    full.resize(length);
    if (full.starts_with(kUncStart)) return std::wstring(kUncPrefix) + full.substr(2);
    return std::wstring(kLocalPrefix) + full;
}

}  // namespace

// MultiByteToWideChar rather than the path's own conversion, which throws on malformed input.
std::filesystem::path PathFromUtf8(std::string_view utf8) {
    if (utf8.empty() || utf8.size() > INT_MAX) return {};
    const int size = static_cast<int>(utf8.size());
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), length);
    if (wide.size() >= kLongPathFrom) wide = LongForm(wide);
    return std::filesystem::path(std::move(wide));
}

std::string Utf8FromPath(const std::filesystem::path& path) {
    std::wstring_view wide = path.native();
    std::wstring unc;
    if (wide.starts_with(kUncPrefix)) {
        unc = std::wstring(kUncStart) + std::wstring(wide.substr(kUncPrefix.size()));
        wide = unc;
    } else if (wide.starts_with(kLocalPrefix)) {
        wide.remove_prefix(kLocalPrefix.size());
    }
    if (wide.empty() || wide.size() > INT_MAX) return {};
    const int size = static_cast<int>(wide.size());
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), length, nullptr, nullptr);
    return utf8;
}

}  // namespace velmora
