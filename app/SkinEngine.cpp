#include "app/SkinEngine.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <string>

#include "platform/FatalError.h"
#include "platform/ReplaceFile.h"
#include "platform/Utf8Path.h"
#include "text/CodePage.h"

namespace velmora {
namespace {

using AttachExFunction = int (*)(const char*, const char*);
using DetachFunction = int (*)();

constexpr FileAccess kLibraryAccess = FileAccess::kOwnerWritesAll;
constexpr FileAccess kSkinFileAccess = FileAccess::kOwnerOnly;

QByteArray ReadResource(const QString& name) {
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return file.readAll();
}

// The carried blocks are written whole or not at all.
bool WriteCarried(const QString& path, const QByteArray& bytes, FileAccess access) {
    return ReplaceFileContents(
        PathFromUtf8(path.toStdString()),
        std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())), access);
}

// An entry under that name that belongs to someone else: another user's skin file, or a link
// planted there, which this user can neither replace nor read.
bool HeldByAnotherUser(const QString& path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 && info.st_uid != ::geteuid();
}

// The library file opened for loading, or -1 when someone other than its owner could have put
// its code there: only a regular file (not a link) of this user or root, which neither its
// group nor others can write, is run in this process.
int OpenTrustedLibrary(const QString& path) {
    int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat info {};
    bool trusted = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
                   (info.st_uid == ::geteuid() || info.st_uid == 0) &&
                   (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
    if (trusted) return fd;
    ::close(fd);
    return -1;
}

// Loads exactly the file that was checked, not whatever has its name by the time of loading.
// A loaded library keeps its descriptor open: the name it was loaded under is how debuggers,
// sanitizers and crash reports find its file again, and a closed or reused descriptor would
// show them another file.
void* LoadTrustedLibrary(const QString& path) {
    int fd = OpenTrustedLibrary(path);
    if (fd < 0) return nullptr;
    std::string opened = "/proc/self/fd/" + std::to_string(fd);
    void* library = ::dlopen(opened.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) ::close(fd);
    return library;
}

}  // namespace

QByteArray CarriedSkinEngineImage() {
    return ReadResource(QStringLiteral(":/skin/hrttp.dll"));
}

QByteArray CarriedSkin(int number) {
    if (number < 1 || number > kSkinCount) return {};
    return ReadResource(QStringLiteral(":/skin/%1.she").arg(number, 2, 10, QLatin1Char('0')));
}

int SkinEngine::AttachEx(const QString& skinPath, const QByteArray& second) {
    auto attach = reinterpret_cast<AttachExFunction>(Function("SkinH_AttachEx"));
    return attach(QFile::encodeName(skinPath).constData(), second.constData());
}

int SkinEngine::Detach() {
    auto detach = reinterpret_cast<DetachFunction>(Function("SkinH_Detach"));
    return detach();
}

void* SkinEngine::Function(const char* name) {
    if (library_ == nullptr) {
        // Kept loaded for the rest of the process: the application's look refers to it.
        library_ = LoadTrustedLibrary(libraryPath_);
        if (library_ == nullptr) {
            ReportFatalError(Utf8ToSystem("无法找到指定DLL库文件“" + libraryPath_.toStdString() +
                                          "”中的输出命令“" + name + "”"));
        }
    }
    void* function = ::dlsym(library_, name);
    if (function == nullptr)
        ReportFatalError(
            Utf8ToSystem(std::string("无法找到指定DLL库文件中的输出命令“") + name + "”"));
    return function;
}

void InstallSkinEngine(const QString& runDirectory) {
    (void)WriteCarried(runDirectory + QLatin1Char('/') + QLatin1String(kSkinEngineFileName),
                       CarriedSkinEngineImage(), kLibraryAccess);
}

void AttachSkin(SkinEngine& engine, int number, const SkinFolders& folders) {
    const QString name = QLatin1Char('/') + QLatin1String(kAttachedSkinFileName);
    const bool carried = number >= 1 && number <= kSkinCount;
    QString path = folders.temporary + name;
    // The temporary folder is shared by the machine's users: where it holds someone else's skin
    // file, or the write there fails, the user's own folder takes the skin.
    bool usable = !HeldByAnotherUser(path) &&
                  (!carried || WriteCarried(path, CarriedSkin(number), kSkinFileAccess));
    if (!usable && !folders.own.isEmpty()) {
        path = folders.own + name;
        if (carried) (void)WriteCarried(path, CarriedSkin(number), kSkinFileAccess);
    }
    engine.AttachEx(path);
}

}  // namespace velmora
