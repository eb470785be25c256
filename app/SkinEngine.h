#pragma once
// The program's side of the skin engine: the carried library image and skins, where they are
// written, and the two calls into the library, which is loaded by absolute path at the first
// call. A library that cannot be loaded or lacks the called function ends the program with
// the fatal report; so does a library file that others than its owner could have written
// (platform/VerifiedLibrary.h).

#include <QByteArray>
#include <QString>
#include <utility>

namespace velmora {

inline constexpr int kSkinCount = 56;
inline constexpr const char* kSkinEngineFileName = "hrttp.dll";
inline constexpr const char* kAttachedSkinFileName = "1.she";

QByteArray CarriedSkinEngineImage();
// Empty for a number outside 1 to kSkinCount.
QByteArray CarriedSkin(int number);

class SkinEngine {
public:
    explicit SkinEngine(QString libraryPath) : libraryPath_(std::move(libraryPath)) {}
    SkinEngine(const SkinEngine&) = delete;
    SkinEngine& operator=(const SkinEngine&) = delete;

    // Window's thread only; results are not examined by the callers.
    int AttachEx(const QString& skinPath, const QByteArray& second = {});
    int Detach();

private:
    void* Function(const char* name);

    QString libraryPath_;
    void* library_ = nullptr;
};

// Puts the carried library into `runDirectory` unless a verified copy is there already
// (platform/VerifiedLibrary.h), and gives the file to load; failure is silent.
QString InstallSkinEngine(const QString& runDirectory);
// Where the attached skin file is written: the temporary directory, or, where that directory
// holds another user's file of that name or cannot be written, a directory of the user's own
// (none when empty).
struct SkinFolders {
    QString temporary;
    QString own = {};
};
// Writes skin `number` (when it is one of 1 to kSkinCount) as 1.she into the first usable of
// `folders`, replacing what is there without following a link, and attaches that file.
void AttachSkin(SkinEngine& engine, int number, const SkinFolders& folders);

}  // namespace velmora
