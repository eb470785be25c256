// Opening the file, its faults and closing it; the schema, the searches and the company keys
// each have a file of their own (JournalSchema.cpp, JournalSearches.cpp, JournalCompanyKeys.cpp).

#include "journal/Journal.h"

#include <sqlite3.h>

#include <filesystem>

#include "journal/Checkpointer.h"
#include "journal/RunningSearchLocks.h"
#include "platform/PrivateFiles.h"
#include "platform/SystemError.h"
#include "platform/Utf8Path.h"

namespace velmora {

namespace {

// Beside the journal: one lock byte per running search.
constexpr const char* kLockFileSuffix = "-running";
// SQLite's own files beside the journal in WAL mode, made with the journal's permissions.
constexpr const char* kSqliteCompanionSuffixes[] = {"-wal", "-shm"};
// The WAL starts again from its beginning only once it is copied back whole; while rows come
// without a pause the checkpointer never catches up, so at this many pages (about 40 MiB) the
// writer copies it back itself.
constexpr int kWalPagesCap = 10000;

JournalFault FaultOfSystemError(int error) {
    switch (KindOfStorageError(error)) {
        case StorageErrorKind::kNotWritable:
            return JournalFault::kReadOnly;
        case StorageErrorKind::kFull:
            return JournalFault::kFull;
        case StorageErrorKind::kOther:
            break;
    }
    return JournalFault::kCannotOpen;
}

JournalFault FaultOf(int code, int systemError) {
    switch (code & 0xff) {
        case SQLITE_CANTOPEN:
        case SQLITE_PERM:
        case SQLITE_AUTH:
            return JournalFault::kCannotOpen;
        case SQLITE_READONLY:
            return JournalFault::kReadOnly;
        case SQLITE_FULL:
            return JournalFault::kFull;
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return JournalFault::kLocked;
        case SQLITE_CORRUPT:
        case SQLITE_NOTADB:
            return JournalFault::kCorrupt;
        case SQLITE_IOERR: {
            const JournalFault fromSystem = FaultOfSystemError(systemError);
            return fromSystem == JournalFault::kCannotOpen ? JournalFault::kIoError : fromSystem;
        }
        default:
            return JournalFault::kIoError;
    }
}

// After each commit: the checkpointer learns how long the WAL is.
int AfterCommit(void* checkpointer, sqlite3* db, const char* /*database*/, int pages) {
    if (pages >= kWalPagesCap) {
        sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
    } else {
        static_cast<Checkpointer*>(checkpointer)->WalGrew(pages);
    }
    return SQLITE_OK;
}

}  // namespace

const char* JournalFaultText(JournalFault fault) {
    switch (fault) {
        case JournalFault::kNone:
            return "no fault";
        case JournalFault::kNoLocation:
            return "there is no place for the journal: no home folder and no VELMORA_JOURNAL";
        case JournalFault::kCannotOpen:
            return "the journal cannot be opened";
        case JournalFault::kReadOnly:
            return "the journal or its folder cannot be written";
        case JournalFault::kFull:
            return "no room is left for the journal (disk, quota or file size limit)";
        case JournalFault::kLocked:
            return "another program holds the journal locked";
        case JournalFault::kCorrupt:
            return "the journal is damaged";
        case JournalFault::kNotAJournal:
            return "the journal's file belongs to another program";
        case JournalFault::kNewerSchema:
            return "the journal was written by a newer Velmora";
        case JournalFault::kIoError:
            return "the journal cannot be read or written";
    }
    return "unknown fault";
}

Journal::Journal(const std::string& path, int busyTimeoutMs) {
    if (path.empty()) {
        fault_ = JournalFault::kNoLocation;
        return;
    }
    std::error_code error;
    path_ = Utf8FromPath(std::filesystem::absolute(PathFromUtf8(path), error).lexically_normal());
    fault_ = error ? JournalFault::kCannotOpen : OpenDatabase(busyTimeoutMs);
    if (fault_ != JournalFault::kNone) Close();
}

Journal::~Journal() {
    Close();
}

JournalFault Journal::fault() const {
    std::lock_guard lock(mutex_);
    return fault_;
}

JournalFault Journal::OpenDatabase(int busyTimeoutMs) {
    const std::filesystem::path file = PathFromUtf8(path_);
    if (const int error = MakePrivateFolders(file.parent_path()); error != 0) {
        return FaultOfSystemError(error);
    }
    if (const int error = MakePrivateFile(file); error != 0) return FaultOfSystemError(error);
    KeepPrivate(file);
    for (const char* suffix : kSqliteCompanionSuffixes) KeepPrivate(PathFromUtf8(path_ + suffix));
    locks_ = std::make_unique<RunningSearchLocks>(path_ + kLockFileSuffix);
    if (locks_->error() != 0) return FaultOfSystemError(locks_->error());
    KeepPrivate(PathFromUtf8(path_ + kLockFileSuffix));

    const int opened = sqlite3_open_v2(
        path_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_EXRESCODE,
        nullptr);
    if (opened != SQLITE_OK) return FaultOf(opened, db_ ? sqlite3_system_errno(db_) : 0);
    // A file without write permission opens read-only without a word.
    if (sqlite3_db_readonly(db_, "main") == 1) return JournalFault::kReadOnly;
    sqlite3_busy_timeout(db_, busyTimeoutMs);
    // A long search's checkpoints are the checkpointer's, never a writer's: they sync to the
    // disk, which would hold up the worker that happens to commit. The last connection to
    // close still copies the WAL back and removes it, so that the next opening has no WAL to
    // read through.
    checkpointer_ = std::make_unique<Checkpointer>(path_);
    sqlite3_wal_hook(db_, AfterCommit, checkpointer_.get());
    return BringSchemaUpToDate(busyTimeoutMs);
}

bool Journal::Fail(int sqliteCode) {
    // SQLite keeps the system's error only for some failures; right after the failed call the
    // thread's last error still holds it.
    const int systemError =
        db_ && sqlite3_system_errno(db_) != 0 ? sqlite3_system_errno(db_) : LastSystemError();
    if (fault_ == JournalFault::kNone) {
        fault_ = FaultOf(sqliteCode, systemError);
    }
    // Closing rolls back whatever transaction was open.
    Close();
    return false;
}

void Journal::Close() {
    sqlite3_finalize(insertRow_);
    insertRow_ = nullptr;
    sqlite3_close_v2(db_);
    db_ = nullptr;
}

bool Journal::Exec(const char* sql) {
    const int code = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
    return code == SQLITE_OK || Fail(code);
}

bool Journal::Done(int step) {
    return step == SQLITE_DONE || Fail(step);
}

}  // namespace velmora
