#pragma once
// A library loaded only as the program wrote it (Windows, where a program's folder may be
// writable by others): the file is opened so that nobody can write, rename or delete it while it
// stays open, its bytes must be the image the program carries, and only then is it loaded by its
// full path. The file stays open, and so unchangeable, for the rest of the process.

#include <filesystem>
#include <span>

namespace velmora {

// The loaded library, or nullptr when the file is not `image` or cannot be loaded.
void* LoadVerifiedLibrary(const std::filesystem::path& path, std::span<const unsigned char> image);
// A function of a library LoadVerifiedLibrary loaded; nullptr when it exports none of that name.
void* LibraryFunction(void* library, const char* name);

}  // namespace velmora
