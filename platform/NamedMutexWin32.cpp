#include <windows.h>

#include <mutex>
#include <set>
#include <utility>

#include "platform/NamedMutex.h"
#include "platform/Utf8Path.h"

namespace velmora {

namespace {

// The user's session's namespace: the workers of every copy of the program the user runs share
// the lock, other sessions' do not reach it.
constexpr std::string_view kNamespace = "Local\\";

// The names held through any NamedMutex, with the thread holding each. A kernel mutex lets the
// thread that owns it take it again, where two openings of one name must exclude each other as
// flock's do. Not a thread_local set: MinGW's runtime destroys such an object at the thread's
// exit after the thread's storage is gone, and the process crashes there now and then. Never
// freed, so that no thread still ending can find it gone.
struct HeldNames {
    std::mutex mutex;
    std::set<std::pair<DWORD, std::string>> names;
};
HeldNames& Held() {
    static auto* held = new HeldNames;
    return *held;
}

}  // namespace

struct NamedMutex::SystemLock {
    HANDLE mutex;
    bool owned = false;
};

NamedMutex::NamedMutex(std::string_view name) {
    OpenSystemLock(name);
}

NamedMutex::~NamedMutex() {
    if (system_) CloseHandle(system_->mutex);
}

void NamedMutex::OpenSystemLock(std::string_view name) {
    if (name.empty() || name.find('\\') != std::string_view::npos) return;
    std::string path = std::string(kNamespace) + std::string(name);
    // Not owned at creation; an existing mutex of that name is opened instead.
    const HANDLE mutex = CreateMutexW(nullptr, FALSE, PathFromUtf8(path).c_str());
    if (mutex == nullptr) return;
    system_ = std::make_unique<SystemLock>(SystemLock{mutex});
    path_ = std::move(path);
}

bool NamedMutex::TryLockSystem() {
    if (!system_) return true;
    HeldNames& held = Held();
    std::lock_guard lock(held.mutex);
    const std::pair<DWORD, std::string> mine{GetCurrentThreadId(), path_};
    if (held.names.count(mine) != 0) return false;
    switch (WaitForSingleObject(system_->mutex, 0)) {
        case WAIT_TIMEOUT:
            return false;
        case WAIT_OBJECT_0:
        case WAIT_ABANDONED:  // its holder ended without giving it back
            system_->owned = true;
            held.names.insert(mine);
            return true;
        default:
            return true;  // a broken mutex must not block
    }
}

void NamedMutex::UnlockSystem() {
    if (!system_ || !system_->owned) return;
    ReleaseMutex(system_->mutex);
    system_->owned = false;
    HeldNames& held = Held();
    std::lock_guard lock(held.mutex);
    held.names.erase({GetCurrentThreadId(), path_});
}

}  // namespace velmora
