#pragma once
// The program's side of the skin engine on Windows: the library image and the skins velmora.exe
// carries as resources, where they are written, and the two calls into the library, which is
// loaded by its full path at the first call, and only as the program wrote it
// (platform/VerifiedLibrary.h). A library that cannot be loaded or lacks the called function
// ends the program with the fatal report.

#include <filesystem>
#include <span>

namespace velmora {

inline constexpr int kSkinCount = 56;
inline constexpr const char* kSkinEngineFileName = "hrttp.dll";
inline constexpr const char* kAttachedSkinFileName = "1.she";

std::span<const unsigned char> CarriedSkinEngineImage();
// Empty for a number outside 1 to kSkinCount.
std::span<const unsigned char> CarriedSkin(int number);

class SkinEngine {
public:
    explicit SkinEngine(std::filesystem::path libraryPath) : libraryPath_(std::move(libraryPath)) {}
    SkinEngine(const SkinEngine&) = delete;
    SkinEngine& operator=(const SkinEngine&) = delete;

    // Window's thread only; results are not examined by the callers.
    int AttachEx(const std::filesystem::path& skinPath);
    int Detach();

private:
    void* Function(const char* name);

    std::filesystem::path libraryPath_;
    void* library_ = nullptr;
};

// Puts the carried library beside the program in `runDirectory`, or where the program's folder
// cannot take it in the user's own (platform/VerifiedLibrary.h), and gives the file to load.
std::filesystem::path InstallSkinEngine(const std::filesystem::path& runDirectory);
// Writes skin `number` (when it is one of 1 to kSkinCount) as 1.she into the temporary folder,
// replacing what is there without following a link, and attaches that file.
void AttachSkin(SkinEngine& engine, int number);

}  // namespace velmora
