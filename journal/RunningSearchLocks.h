#pragma once
// Which searches are running: the process that runs a search holds a lock on byte `id` of a
// file beside the journal (FileByteLocks). The system drops the lock when the process ends,
// killed or crashed included, and a lock never outlives a reboot, so a reused process id cannot
// pass for the search's process. Two openings of the file, in one process or in two, exclude
// each other, and closing one opening leaves the other's locks.

#include <cstdint>
#include <memory>
#include <set>
#include <string>

namespace velmora {

class FileByteLocks;

class RunningSearchLocks {
public:
    // Opens the lock file (UTF-8 path), making it 0600 when missing; error() tells why when it
    // cannot.
    explicit RunningSearchLocks(const std::string& path);
    // Lets every search held here go.
    ~RunningSearchLocks();
    RunningSearchLocks(const RunningSearchLocks&) = delete;
    RunningSearchLocks& operator=(const RunningSearchLocks&) = delete;

    // 0 when the file is open, else the system's error (platform/SystemError.h).
    int error() const;

    // Holds search `id` for this opening; false when another one holds it (or the file is not
    // open).
    [[nodiscard]] bool Take(std::int64_t id);
    void Release(std::int64_t id);
    // Held by this opening, or by any other.
    bool HeldHere(std::int64_t id) const { return held_.count(id) != 0; }
    bool HeldElsewhere(std::int64_t id) const;

private:
    std::unique_ptr<FileByteLocks> file_;
    std::set<std::int64_t> held_;
};

}  // namespace velmora
