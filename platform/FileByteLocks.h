#pragma once
// Exclusive locks on single bytes of one file, held by an opening of the file: two openings
// exclude each other, in one process or in two. The system drops an opening's locks when it is
// closed or its process ends, killed or crashed included, and no lock outlives a reboot.
// (Open-file-description locks here; LockFileEx on Windows.)

#include <cstdint>
#include <filesystem>
#include <memory>

namespace velmora {

class FileByteLocks {
public:
    // Opens the file, making it for this user alone (0600) when missing. A program this one
    // starts does not inherit the opening, so it cannot keep a lock alive.
    explicit FileByteLocks(const std::filesystem::path& path);
    // Lets every lock of this opening go.
    ~FileByteLocks();
    FileByteLocks(const FileByteLocks&) = delete;
    FileByteLocks& operator=(const FileByteLocks&) = delete;

    // 0 when the file is open, else the system's error (SystemError.h).
    int error() const { return error_; }

    // Locks `byte` for this opening without waiting; false when another opening holds it (or
    // the file is not open).
    [[nodiscard]] bool TryLock(std::uint64_t byte);
    void Unlock(std::uint64_t byte);
    // Whether another opening holds `byte`; asked of bytes this opening does not hold. On
    // Windows the answer takes a shared lock for an instant, during which another opening's
    // TryLock of that byte fails.
    [[nodiscard]] bool LockedElsewhere(std::uint64_t byte) const;

private:
    struct File;
    std::unique_ptr<File> file_;
    int error_ = 0;
};

}  // namespace velmora
