#pragma once
// Where the journal lives and how its files are made: private to the user, since they hold
// people's contact data.

#include <string>

namespace velmora {

// Names the journal file for tests and portable use; empty or unset means the default place.
inline constexpr const char* kJournalVariable = "VELMORA_JOURNAL";
inline constexpr const char* kJournalFileName = "journal.sqlite3";

// $VELMORA_JOURNAL when set and not empty; else journal.sqlite3 in the program's folder of the
// user's data (DataFilePath: ~/.local/share/velmora by the XDG rules, %LOCALAPPDATA%\velmora on
// Windows). UTF-8; empty when there is no home folder.
std::string JournalPath();

// Makes the folders missing on the way to `folder`, each 0700; existing ones stay as they are.
// 0 on success, else the errno of the step that failed.
[[nodiscard]] int MakePrivateFolders(const std::string& folder);

// Makes `path` an empty 0600 file when it does not exist. 0 on success (or when it existed),
// else the errno.
[[nodiscard]] int MakePrivateFile(const std::string& path);

// Takes the group's and others' permissions off an existing file of this user; a missing file
// or another user's is left alone.
void KeepPrivate(const std::string& path);

}  // namespace velmora
