#include "journal/RunningSearchLocks.h"

#include "platform/FileByteLocks.h"
#include "platform/Utf8Path.h"

namespace velmora {

RunningSearchLocks::RunningSearchLocks(const std::string& path)
    : file_(std::make_unique<FileByteLocks>(PathFromUtf8(path))) {}

RunningSearchLocks::~RunningSearchLocks() = default;

int RunningSearchLocks::error() const {
    return file_->error();
}

bool RunningSearchLocks::Take(std::int64_t id) {
    if (id < 0 || !file_->TryLock(static_cast<std::uint64_t>(id))) return false;
    held_.insert(id);
    return true;
}

void RunningSearchLocks::Release(std::int64_t id) {
    if (held_.erase(id) == 0) return;
    file_->Unlock(static_cast<std::uint64_t>(id));
}

bool RunningSearchLocks::HeldElsewhere(std::int64_t id) const {
    // A search held here is held nowhere else.
    if (id < 0 || HeldHere(id)) return false;
    return file_->LockedElsewhere(static_cast<std::uint64_t>(id));
}

}  // namespace velmora
