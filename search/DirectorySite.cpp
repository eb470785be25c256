#include "search/DirectorySite.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

#include "search/SearchTexts.h"
#include "text/CodePage.h"
#include "text/TextOps.h"

namespace velmora {
namespace {

constexpr std::string_view kSettingsFileName = "/velmora/velmora.conf";
constexpr std::string_view kBlanks = " \t\r";
constexpr std::string_view kHttpScheme = "http://";
constexpr std::string_view kHttpsScheme = "https://";
constexpr int kMaxPort = 65535;
constexpr std::size_t kMaxPortDigits = 5;

Text BuiltInBaseUrl() {
    return Text("http://") + kDirectoryHost;
}

Text WithoutTrailingSlashes(std::string_view url) {
    while (!url.empty() && url.back() == '/') url.remove_suffix(1);
    return Text(url);
}

std::string_view TrimBlanks(std::string_view text) {
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && ToLowerText(text.substr(0, prefix.size())) == prefix;
}

bool IsHostByte(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '.' || c == '-' || c == '_';
}

bool IsUsablePort(std::string_view digits) {
    if (digits.empty() || digits.size() > kMaxPortDigits) return false;
    int port = 0;
    for (const char c : digits) {
        if (std::isdigit(static_cast<unsigned char>(c)) == 0) return false;
        port = port * 10 + (c - '0');
    }
    return port >= 1 && port <= kMaxPort;
}

bool IsUsablePath(std::string_view path) {
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7F || c == '?' || c == '#') return false;
    }
    return true;
}

enum class ReadResult { kRead, kMissing, kUnreadable };

// The whole file into `text`; kMissing when there is none, kUnreadable when it cannot be read
// or is bigger than kMaxSettingsFileBytes.
ReadResult ReadSettingsFile(const std::string& path, std::string& text) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                         std::fclose);
    if (!file) return errno == ENOENT ? ReadResult::kMissing : ReadResult::kUnreadable;
    text.resize(kMaxSettingsFileBytes + 1);
    const std::size_t got = std::fread(text.data(), 1, text.size(), file.get());
    if (std::ferror(file.get()) != 0 || got > kMaxSettingsFileBytes) return ReadResult::kUnreadable;
    text.resize(got);
    return ReadResult::kRead;
}

// The value of the last "site=" line, blanks around key and value dropped; lines that are
// blank, begin with "#" or set anything else are passed over.
std::optional<std::string> SiteSetting(std::string_view text) {
    std::optional<std::string> site;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = TrimBlanks(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.empty() || line.front() == '#') continue;
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) continue;
        if (TrimBlanks(line.substr(0, equals)) != kSiteSettingKey) continue;
        site = std::string(TrimBlanks(line.substr(equals + 1)));
    }
    return site;
}

Text SettingsProblem(const std::string& path, const Text& what) {
    return ConcatText(Utf8ToSystem(search_text::kSettingsBefore), Utf8ToSystem(path), what,
                      Utf8ToSystem(search_text::kSettingsFallback), BuiltInBaseUrl());
}

}  // namespace

std::string SettingsFilePath() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] == '/') return std::string(config).append(kSettingsFileName);
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] == '\0') return {};
    return std::string(home).append("/.config").append(kSettingsFileName);
}

bool IsUsableSiteUrl(std::string_view url) {
    std::size_t schemeLength = 0;
    if (StartsWithNoCase(url, kHttpScheme)) schemeLength = kHttpScheme.size();
    if (StartsWithNoCase(url, kHttpsScheme)) schemeLength = kHttpsScheme.size();
    if (schemeLength == 0) return false;
    const std::string_view rest = url.substr(schemeLength);
    const std::size_t pathStart = rest.find('/');
    std::string_view host = rest.substr(0, pathStart);
    const std::string_view path =
        pathStart == std::string_view::npos ? std::string_view() : rest.substr(pathStart);
    const std::size_t colon = host.find(':');
    if (colon != std::string_view::npos) {
        if (!IsUsablePort(host.substr(colon + 1))) return false;
        host = host.substr(0, colon);
    }
    if (host.empty()) return false;
    for (const char c : host) {
        if (!IsHostByte(c)) return false;
    }
    return IsUsablePath(path);
}

DirectorySite FindDirectorySite(std::string_view override) {
    if (!override.empty()) return {WithoutTrailingSlashes(override), {}};
    const char* variable = std::getenv(kSiteVariable);
    if (variable != nullptr && variable[0] != '\0') return {WithoutTrailingSlashes(variable), {}};

    const std::string path = SettingsFilePath();
    std::string text;
    const ReadResult read = path.empty() ? ReadResult::kMissing : ReadSettingsFile(path, text);
    if (read == ReadResult::kUnreadable) {
        return {BuiltInBaseUrl(),
                SettingsProblem(path, Utf8ToSystem(search_text::kSettingsUnreadable))};
    }
    const std::optional<std::string> site =
        read == ReadResult::kRead ? SiteSetting(text) : std::nullopt;
    if (!site) return {BuiltInBaseUrl(), {}};
    if (!IsUsableSiteUrl(*site)) {
        return {BuiltInBaseUrl(),
                SettingsProblem(path, ConcatText(Utf8ToSystem(search_text::kSettingsSiteInvalid),
                                                 Utf8ToSystem(*site)))};
    }
    return {WithoutTrailingSlashes(*site), {}};
}

}  // namespace velmora
