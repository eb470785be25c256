// The skin engine library, built as hrttp.dll. A skin file is the magic ".SHE" with a NUL,
// followed by a Qt style sheet in UTF-8. Attaching applies the sheet to the whole application;
// detaching puts back the sheet that was there before the first attach.
//
// Both functions must be called on the application's thread and answer 1 on success, 0 otherwise.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QString>
#include <QThread>
#include <cerrno>
#include <string>
#include <string_view>

namespace {

constexpr std::string_view kSkinMagic{".SHE\0", 5};
// The carried skins are a few KiB each; a file far beyond that is not one of ours.
constexpr off_t kMaxSkinFileBytes = 1 << 20;

struct AttachState {
    bool attached = false;
    QString sheetBeforeAttach;
};

AttachState& State() {
    static AttachState state;
    return state;
}

bool OnApplicationThread() {
    return qApp != nullptr && QThread::currentThread() == qApp->thread();
}

// The skin file must be a regular file of the user running us: the temporary directory is
// shared, and a file or link that someone else put there must not restyle our window.
bool ReadSkinFile(const char* path, std::string& contents) {
    int fd = ::open(path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat info {};
    bool usable = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid() &&
                  info.st_size <= kMaxSkinFileBytes;
    if (usable) {
        contents.resize(static_cast<size_t>(info.st_size));
        size_t done = 0;
        while (done < contents.size()) {
            ssize_t got = ::read(fd, contents.data() + done, contents.size() - done);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;
            done += static_cast<size_t>(got);
        }
        contents.resize(done);
    }
    ::close(fd);
    return usable;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int SkinH_AttachEx(const char* skinPath,
                                                                     const char* /*unused*/) {
    if (skinPath == nullptr || !OnApplicationThread()) return 0;
    std::string contents;
    if (!ReadSkinFile(skinPath, contents)) return 0;
    if (!std::string_view(contents).starts_with(kSkinMagic)) return 0;
    QString sheet = QString::fromUtf8(contents.data() + kSkinMagic.size(),
                                      static_cast<qsizetype>(contents.size() - kSkinMagic.size()));
    AttachState& state = State();
    if (!state.attached) state.sheetBeforeAttach = qApp->styleSheet();
    state.attached = true;
    qApp->setStyleSheet(sheet);
    return 1;
}

extern "C" __attribute__((visibility("default"))) int SkinH_Detach() {
    if (!OnApplicationThread()) return 0;
    AttachState& state = State();
    if (!state.attached) return 1;
    qApp->setStyleSheet(state.sheetBeforeAttach);
    state.attached = false;
    state.sheetBeforeAttach.clear();
    return 1;
}
