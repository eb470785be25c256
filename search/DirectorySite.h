#pragma once
// Where the directory site is: one built-in host, which a mirror replaces through the command
// line, the environment, or a settings file that the window and velmora-cli share.

#include <string>
#include <string_view>

#include "text/Text.h"

namespace velmora {

// The directory site's host; every request of a search goes to it.
inline constexpr const char* kDirectoryHost = "directory.velmora.example";
// Environment variable that replaces "http://" + kDirectoryHost (mirrors, the sample site).
inline constexpr const char* kSiteVariable = "VELMORA_SITE";
// The settings file's line "site=URL" names the site.
inline constexpr std::string_view kSiteSettingKey = "site";
// A settings file is a few lines; a bigger one is not ours and is not read.
inline constexpr std::size_t kMaxSettingsFileBytes = std::size_t{64} << 10;

struct DirectorySite {
    Text baseUrl;  // scheme, host, optional port and path, without trailing slashes
    // Why the settings file's site is not used (system code page), for the front end to show
    // once; empty when it is used or there is nothing to tell.
    Text settingsProblem;
};

// `override` when it is not empty (--site), else VELMORA_SITE when it is set and not empty, else
// the last site line of the settings file, else "http://" + kDirectoryHost. A settings file
// that cannot be read, or whose site is not IsUsableSiteUrl, gives the built-in address and a
// settingsProblem; no file, or one without a site line, gives it silently.
DirectorySite FindDirectorySite(std::string_view override = {});

inline constexpr std::string_view kSettingsFileName = "velmora.conf";

// kSettingsFileName in the program's folder of the user's settings (ConfigFilePath:
// $XDG_CONFIG_HOME/velmora/ or ~/.config/velmora/, %APPDATA%\velmora\ on Windows); UTF-8, empty
// when there is no home folder.
std::string SettingsFilePath();

// An http or https URL (scheme in any letter case) of a host name or IPv4 address, with an
// optional port from 1 to 65535 and an optional path; no query, fragment, blank or control byte.
bool IsUsableSiteUrl(std::string_view url);

}  // namespace velmora
