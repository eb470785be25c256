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

namespace velmora {

// The loaded library, or nullptr when the file fails the check above or cannot be loaded.
void* LoadVerifiedLibrary(const std::filesystem::path& path, std::span<const unsigned char> image);
// A function of a library LoadVerifiedLibrary loaded; nullptr when it exports none of that name.
void* LibraryFunction(void* library, const char* name);

}  // namespace velmora
