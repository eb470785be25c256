#include "platform/VerifiedLibrary.h"

#include <string_view>

#include "platform/PrivateFiles.h"
#include "platform/ReplaceFile.h"

namespace velmora {

std::filesystem::path InstallCarriedLibrary(const std::filesystem::path& runDirectory,
                                            std::string_view name,
                                            std::span<const unsigned char> image) {
    const std::vector<std::filesystem::path> paths = CarriedLibraryPaths(runDirectory, name);
    const std::string_view bytes(reinterpret_cast<const char*>(image.data()), image.size());
    for (const std::filesystem::path& path : paths) {
        if (IsVerifiedCopy(path, image)) return path;
        // The user's own folder may not exist yet; the program's is never made.
        if (&path != &paths.front() && MakePrivateFolders(path.parent_path()) != 0) continue;
        if (ReplaceFileContents(path, bytes, FileAccess::kOwnerWritesAll)) return path;
    }
    return paths.front();
}

}  // namespace velmora
