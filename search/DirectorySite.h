#pragma once
// Where the directory site is: one built-in host, which a mirror replaces through the command
// line, the environment, or a settings file that the window and velmora-cli share; and how many
// requests a search may have with it at once, from the same file or the command line.

#include <optional>
#include <string>
#include <string_view>

#include "search/Pacing.h"
#include "text/Text.h"

namespace velmora {

// The directory site's host; every request of a search goes to it.
inline constexpr const char* kDirectoryHost = "directory.velmora.example";
// Environment variable that replaces "http://" + kDirectoryHost (mirrors, the sample site).
inline constexpr const char* kSiteVariable = "VELMORA_SITE";
// The settings file's line "site=URL" names the site.
inline constexpr std::string_view kSiteSettingKey = "site";
// The settings file's line "parallel=N" (1 to kMaxParallelWorkers) asks for the parallel search;
// 1 is the serial search.
inline constexpr std::string_view kParallelSettingKey = "parallel";
// A settings file is a few lines; a bigger one is not ours and is not read.
inline constexpr std::size_t kMaxSettingsFileBytes = std::size_t{64} << 10;

struct DirectorySite {
    Text baseUrl;  // scheme, host, optional port and path, without trailing slashes
    // Workers of a search: kSerialWorkers for the serial search.
    int parallel = kSerialWorkers;
    // Why a setting is not used (system code page), for the front end to show once in the
    // notice field: the settings file's site, or a parallel value from the file or the command
    // line; empty when there is nothing to tell.
    Text settingsProblem;
};

// The site: `override` when it is not empty (--site), else VELMORA_SITE when it is set and not
// empty, else the last site line of the settings file, else "http://" + kDirectoryHost. A
// settings file that cannot be read, or whose site is not IsUsableSiteUrl, gives the built-in
// address and a settingsProblem; no file, or one without a site line, gives it silently.
// The workers: `parallelOverride` when given (--parallel), else the last parallel line of the
// settings file, else the serial search; a value that is not a number from 1 to
// kMaxParallelWorkers gives the serial search and a settingsProblem.
DirectorySite FindDirectorySite(std::string_view override = {},
                                std::optional<std::string_view> parallelOverride = std::nullopt);

// A parallel value as written: the number of workers, or nothing when it is not a whole number
// from 1 to kMaxParallelWorkers.
std::optional<int> ParseParallel(std::string_view value);

inline constexpr std::string_view kSettingsFileName = "velmora.conf";

// kSettingsFileName in the program's folder of the user's settings (ConfigFilePath:
// $XDG_CONFIG_HOME/velmora/ or ~/.config/velmora/, %APPDATA%\velmora\ on Windows); UTF-8, empty
// when there is no home folder.
std::string SettingsFilePath();

// An http or https URL (scheme in any letter case) of a host name or IPv4 address, with an
// optional port from 1 to 65535 and an optional path; no query, fragment, blank or control byte.
bool IsUsableSiteUrl(std::string_view url);

}  // namespace velmora
