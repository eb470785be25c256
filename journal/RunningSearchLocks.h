#pragma once
// Which searches are running: the process that runs a search holds a lock on byte `id` of a
// file beside the journal. The kernel drops the lock when the process ends, killed or crashed
// included, and a lock never outlives a reboot, so a reused process id cannot pass for the
// search's process. The locks are open-file-description locks: two openings of the file, in
// one process or in two, exclude each other, and closing one opening leaves the other's locks.

#include <cstdint>
#include <set>
#include <string>

namespace velmora {

class RunningSearchLocks {
public:
    // Opens the lock file, making it 0600 when missing; errno() tells why when it cannot.
    explicit RunningSearchLocks(const std::string& path);
    // Lets every search held here go.
    ~RunningSearchLocks();
    RunningSearchLocks(const RunningSearchLocks&) = delete;
    RunningSearchLocks& operator=(const RunningSearchLocks&) = delete;

    // 0 when the file is open.
    int error() const { return error_; }

    // Holds search `id` for this opening; false when another one holds it (or the file is not
    // open).
    [[nodiscard]] bool Take(std::int64_t id);
    void Release(std::int64_t id);
    // Held by this opening, or by any other.
    bool HeldHere(std::int64_t id) const { return held_.count(id) != 0; }
    bool HeldElsewhere(std::int64_t id) const;

private:
    int fd_ = -1;
    int error_ = 0;
    std::set<std::int64_t> held_;
};

}  // namespace velmora
