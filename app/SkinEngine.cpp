#include "app/SkinEngine.h"

#include <dlfcn.h>

#include <QFile>
#include <string>

#include "platform/FatalError.h"
#include "platform/ReplaceFile.h"
#include "text/CodePage.h"

namespace velmora {
namespace {

using AttachExFunction = int (*)(const char*, const char*);
using DetachFunction = int (*)();

constexpr mode_t kLibraryMode = 0755;
constexpr mode_t kSkinFileMode = 0600;

QByteArray ReadResource(const QString& name) {
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return file.readAll();
}

// The carried blocks are written whole or not at all; the result is not examined.
void WriteCarried(const QString& path, const QByteArray& bytes, mode_t mode) {
    (void)ReplaceFile(QFile::encodeName(path).toStdString(),
                      std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())), mode);
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
        library_ = ::dlopen(QFile::encodeName(libraryPath_).constData(), RTLD_NOW | RTLD_LOCAL);
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
    WriteCarried(runDirectory + QLatin1Char('/') + QLatin1String(kSkinEngineFileName),
                 CarriedSkinEngineImage(), kLibraryMode);
}

void AttachSkin(SkinEngine& engine, int number, const QString& temporaryDirectory) {
    QString path = temporaryDirectory + QLatin1Char('/') + QLatin1String(kAttachedSkinFileName);
    if (number >= 1 && number <= kSkinCount) WriteCarried(path, CarriedSkin(number), kSkinFileMode);
    engine.AttachEx(path);
}

}  // namespace velmora
