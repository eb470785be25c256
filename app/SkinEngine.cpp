#include "app/SkinEngine.h"

#include <QFile>
#include <string>

#include "platform/FatalError.h"
#include "platform/PrivateFiles.h"
#include "platform/ReplaceFile.h"
#include "platform/Utf8Path.h"
#include "platform/VerifiedLibrary.h"
#include "text/CodePage.h"

namespace velmora {
namespace {

using AttachExFunction = int (*)(const char*, const char*);
using DetachFunction = int (*)();

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
        const QByteArray image = CarriedSkinEngineImage();
        library_ = LoadVerifiedLibrary(PathFromUtf8(libraryPath_.toStdString()),
                                       {reinterpret_cast<const unsigned char*>(image.constData()),
                                        static_cast<std::size_t>(image.size())});
        if (library_ == nullptr) {
            ReportFatalError(Utf8ToSystem("无法找到指定DLL库文件“" + libraryPath_.toStdString() +
                                          "”中的输出命令“" + name + "”"));
        }
    }
    void* function = LibraryFunction(library_, name);
    if (function == nullptr)
        ReportFatalError(
            Utf8ToSystem(std::string("无法找到指定DLL库文件中的输出命令“") + name + "”"));
    return function;
}

QString InstallSkinEngine(const QString& runDirectory) {
    const QByteArray image = CarriedSkinEngineImage();
    const std::filesystem::path installed =
        InstallCarriedLibrary(PathFromUtf8(runDirectory.toStdString()), kSkinEngineFileName,
                              {reinterpret_cast<const unsigned char*>(image.constData()),
                               static_cast<std::size_t>(image.size())});
    return QString::fromStdString(Utf8FromPath(installed));
}

void AttachSkin(SkinEngine& engine, int number, const SkinFolders& folders) {
    const QString name = QLatin1Char('/') + QLatin1String(kAttachedSkinFileName);
    const bool carried = number >= 1 && number <= kSkinCount;
    QString path = folders.temporary + name;
    // The temporary folder is shared by the machine's users: where it holds someone else's skin
    // file, or the write there fails, the user's own folder takes the skin.
    bool usable = !HeldByAnotherUser(PathFromUtf8(path.toStdString())) &&
                  (!carried || WriteCarried(path, CarriedSkin(number), kSkinFileAccess));
    if (!usable && !folders.own.isEmpty()) {
        path = folders.own + name;
        if (carried) (void)WriteCarried(path, CarriedSkin(number), kSkinFileAccess);
    }
    engine.AttachEx(path);
}

}  // namespace velmora
