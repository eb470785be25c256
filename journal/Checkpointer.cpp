#include "journal/Checkpointer.h"

#include <sqlite3.h>

#include <system_error>

namespace velmora {

namespace {

// A writer that holds the file this long keeps a checkpoint from starting; it is tried again
// at the next request.
constexpr int kCheckpointBusyTimeoutMs = 1000;

}  // namespace

Checkpointer::Checkpointer(std::string path) : path_(std::move(path)) {}

Checkpointer::~Checkpointer() {
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
    }
    changed_.notify_one();
    if (thread_.joinable()) thread_.join();
}

void Checkpointer::WalGrew(int pages) {
    {
        std::lock_guard lock(mutex_);
        if (pages < pagesAtLastRequest_) pagesAtLastRequest_ = 0;  // the WAL started again
        if (pages - pagesAtLastRequest_ < kCheckpointPages) return;
        pagesAtLastRequest_ = pages;
        requested_ = true;
        if (!thread_.joinable()) {
            try {
                thread_ = std::thread([this] { Run(); });
            } catch (const std::system_error&) {
                // No checkpoint now: the WAL only grows until a later request starts one.
                return;
            }
        }
    }
    changed_.notify_one();
}

void Checkpointer::Run() {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path_.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) ==
        SQLITE_OK) {
        sqlite3_busy_timeout(db, kCheckpointBusyTimeoutMs);
        // A connection learns that the file is in WAL mode only when it first reads it; until
        // then a checkpoint does nothing.
        sqlite3_exec(db, "SELECT count(*) FROM sqlite_schema", nullptr, nullptr, nullptr);
    }
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return requested_ || closing_; });
        if (!requested_) break;
        requested_ = false;
        lock.unlock();
        // PASSIVE: copies what no reader still needs and never holds a writer up. A failure
        // leaves the rows in the WAL, where they are as safe.
        sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
        lock.lock();
    }
    sqlite3_close_v2(db);
}

}  // namespace velmora
