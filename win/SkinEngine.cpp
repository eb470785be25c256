#include "win/SkinEngine.h"

#include <windows.h>

#include <string>
#include <utility>

#include "platform/FatalError.h"
#include "platform/Utf8Path.h"
#include "platform/VerifiedLibrary.h"
#include "text/CodePage.h"

namespace velmora {
namespace {

using AttachExFunction = int(WINAPI*)(const char*, const char*);
using DetachFunction = int(WINAPI*)();

std::span<const unsigned char> CarriedResource(int id) {
    HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10));  // RT_RCDATA
    HGLOBAL loaded = found != nullptr ? LoadResource(nullptr, found) : nullptr;
    if (loaded == nullptr) return {};
    return {static_cast<const unsigned char*>(LockResource(loaded)),
            static_cast<std::size_t>(SizeofResource(nullptr, found))};
}

// Creates or truncates `path` and writes `bytes`; a link there is replaced, not followed.
void WriteCarriedFile(const std::filesystem::path& path, std::span<const unsigned char> bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

}  // namespace

std::span<const unsigned char> CarriedSkinEngineImage() {
    return CarriedResource(VELMORA_CARRIED_RESOURCES);
}

std::span<const unsigned char> CarriedSkin(int number) {
    if (number < 1 || number > kSkinCount) return {};
    return CarriedResource(VELMORA_CARRIED_RESOURCES + number);
}

void* SkinEngine::Function(const char* name) {
    if (library_ == nullptr) library_ = LoadVerifiedLibrary(libraryPath_, CarriedSkinEngineImage());
    void* function = library_ != nullptr ? LibraryFunction(library_, name) : nullptr;
    if (function == nullptr) {
        ReportFatalError(Utf8ToSystem("无法找到指定DLL库文件“" + Utf8FromPath(libraryPath_) +
                                      "”中的输出命令“" + name + "”"));
    }
    return function;
}

int SkinEngine::AttachEx(const std::filesystem::path& skinPath) {
    const auto attach = reinterpret_cast<AttachExFunction>(Function("SkinH_AttachEx"));
    return attach(Utf8ToSystem(Utf8FromPath(skinPath)).c_str(), "");
}

int SkinEngine::Detach() {
    return reinterpret_cast<DetachFunction>(Function("SkinH_Detach"))();
}

std::filesystem::path InstallSkinEngine(const std::filesystem::path& runDirectory) {
    return InstallCarriedLibrary(runDirectory, kSkinEngineFileName, CarriedSkinEngineImage());
}

void AttachSkin(SkinEngine& engine, int number) {
    std::wstring temporary(MAX_PATH + 1, L'\0');
    temporary.resize(GetTempPathW(static_cast<DWORD>(temporary.size()), temporary.data()));
    const std::filesystem::path skin = std::filesystem::path(temporary) / kAttachedSkinFileName;
    if (number >= 1 && number <= kSkinCount) WriteCarriedFile(skin, CarriedSkin(number));
    engine.AttachEx(skin);
}

}  // namespace velmora
