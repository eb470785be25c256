#pragma once
// A library named by its full path, loaded only as the program wrote it and kept loaded for the
// rest of the process, its file held open. What "as the program wrote it" means differs:
// - Windows, where a program's folder may be writable by others: the file is opened so that
//   nobody can write, rename or delete it while it stays open, and its bytes must be `image`.
// - Linux: the file must be a regular file, not a link, of this user or root, which neither its
//   group nor others can write; `image` is not compared. The descriptor that was checked is what
//   gets loaded (as /proc/self/fd/N), not whatever has the name by then; it stays open, since
//   that name is how debuggers, sanitizers and crash reports find the library's file.

#include <filesystem>
#include <span>
#include <string_view>
#include <vector>

namespace velmora {

// Whether the file at `path` would pass the check above and holds `image`: a copy that may be
// loaded as it is, without writing it.
[[nodiscard]] bool IsVerifiedCopy(const std::filesystem::path& path,
                                  std::span<const unsigned char> image);

// Where a library the program carries may be written under `name`, in order: beside the
// program; on Windows then %LOCALAPPDATA%\velmora, for a program unpacked where its user may not
// write (Program Files, a read-only share). Linux has nothing after the program's folder: one
// its user cannot write is a package's, which installs the library with the program.
std::vector<std::filesystem::path> CarriedLibraryPaths(const std::filesystem::path& runDirectory,
                                                       std::string_view name);

// The first of CarriedLibraryPaths that holds a verified copy of `image` already (left
// unwritten) or takes a fresh one (written whole, then given the name; everyone reads it, only
// its owner writes it); the one beside the program when none does, so that loading fails there
// and names it.
std::filesystem::path InstallCarriedLibrary(const std::filesystem::path& runDirectory,
                                            std::string_view name,
                                            std::span<const unsigned char> image);

// The loaded library, or nullptr when the file fails the check above or cannot be loaded.
void* LoadVerifiedLibrary(const std::filesystem::path& path, std::span<const unsigned char> image);
// A function of a library LoadVerifiedLibrary loaded; nullptr when it exports none of that name.
void* LibraryFunction(void* library, const char* name);

}  // namespace velmora
