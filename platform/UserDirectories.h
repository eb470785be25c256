#pragma once
// Where the user's files go: the one place that decides it. Paths are UTF-8; each is empty when
// it cannot be formed (no home folder).

#include <string>
#include <string_view>

namespace velmora {

// The folder of the program's own files inside the user's configuration and data folders.
inline constexpr std::string_view kProgramFolderName = "velmora";

// The environment variables that name the user's configuration and data folders:
// XDG_CONFIG_HOME and XDG_DATA_HOME; on Windows APPDATA and LOCALAPPDATA. Holding an absolute
// path, each moves the files below to that folder, as tests do on every system.
extern const char* const kConfigFolderVariable;
extern const char* const kDataFolderVariable;

// The program's settings file `name`: $XDG_CONFIG_HOME/velmora/name, where a variable that is
// not an absolute path counts as unset and ~/.config stands in for it; on Windows
// %APPDATA%\velmora\name.
std::string ConfigFilePath(std::string_view name);

// The program's data file `name`: $XDG_DATA_HOME/velmora/name, or ~/.local/share/velmora/name
// by the same rule; on Windows %LOCALAPPDATA%\velmora\name.
std::string DataFilePath(std::string_view name);

// Where ConfigFilePath and DataFilePath put `name`, as the user is told it:
// "$XDG_CONFIG_HOME/velmora/name (~/.config/velmora/name)"; on Windows "%APPDATA%\velmora\name".
std::string ConfigFileDescription(std::string_view name);
std::string DataFileDescription(std::string_view name);

// The folder for per-user runtime files: $XDG_RUNTIME_DIR when it is an absolute path to a
// folder of this user that nobody else may write, else a private folder of this user under
// /tmp; on Windows the user's temporary-files folder. Empty when none is usable.
std::string UserRuntimeDirectory();

// The user's desktop folder: XDG_DESKTOP_DIR of the user-dirs.dirs file in the configuration
// folder ("$HOME/..." or an absolute path), else ~/Desktop; on Windows the known folder
// Desktop.
std::string UserDesktopDirectory();

}  // namespace velmora
