#pragma once
// Files that hold people's contact data are the user's alone. Errors are the system's own
// numbers (SystemError.h).

#include <filesystem>

namespace velmora {

// Makes the folders missing on the way to `folder`, each for this user alone (0700; on Windows
// with an access list that admits only its owner); existing ones stay as they are. 0 on
// success, else the error of the step that failed.
[[nodiscard]] int MakePrivateFolders(const std::filesystem::path& folder);

// Makes `path` an empty file for this user alone (0600) when it does not exist. 0 on success
// (or when it existed), else the error.
[[nodiscard]] int MakePrivateFile(const std::filesystem::path& path);

// Takes the group's and others' permissions off an existing file of this user; a missing file
// or another user's is left alone. On Windows a file takes its folder's access list, which
// MakePrivateFolders made private, so there is nothing to take off.
void KeepPrivate(const std::filesystem::path& path);

// True when an entry of that name exists and belongs to another user: a file this user can
// neither replace nor trust, or a link planted there (not followed). For folders that users
// share, as Linux's temporary folder; Windows gives each user a temporary folder of their own,
// so it has no such question and no definition.
[[nodiscard]] bool HeldByAnotherUser(const std::filesystem::path& path);

}  // namespace velmora
