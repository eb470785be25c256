#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/PrivateFiles.h"

namespace velmora {

namespace {

constexpr mode_t kPrivateFolderMode = 0700;
constexpr mode_t kPrivateFileMode = 0600;
constexpr mode_t kGroupAndOthers = 077;

}  // namespace

int MakePrivateFolders(const std::filesystem::path& folder) {
    if (folder.empty()) return 0;
    struct stat info {};
    if (stat(folder.c_str(), &info) == 0) return S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
    if (const std::filesystem::path parent = folder.parent_path();
        parent != folder && parent.has_relative_path()) {
        if (const int error = MakePrivateFolders(parent); error != 0) return error;
    }
    // Another process may make it meanwhile.
    if (mkdir(folder.c_str(), kPrivateFolderMode) != 0 && errno != EEXIST) return errno;
    return 0;
}

int MakePrivateFile(const std::filesystem::path& path) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kPrivateFileMode);
    if (fd >= 0) {
        close(fd);
        return 0;
    }
    return errno == EEXIST ? 0 : errno;
}

void KeepPrivate(const std::filesystem::path& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || info.st_uid != geteuid()) return;
    if ((info.st_mode & kGroupAndOthers) != 0)
        chmod(path.c_str(), (info.st_mode & 07777) & ~kGroupAndOthers);
}

bool HeldByAnotherUser(const std::filesystem::path& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0 && info.st_uid != geteuid();
}

}  // namespace velmora
