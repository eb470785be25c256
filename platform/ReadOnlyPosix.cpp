#include <sys/stat.h>

#include <cerrno>

#include "platform/ReadOnly.h"

namespace velmora {

int SetReadOnly(const std::filesystem::path& path, bool readOnly) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return errno;
    const mode_t mode =
        readOnly ? info.st_mode & ~(S_IWUSR | S_IWGRP | S_IWOTH) : info.st_mode | S_IWUSR;
    return chmod(path.c_str(), mode & 07777) == 0 ? 0 : errno;
}

}  // namespace velmora
