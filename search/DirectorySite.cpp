#include "search/DirectorySite.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <optional>

#include "http/HttpClient.h"
#include "platform/ThisProcess.h"
#include "platform/UserDirectories.h"
#include "platform/Utf8Path.h"
#include "search/SearchTexts.h"
#include "text/CodePage.h"
#include "text/TextOps.h"

namespace velmora {
namespace {

constexpr std::string_view kBlanks = " \t\r";
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
    const std::filesystem::path file = PathFromUtf8(path);
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::error_code error;
        return std::filesystem::exists(file, error) || error ? ReadResult::kUnreadable
                                                             : ReadResult::kMissing;
    }
    text.resize(kMaxSettingsFileBytes + 1);
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    const auto got = static_cast<std::size_t>(in.gcount());
    if (in.bad() || got > kMaxSettingsFileBytes) return ReadResult::kUnreadable;
    text.resize(got);
    return ReadResult::kRead;
}

// The value of the last "key=" line, blanks around key and value dropped; lines that are
// blank, begin with "#" or set anything else are passed over.
std::optional<std::string> Setting(std::string_view text, std::string_view key) {
    std::optional<std::string> value;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = TrimBlanks(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.empty() || line.front() == '#') continue;
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) continue;
        if (TrimBlanks(line.substr(0, equals)) != key) continue;
        value = std::string(TrimBlanks(line.substr(equals + 1)));
    }
    return value;
}

Text SettingsProblem(const std::string& path, const Text& what) {
    return ConcatText(Utf8ToSystem(search_text::kSettingsBefore), Utf8ToSystem(path), what,
                      Utf8ToSystem(search_text::kSettingsFallback), BuiltInBaseUrl());
}

}  // namespace

std::string SettingsFilePath() {
    return ConfigFilePath(kSettingsFileName);
}

bool IsUsableSiteUrl(std::string_view url) {
    // ParseUrl takes a URL without a scheme for http, sets a port it cannot use aside for the
    // scheme's default and keeps any byte in the host: a site's URL is held to more.
    const std::optional<UrlParts> parts = HttpClient::ParseUrl(url);
    if (!parts || url.size() <= parts->scheme.size() || !StartsWithNoCase(url, parts->scheme)) {
        return false;
    }
    if (parts->host.empty() || !std::all_of(parts->host.begin(), parts->host.end(), IsHostByte)) {
        return false;
    }
    // The port as written: after the host's ":", up to the path.
    std::string_view afterHost = url.substr(parts->scheme.size() + parts->host.size());
    if (afterHost.starts_with(':')) {
        afterHost.remove_prefix(1);
        if (!IsUsablePort(afterHost.substr(0, afterHost.find('/')))) return false;
    }
    return IsUsablePath(parts->path);
}

static_assert(kMaxParallelWorkers == 8, "kParallelFallback names the range");

std::optional<int> ParseParallel(std::string_view value) {
    // Leading zeros aside, one digit is all a number up to kMaxParallelWorkers needs.
    while (value.size() > 1 && value.front() == '0') value.remove_prefix(1);
    if (value.size() != 1 || std::isdigit(static_cast<unsigned char>(value.front())) == 0) {
        return std::nullopt;
    }
    const int workers = value.front() - '0';
    if (workers < kSerialWorkers || workers > kMaxParallelWorkers) return std::nullopt;
    return workers;
}

DirectorySite FindDirectorySite(std::string_view override,
                                std::optional<std::string_view> parallelOverride) {
    const std::string path = SettingsFilePath();
    std::string text;
    const ReadResult read = path.empty() ? ReadResult::kMissing : ReadSettingsFile(path, text);

    DirectorySite found{BuiltInBaseUrl(), kSerialWorkers, {}};
    const std::string variable = EnvironmentVariable(kSiteVariable);
    const std::optional<std::string> site =
        read == ReadResult::kRead ? Setting(text, kSiteSettingKey) : std::nullopt;
    if (!override.empty()) {
        found.baseUrl = WithoutTrailingSlashes(override);
    } else if (!variable.empty()) {
        found.baseUrl = WithoutTrailingSlashes(variable);
    } else if (read == ReadResult::kUnreadable) {
        found.settingsProblem =
            SettingsProblem(path, Utf8ToSystem(search_text::kSettingsUnreadable));
    } else if (site && !IsUsableSiteUrl(*site)) {
        found.settingsProblem = SettingsProblem(
            path, ConcatText(Utf8ToSystem(search_text::kSettingsSiteInvalid), Utf8ToSystem(*site)));
    } else if (site) {
        found.baseUrl = WithoutTrailingSlashes(*site);
    }

    const std::optional<std::string> fileParallel =
        read == ReadResult::kRead ? Setting(text, kParallelSettingKey) : std::nullopt;
    const std::optional<std::string> parallel =
        parallelOverride ? std::optional<std::string>(*parallelOverride) : fileParallel;
    if (!parallel) return found;
    if (const std::optional<int> workers = ParseParallel(*parallel)) {
        found.parallel = *workers;
        return found;
    }
    // Where the value came from, and then the same words for either.
    Text problem = parallelOverride
                       ? Utf8ToSystem(search_text::kParallelOptionBefore)
                       : ConcatText(Utf8ToSystem(search_text::kSettingsBefore), Utf8ToSystem(path),
                                    Utf8ToSystem(search_text::kSettingsParallelInvalid));
    problem =
        ConcatText(problem, Utf8ToSystem(*parallel), Utf8ToSystem(search_text::kParallelFallback));
    found.settingsProblem =
        found.settingsProblem.empty()
            ? problem
            : ConcatText(found.settingsProblem, Utf8ToSystem(search_text::kSettingsJoin), problem);
    return found;
}

}  // namespace velmora
