#pragma once
// Where the journal lives. Its files are private to the user (platform/PrivateFiles.h), since
// they hold people's contact data.

#include <string>

namespace velmora {

// Names the journal file for tests and portable use; empty or unset means the default place.
inline constexpr const char* kJournalVariable = "VELMORA_JOURNAL";
inline constexpr const char* kJournalFileName = "journal.sqlite3";

// $VELMORA_JOURNAL when set and not empty; else journal.sqlite3 in the program's folder of the
// user's data (DataFilePath: ~/.local/share/velmora by the XDG rules, %LOCALAPPDATA%\velmora on
// Windows). UTF-8; empty when there is no home folder.
std::string JournalPath();

}  // namespace velmora
