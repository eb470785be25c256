#include "platform/ReplaceFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <random>

namespace velmora {
namespace {

// Random names tried before giving up; a collision needs another writer in the same folder.
constexpr int kTemporaryNameAttempts = 16;

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes.remove_prefix(static_cast<size_t>(written));
    }
    return true;
}

}  // namespace

TemporaryFile CreateTemporaryBeside(const std::string& target, mode_t mode) {
    const std::filesystem::path folder = std::filesystem::path(target).parent_path();
    std::random_device seed;
    std::mt19937 generator(seed());
    for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, ".velmora-%08x~", static_cast<unsigned>(generator()));
        std::string path = (folder / name).string();
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0) return {fd, std::move(path)};
        if (errno != EEXIST) break;
    }
    return {};
}

bool ReplaceFile(const std::string& path, std::string_view bytes, mode_t mode) {
    TemporaryFile temporary = CreateTemporaryBeside(path, mode);
    if (temporary.fd < 0) return false;
    // The exact mode, whatever the umask took away.
    bool written = ::fchmod(temporary.fd, mode) == 0 && WriteAll(temporary.fd, bytes);
    written = ::close(temporary.fd) == 0 && written;
    if (written && std::rename(temporary.path.c_str(), path.c_str()) == 0) return true;
    ::unlink(temporary.path.c_str());
    return false;
}

}  // namespace velmora
