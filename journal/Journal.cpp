#include "journal/Journal.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iterator>
#include <limits>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <utility>

#include "journal/Checkpointer.h"
#include "journal/JournalFiles.h"
#include "journal/RunningSearchLocks.h"
#include "leads/CompanyKeys.h"
#include "platform/PrivateFiles.h"
#include "platform/SystemError.h"
#include "platform/ThisProcess.h"
#include "platform/Utf8Path.h"

namespace velmora {

namespace {

// Beside the journal: one lock byte per running search.
constexpr const char* kLockFileSuffix = "-running";
// SQLite's own files beside the journal in WAL mode, made with the journal's permissions.
constexpr const char* kSqliteCompanionSuffixes[] = {"-wal", "-shm"};
// The WAL is cut back to this size after a checkpoint rather than left at its largest.
constexpr int kWalSizeLimitBytes = 4 * 1024 * 1024;
// The WAL starts again from its beginning only once it is copied back whole; while rows come
// without a pause the checkpointer never catches up, so at this many pages (about 40 MiB) the
// writer copies it back itself.
constexpr int kWalPagesCap = 10000;

// How long a switch to WAL mode that found the file busy waits before it tries again.
constexpr auto kWalSwitchRetryPeriod = std::chrono::milliseconds(2);

// A row's key is its search's id times this, plus its 1-based place in the search. A search's
// rows are then one range of keys in their order, and a new row goes at the end of its range:
// no index to keep up, and the cheapest page splits (a third less written per row than a
// two-column key). A search holds fewer rows than this; ids stay far below 2^31.
// SQL reads a row key's search as key >> 32.
constexpr std::int64_t kKeysPerSearch = std::int64_t{1} << 32;

// At most this many rows get their company keys in one transaction: a journal migrated with
// millions of rows is keyed in steps that each hold other programs' writes off for a fraction of
// a second, and the batch's keys (about four a row) stay a few megabytes.
constexpr std::int64_t kKeyBatchRows = 20000;

// kMigrations[n] takes a journal of schema version n to version n + 1; the steps run in one
// transaction with the version's update. Version 0 is the empty file.
constexpr const char* kMigrations[] = {
    R"sql(
CREATE TABLE search (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    keyword BLOB NOT NULL,
    site BLOB NOT NULL,
    origin TEXT NOT NULL CHECK (origin IN ('window', 'cli')),
    pid INTEGER NOT NULL,
    started_ms INTEGER NOT NULL,
    ended_ms INTEGER,
    state TEXT NOT NULL CHECK (state IN ('running', 'finished', 'no-hits', 'stopped')),
    closed_after_restore INTEGER NOT NULL DEFAULT 0
);
CREATE TABLE result_row (
    key INTEGER PRIMARY KEY,
    link BLOB NOT NULL,
    company_name BLOB NOT NULL,
    contact BLOB NOT NULL,
    telephone BLOB NOT NULL,
    mobile BLOB NOT NULL,
    fax BLOB NOT NULL,
    email BLOB NOT NULL,
    address BLOB NOT NULL
);
)sql",
    // Version 2: what a search walked and what it failed to fetch, so that a resumed search asks
    // only for what is missing; each row's place in the listing; the state `incomplete`, which
    // the state's CHECK must learn, so the table is made anew (keeping the id sequence: ids are
    // never given twice, a forgotten search's included).
    R"sql(
CREATE TABLE search_v2 (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    keyword BLOB NOT NULL,
    site BLOB NOT NULL,
    origin TEXT NOT NULL CHECK (origin IN ('window', 'cli')),
    pid INTEGER NOT NULL,
    started_ms INTEGER NOT NULL,
    ended_ms INTEGER,
    state TEXT NOT NULL
        CHECK (state IN ('running', 'finished', 'no-hits', 'stopped', 'incomplete')),
    closed_after_restore INTEGER NOT NULL DEFAULT 0,
    page_count INTEGER,
    total BLOB
);
INSERT INTO search_v2 (id, keyword, site, origin, pid, started_ms, ended_ms, state,
                       closed_after_restore)
    SELECT id, keyword, site, origin, pid, started_ms, ended_ms, state, closed_after_restore
    FROM search;
DELETE FROM sqlite_sequence WHERE name = 'search_v2';
INSERT INTO sqlite_sequence (name, seq) SELECT 'search_v2', seq FROM sqlite_sequence
    WHERE name = 'search';
DROP TABLE search;
ALTER TABLE search_v2 RENAME TO search;
ALTER TABLE result_row ADD COLUMN listing_page INTEGER;
ALTER TABLE result_row ADD COLUMN listing_position INTEGER;
CREATE TABLE walked_page (
    search_id INTEGER NOT NULL,
    page INTEGER NOT NULL,
    PRIMARY KEY (search_id, page)
) WITHOUT ROWID;
CREATE TABLE listed_link (
    search_id INTEGER NOT NULL,
    page INTEGER NOT NULL,
    position INTEGER NOT NULL,
    link BLOB NOT NULL,
    PRIMARY KEY (search_id, page, position)
) WITHOUT ROWID;
CREATE TABLE failed_page (
    search_id INTEGER NOT NULL,
    page INTEGER NOT NULL,
    position INTEGER NOT NULL,
    url BLOB NOT NULL,
    reason TEXT NOT NULL,
    PRIMARY KEY (search_id, page, position)
) WITHOUT ROWID;
)sql",
    // Version 3: each row's company keys (CompanyKeyHashes), in key order, so that the rows of
    // earlier searches that share a key with a row are found without reading any row. One tree,
    // no second one by row: every key is written once, and only forgetting needs keys by row
    // (one walk through them all). And how far each search's rows have their keys
    // (keyed_through: the number in the search of its last row keyed, the low half of that
    // row's key; 0 for none). Keys are made in batches, never row by row (StoreMissingKeys), so
    // the rows stored before are keyed when a question first needs them, not here: the
    // migration holds every other program off the file, and a journal may hold millions of rows.
    R"sql(
CREATE TABLE company_key (
    company INTEGER NOT NULL,
    row_key INTEGER NOT NULL,
    PRIMARY KEY (company, row_key)
) WITHOUT ROWID;
ALTER TABLE search ADD COLUMN keyed_through INTEGER NOT NULL DEFAULT 0;
)sql",
};
constexpr int kSchemaVersion = static_cast<int>(std::size(kMigrations));

constexpr const char* kStateNames[] = {"running", "finished",    "no-hits",
                                       "stopped", "interrupted", "incomplete"};

constexpr const char* kSearchColumns =
    "SELECT id, keyword, site, origin, pid, started_ms, ended_ms, state,"
    " (SELECT count(*) FROM result_row WHERE key > s.id * 4294967296"
    " AND key < (s.id + 1) * 4294967296) FROM search AS s ";

std::optional<SearchState> StoredState(std::string_view name) {
    for (std::size_t i = 0; i < std::size(kStateNames); ++i) {
        if (name == kStateNames[i]) return static_cast<SearchState>(i);
    }
    return std::nullopt;
}

const char* OriginName(SearchOrigin origin) {
    return origin == SearchOrigin::kWindow ? "window" : "cli";
}

std::int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

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

// One prepared statement, finalized when it goes. A statement that failed to prepare fails
// every step with the preparation's code.
class Statement {
public:
    Statement(sqlite3* db, const char* sql)
        : code_(sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr)) {}
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& Bind(int index, std::int64_t value) {
        sqlite3_bind_int64(stmt_, index, value);
        return *this;
    }
    Statement& Bind(int index, const char* text) {
        sqlite3_bind_text(stmt_, index, text, -1, SQLITE_STATIC);
        return *this;
    }
    // SQLITE_ROW, SQLITE_DONE or the error.
    int Step() { return code_ != SQLITE_OK ? code_ : sqlite3_step(stmt_); }

    std::int64_t Int(int column) const { return sqlite3_column_int64(stmt_, column); }
    bool IsNull(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }
    std::string_view String(int column) const {
        const auto* text = sqlite3_column_text(stmt_, column);
        return text
                   ? std::string_view(reinterpret_cast<const char*>(text),
                                      static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)))
                   : std::string_view();
    }
    Text Bytes(int column) const {
        const void* bytes = sqlite3_column_blob(stmt_, column);
        const int size = sqlite3_column_bytes(stmt_, column);
        return bytes ? Text(static_cast<const char*>(bytes), static_cast<std::size_t>(size))
                     : Text();
    }
    sqlite3_stmt* get() { return stmt_; }

private:
    sqlite3_stmt* stmt_ = nullptr;
    int code_;
};

// After each commit: the checkpointer learns how long the WAL is.
int AfterCommit(void* checkpointer, sqlite3* db, const char* /*database*/, int pages) {
    if (pages >= kWalPagesCap) {
        sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
    } else {
        static_cast<Checkpointer*>(checkpointer)->WalGrew(pages);
    }
    return SQLITE_OK;
}

// Any bytes, NUL included; the data must stay put until the statement is reset.
void BindBytes(sqlite3_stmt* stmt, int index, const Text& bytes) {
    sqlite3_bind_blob64(stmt, index, bytes.data(), bytes.size(), SQLITE_STATIC);
}

// A place as two columns; NULL for one not known.
void BindPlace(sqlite3_stmt* stmt, int pageIndex, ListingPlace place) {
    if (place == ListingPlace{}) {
        sqlite3_bind_null(stmt, pageIndex);
        sqlite3_bind_null(stmt, pageIndex + 1);
        return;
    }
    sqlite3_bind_int(stmt, pageIndex, place.page);
    sqlite3_bind_int(stmt, pageIndex + 1, place.position);
}

}  // namespace

const char* SearchStateName(SearchState state) {
    return kStateNames[static_cast<std::size_t>(state)];
}

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

JournalFault Journal::BringSchemaUpToDate(int busyTimeoutMs) {
    // Read before anything is written: another program's file or a newer journal stays as it is.
    std::int64_t applicationId = 0;
    std::int64_t version = 0;
    std::int64_t objects = 0;
    {
        Statement probe(db_,
                        "SELECT (SELECT application_id FROM pragma_application_id),"
                        " (SELECT user_version FROM pragma_user_version),"
                        " (SELECT count(*) FROM sqlite_schema)");
        if (const int step = probe.Step(); step != SQLITE_ROW) {
            Fail(step);
            return fault_;
        }
        applicationId = probe.Int(0);
        version = probe.Int(1);
        objects = probe.Int(2);
    }  // the read ends here: the journal mode changes only outside a transaction
    if (applicationId != kApplicationId && (applicationId != 0 || objects != 0)) {
        return JournalFault::kNotAJournal;
    }
    if (version > kSchemaVersion) return JournalFault::kNewerSchema;

    // NORMAL: a commit reaches the file before the call returns, so a killed process loses
    // nothing; only a power cut can lose commits since the last checkpoint's sync, and it cannot
    // corrupt the file. FULL would add a sync to the disk to every row.
    if (!SwitchToWal(busyTimeoutMs) || !Exec("PRAGMA synchronous = NORMAL") ||
        !Exec("PRAGMA secure_delete = ON")) {
        return fault_;
    }
    const std::string limit = "PRAGMA journal_size_limit = " + std::to_string(kWalSizeLimitBytes);
    if (!Exec(limit.c_str())) return fault_;

    if (version < kSchemaVersion) {
        if (!Exec("BEGIN IMMEDIATE")) return fault_;
        // Another program may have brought it up to date since the probe.
        {
            Statement again(db_, "SELECT user_version FROM pragma_user_version");
            if (const int step = again.Step(); step != SQLITE_ROW) {
                Fail(step);
                return fault_;
            }
            version = again.Int(0);
        }
        for (std::int64_t step = version; step < kSchemaVersion; ++step) {
            if (!Exec(kMigrations[step])) return fault_;
        }
        const std::string stamp = "PRAGMA user_version = " + std::to_string(kSchemaVersion) +
                                  "; PRAGMA application_id = " + std::to_string(kApplicationId);
        if (!Exec(stamp.c_str()) || !Exec("COMMIT")) return fault_;
    }
    const int prepared = sqlite3_prepare_v3(
        db_,
        "INSERT INTO result_row (key, link, company_name, contact, telephone, mobile, fax,"
        " email, address, listing_page, listing_position)"
        " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11)",
        -1, SQLITE_PREPARE_PERSISTENT, &insertRow_, nullptr);
    if (prepared != SQLITE_OK) Fail(prepared);
    return fault_;
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

bool Journal::SwitchToWal(int busyTimeoutMs) {
    // The change needs the file to itself, and SQLite answers busy at once rather than wait
    // for that (two programs making a new journal at the same moment): retry until the
    // busy time-out.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(busyTimeoutMs);
    for (;;) {
        const int code = sqlite3_exec(db_, "PRAGMA journal_mode = WAL", nullptr, nullptr, nullptr);
        if (code == SQLITE_OK) return true;
        if ((code & 0xff) != SQLITE_BUSY || std::chrono::steady_clock::now() >= deadline) {
            return Fail(code);
        }
        std::this_thread::sleep_for(kWalSwitchRetryPeriod);
    }
}

bool Journal::Exec(const char* sql) {
    const int code = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
    return code == SQLITE_OK || Fail(code);
}

bool Journal::Done(int step) {
    return step == SQLITE_DONE || Fail(step);
}

template <typename Steps>
bool Journal::InTransaction(Steps steps) {
    // A failed step has closed the connection, which rolls the transaction back.
    return Exec("BEGIN IMMEDIATE") && steps() && Exec("COMMIT");
}

bool Journal::ClearFailure(SearchId id, Held& held, ListingPlace place) {
    if (held.failedPlaces.erase(place) == 0) return true;
    Statement remove(
        db_, "DELETE FROM failed_page WHERE search_id = ?1 AND page = ?2 AND position = ?3");
    remove.Bind(1, id).Bind(2, place.page).Bind(3, place.position);
    return Done(remove.Step());
}

bool Journal::StoreMissingKeys(const SearchId* only) {
    // Each batch reads the marks afresh under the write lock, so that rows another program keyed
    // meanwhile are not keyed again; a batch's keys and its marks commit together.
    for (bool more = true; more;) {
        if (!Exec("BEGIN IMMEDIATE")) return false;
        // Company, row key. SQLite's integers are signed: the hash is kept as the same 64 bits,
        // and sorted as the index sorts it.
        std::vector<std::pair<std::int64_t, std::int64_t>> keys;
        std::vector<std::pair<SearchId, std::int64_t>> marks;  // search, its last row keyed
        std::int64_t room = kKeyBatchRows;
        Statement searches(db_, only ? "SELECT id, keyed_through FROM search WHERE id = ?1"
                                     : "SELECT id, keyed_through FROM search");
        if (only) searches.Bind(1, *only);
        Statement rows(db_,
                       "SELECT key, link, company_name, telephone, mobile, email FROM result_row"
                       " WHERE key > ?1 AND key < ?2 ORDER BY key LIMIT ?3");
        int step = SQLITE_ROW;
        while (room > 0 && (step = searches.Step()) == SQLITE_ROW) {
            const SearchId id = searches.Int(0);
            rows.Bind(1, id * kKeysPerSearch + searches.Int(1))
                .Bind(2, (id + 1) * kKeysPerSearch)
                .Bind(3, room);
            std::int64_t last = 0;
            int rowStep = SQLITE_ROW;
            while ((rowStep = rows.Step()) == SQLITE_ROW) {
                last = rows.Int(0);
                ResultRow row;
                row.companyName = rows.Bytes(2);
                row.telephone = rows.Bytes(3);
                row.mobile = rows.Bytes(4);
                row.email = rows.Bytes(5);
                for (const std::uint64_t company : CompanyKeyHashes(rows.Bytes(1), row)) {
                    keys.emplace_back(static_cast<std::int64_t>(company), last);
                }
                --room;
            }
            sqlite3_reset(rows.get());
            if (rowStep != SQLITE_DONE) return Fail(rowStep);
            if (last != 0) marks.emplace_back(id, last - id * kKeysPerSearch);
        }
        if (step != SQLITE_ROW && step != SQLITE_DONE) return Fail(step);
        sqlite3_reset(searches.get());
        more = room == 0;
        // In key order, each index page is written once per batch rather than once per key.
        std::sort(keys.begin(), keys.end());
        keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
        // A plain INSERT: a row keyed twice is a fault, not a silent no-op.
        Statement insert(db_, "INSERT INTO company_key (row_key, company) VALUES (?1, ?2)");
        for (const auto& [company, rowKey] : keys) {
            insert.Bind(1, rowKey).Bind(2, company);
            if (!Done(insert.Step())) return false;
            sqlite3_reset(insert.get());
        }
        Statement mark(db_, "UPDATE search SET keyed_through = ?1 WHERE id = ?2");
        for (const auto& [id, through] : marks) {
            mark.Bind(1, through).Bind(2, id);
            if (!Done(mark.Step())) return false;
            sqlite3_reset(mark.get());
        }
        if (!Exec("COMMIT")) return false;
    }
    return true;
}

std::optional<bool> Journal::KeysMissing() {
    // One look into each search's rows, just past its mark.
    Statement missing(db_,
                      "SELECT EXISTS (SELECT 1 FROM search AS s WHERE EXISTS (SELECT 1 FROM"
                      " result_row WHERE key > s.id * 4294967296 + s.keyed_through"
                      " AND key < (s.id + 1) * 4294967296))");
    const int step = missing.Step();
    if (step != SQLITE_ROW) {
        Fail(step);
        return std::nullopt;
    }
    return missing.Int(0) != 0;
}

bool Journal::BeginKeyedRead() {
    if (!Exec("BEGIN")) return false;
    const std::optional<bool> missing = KeysMissing();
    if (!missing) return false;
    if (!*missing) return true;
    // Rows another program stores between the catch-up and the read are left out, as if they
    // came after the question: that program's search is a growing run of rows either way.
    return Exec("COMMIT") && StoreMissingKeys(nullptr) && Exec("BEGIN");
}

SearchState Journal::EffectiveState(SearchId id, SearchState stored) const {
    if (stored != SearchState::kRunning || locks_->HeldHere(id) || locks_->HeldElsewhere(id)) {
        return stored;
    }
    return SearchState::kInterrupted;
}

std::optional<SearchId> Journal::BeginSearch(const Text& keyword, const Text& site,
                                             SearchOrigin origin) {
    std::lock_guard lock(mutex_);
    if (!db_ || !Exec("BEGIN IMMEDIATE")) return std::nullopt;
    Statement insert(db_,
                     "INSERT INTO search (keyword, site, origin, pid, started_ms, state)"
                     " VALUES (?1, ?2, ?3, ?4, ?5, 'running')");
    BindBytes(insert.get(), 1, keyword);
    BindBytes(insert.get(), 2, site);
    insert.Bind(3, OriginName(origin)).Bind(4, ProcessId()).Bind(5, NowMs());
    if (const int step = insert.Step(); step != SQLITE_DONE) {
        Fail(step);
        return std::nullopt;
    }
    const SearchId id = sqlite3_last_insert_rowid(db_);
    // Held before the record can be seen, so that it never reads as interrupted. Ids are never
    // reused, so only a holder left from a replaced journal file can be in the way.
    if (!locks_->Take(id)) {
        Fail(SQLITE_BUSY);
        return std::nullopt;
    }
    if (!Exec("COMMIT")) {
        locks_->Release(id);
        return std::nullopt;
    }
    held_[id] = Held{};
    return id;
}

ResumeOutcome Journal::ResumeSearch(SearchId id) {
    std::lock_guard lock(mutex_);
    if (!db_) return ResumeOutcome::kFault;
    const auto outcomeOfStored = [&]() -> ResumeOutcome {
        Statement select(db_, "SELECT state FROM search WHERE id = ?1");
        select.Bind(1, id);
        const int step = select.Step();
        if (step == SQLITE_DONE) return ResumeOutcome::kNoSuchSearch;
        if (step != SQLITE_ROW) {
            Fail(step);
            return ResumeOutcome::kFault;
        }
        const std::optional<SearchState> state = StoredState(select.String(0));
        return state == SearchState::kRunning || state == SearchState::kStopped ||
                       state == SearchState::kIncomplete
                   ? ResumeOutcome::kResumed
                   : ResumeOutcome::kNotResumable;
    };
    if (const ResumeOutcome stored = outcomeOfStored(); stored != ResumeOutcome::kResumed) {
        return stored;
    }
    if (locks_->HeldHere(id) || !locks_->Take(id)) return ResumeOutcome::kRunning;

    // Only a holder of the lock changes a search's state, but a search may have ended or been
    // forgotten between the look above and the lock.
    Statement update(db_,
                     "UPDATE search SET state = 'running', pid = ?1, ended_ms = NULL"
                     " WHERE id = ?2 AND state IN ('running', 'stopped', 'incomplete')");
    update.Bind(1, ProcessId()).Bind(2, id);
    if (const int step = update.Step(); step != SQLITE_DONE) {
        locks_->Release(id);
        Fail(step);
        return ResumeOutcome::kFault;
    }
    if (sqlite3_changes(db_) == 0) {
        locks_->Release(id);
        const ResumeOutcome now = outcomeOfStored();
        return now == ResumeOutcome::kResumed ? ResumeOutcome::kNotResumable : now;
    }
    Statement last(db_,
                   "SELECT coalesce(max(key) - ?1, 0) FROM result_row WHERE key > ?1 AND key < ?2");
    last.Bind(1, id * kKeysPerSearch).Bind(2, (id + 1) * kKeysPerSearch);
    if (const int step = last.Step(); step != SQLITE_ROW) {
        locks_->Release(id);
        Fail(step);
        return ResumeOutcome::kFault;
    }
    Held held{last.Int(0) + 1, {}};
    Statement failed(db_, "SELECT page, position FROM failed_page WHERE search_id = ?1");
    failed.Bind(1, id);
    int step = SQLITE_ROW;
    while ((step = failed.Step()) == SQLITE_ROW) {
        held.failedPlaces.insert(
            {static_cast<int>(failed.Int(0)), static_cast<int>(failed.Int(1))});
    }
    if (step != SQLITE_DONE) {
        locks_->Release(id);
        Fail(step);
        return ResumeOutcome::kFault;
    }
    held_[id] = std::move(held);
    return ResumeOutcome::kResumed;
}

bool Journal::InsertRow(std::int64_t key, const Text& link, const ResultRow& row,
                        ListingPlace place) {
    sqlite3_bind_int64(insertRow_, 1, key);
    BindBytes(insertRow_, 2, link);
    int parameter = 3;
    for (const Text* cell : row.Columns()) BindBytes(insertRow_, parameter++, *cell);
    BindPlace(insertRow_, parameter, place);
    const int step = sqlite3_step(insertRow_);
    sqlite3_reset(insertRow_);
    return Done(step);
}

bool Journal::AddRow(SearchId id, const Text& link, const ResultRow& row, ListingPlace place) {
    std::lock_guard lock(mutex_);
    const auto held = held_.find(id);
    if (!db_ || held == held_.end() || held->second.nextOrdinal >= kKeysPerSearch) return false;
    const auto insert = [&] {
        return InsertRow(id * kKeysPerSearch + held->second.nextOrdinal, link, row, place);
    };
    // Most rows clear nothing and go in one statement, without a transaction of their own. Their
    // company keys are made later, in batches (StoreMissingKeys): one row's keys land on as many
    // random pages of the key index, which cost several times the row itself.
    const bool clears = held->second.failedPlaces.count(place) != 0;
    const bool stored =
        clears ? InTransaction([&] { return insert() && ClearFailure(id, held->second, place); })
               : insert();
    if (stored) ++held->second.nextOrdinal;
    return stored;
}

bool Journal::AddRows(SearchId id, const std::vector<StoredRow>& rows) {
    std::lock_guard lock(mutex_);
    const auto held = held_.find(id);
    if (!db_ || held == held_.end() ||
        held->second.nextOrdinal + static_cast<std::int64_t>(rows.size()) > kKeysPerSearch) {
        return false;
    }
    if (rows.empty()) return true;
    std::int64_t ordinal = held->second.nextOrdinal;
    const bool stored = InTransaction([&] {
        for (const StoredRow& each : rows) {
            if (!InsertRow(id * kKeysPerSearch + ordinal++, each.link, each.row, each.place) ||
                !ClearFailure(id, held->second, each.place)) {
                return false;
            }
        }
        return true;
    });
    if (stored) held->second.nextOrdinal = ordinal;
    return stored;
}

bool Journal::RecordProbe(SearchId id, int pageCount, const Text& total) {
    std::lock_guard lock(mutex_);
    if (!db_ || held_.count(id) == 0) return false;
    Statement update(db_, "UPDATE search SET page_count = ?1, total = ?2 WHERE id = ?3");
    update.Bind(1, pageCount);
    BindBytes(update.get(), 2, total);
    update.Bind(3, id);
    return Done(update.Step());
}

bool Journal::RecordWalkedPage(SearchId id, int page, const std::vector<Text>& links) {
    std::lock_guard lock(mutex_);
    const auto held = held_.find(id);
    if (!db_ || held == held_.end()) return false;
    return InTransaction([&] {
        Statement walked(db_,
                         "INSERT OR REPLACE INTO walked_page (search_id, page) VALUES (?1, ?2)");
        walked.Bind(1, id).Bind(2, page);
        if (!Done(walked.Step())) return false;
        Statement unlisted(db_, "DELETE FROM listed_link WHERE search_id = ?1 AND page = ?2");
        unlisted.Bind(1, id).Bind(2, page);
        if (!Done(unlisted.Step())) return false;
        Statement listed(db_,
                         "INSERT OR REPLACE INTO listed_link (search_id, page, position, link)"
                         " VALUES (?1, ?2, ?3, ?4)");
        int position = 0;
        for (const Text& link : links) {
            listed.Bind(1, id).Bind(2, page).Bind(3, ++position);
            BindBytes(listed.get(), 4, link);
            if (!Done(listed.Step())) return false;
            sqlite3_reset(listed.get());
        }
        return ClearFailure(id, held->second, {page, 0});
    });
}

bool Journal::RecordFailedPage(SearchId id, const FailedPage& failed) {
    std::lock_guard lock(mutex_);
    const auto held = held_.find(id);
    if (!db_ || held == held_.end()) return false;
    Statement insert(db_,
                     "INSERT OR REPLACE INTO failed_page (search_id, page, position, url, reason)"
                     " VALUES (?1, ?2, ?3, ?4, ?5)");
    insert.Bind(1, id).Bind(2, failed.place.page).Bind(3, failed.place.position);
    BindBytes(insert.get(), 4, failed.url);
    insert.Bind(5, failed.reason.c_str());
    if (!Done(insert.Step())) return false;
    held->second.failedPlaces.insert(failed.place);
    return true;
}

bool Journal::EndSearch(SearchId id, SearchState state) {
    std::lock_guard lock(mutex_);
    const auto held = held_.find(id);
    if (held == held_.end()) return false;
    held_.erase(held);
    bool recorded = false;
    if (db_ && (state == SearchState::kFinished || state == SearchState::kNoHits ||
                state == SearchState::kStopped || state == SearchState::kIncomplete)) {
        // The search's rows get their keys now, all at once, rather than row by row on the
        // workers' way.
        if (StoreMissingKeys(&id)) {
            Statement update(db_, "UPDATE search SET state = ?1, ended_ms = ?2 WHERE id = ?3");
            update.Bind(1, SearchStateName(state)).Bind(2, NowMs()).Bind(3, id);
            const int step = update.Step();
            recorded = step == SQLITE_DONE || Fail(step);
        }
    }
    // After the record, so that the search never reads as interrupted on its way out.
    locks_->Release(id);
    return recorded;
}

std::vector<StoredSearch> Journal::SelectSearches(const char* whereClause, const SearchId* id) {
    std::vector<StoredSearch> searches;
    if (!db_) return searches;
    Statement select(db_, (std::string(kSearchColumns) + whereClause + " ORDER BY id").c_str());
    if (id) select.Bind(1, *id);
    int step = SQLITE_ROW;
    while ((step = select.Step()) == SQLITE_ROW) {
        StoredSearch search;
        search.id = select.Int(0);
        search.keyword = select.Bytes(1);
        search.site = select.Bytes(2);
        search.origin = select.String(3) == "window" ? SearchOrigin::kWindow : SearchOrigin::kCli;
        search.pid = select.Int(4);
        search.startedMs = select.Int(5);
        if (!select.IsNull(6)) search.endedMs = select.Int(6);
        const SearchState stored = StoredState(select.String(7)).value_or(SearchState::kRunning);
        search.state = EffectiveState(search.id, stored);
        search.rowCount = select.Int(8);
        searches.push_back(std::move(search));
    }
    if (step != SQLITE_DONE) {
        Fail(step);
        searches.clear();
    }
    return searches;
}

std::vector<StoredSearch> Journal::History() {
    std::lock_guard lock(mutex_);
    return SelectSearches("", nullptr);
}

std::optional<StoredSearch> Journal::FindSearch(SearchId id) {
    std::lock_guard lock(mutex_);
    std::vector<StoredSearch> found = SelectSearches("WHERE id = ?1", &id);
    if (found.empty()) return std::nullopt;
    return std::move(found.front());
}

std::vector<StoredRow> Journal::Rows(SearchId id) {
    std::lock_guard lock(mutex_);
    std::vector<StoredRow> rows;
    if (!db_) return rows;
    Statement select(db_,
                     "SELECT link, company_name, contact, telephone, mobile, fax, email, address,"
                     " coalesce(listing_page, 0), coalesce(listing_position, 0)"
                     " FROM result_row WHERE key > ?1 AND key < ?2"
                     " ORDER BY listing_page, listing_position, key");
    select.Bind(1, id * kKeysPerSearch).Bind(2, (id + 1) * kKeysPerSearch);
    int step = SQLITE_ROW;
    while ((step = select.Step()) == SQLITE_ROW) {
        // The row's fields are declared in column order, as the columns are selected.
        rows.push_back({select.Bytes(0),
                        {select.Bytes(1), select.Bytes(2), select.Bytes(3), select.Bytes(4),
                         select.Bytes(5), select.Bytes(6), select.Bytes(7)},
                        {static_cast<int>(select.Int(8)), static_cast<int>(select.Int(9))}});
    }
    if (step != SQLITE_DONE) {
        Fail(step);
        rows.clear();
    }
    return rows;
}

StoredListing Journal::Listing(SearchId id) {
    std::lock_guard lock(mutex_);
    StoredListing listing;
    if (!db_) return listing;
    const auto fail = [&](int step) {
        Fail(step);
        return StoredListing{};
    };
    Statement probe(db_, "SELECT page_count, total FROM search WHERE id = ?1");
    probe.Bind(1, id);
    int step = probe.Step();
    if (step == SQLITE_ROW && !probe.IsNull(0)) {
        listing.pageCount = static_cast<int>(probe.Int(0));
        listing.total = probe.Bytes(1);
    } else if (step != SQLITE_ROW && step != SQLITE_DONE) {
        return fail(step);
    }
    Statement walked(db_, "SELECT page FROM walked_page WHERE search_id = ?1");
    walked.Bind(1, id);
    while ((step = walked.Step()) == SQLITE_ROW)
        listing.walkedPages[static_cast<int>(walked.Int(0))];
    if (step != SQLITE_DONE) return fail(step);
    Statement links(db_,
                    "SELECT page, link FROM listed_link WHERE search_id = ?1"
                    " ORDER BY page, position");
    links.Bind(1, id);
    while ((step = links.Step()) == SQLITE_ROW) {
        listing.walkedPages[static_cast<int>(links.Int(0))].push_back(links.Bytes(1));
    }
    if (step != SQLITE_DONE) return fail(step);
    Statement failed(db_,
                     "SELECT page, position, url, reason FROM failed_page WHERE search_id = ?1"
                     " ORDER BY page, position");
    failed.Bind(1, id);
    while ((step = failed.Step()) == SQLITE_ROW) {
        listing.failedPages.push_back(
            {{static_cast<int>(failed.Int(0)), static_cast<int>(failed.Int(1))},
             failed.Bytes(2),
             std::string(failed.String(3))});
    }
    if (step != SQLITE_DONE) return fail(step);
    return listing;
}

std::optional<StoredSearch> Journal::LatestResumableSearch() {
    std::lock_guard lock(mutex_);
    const std::vector<StoredSearch> candidates =
        SelectSearches("WHERE state IN ('running', 'stopped', 'incomplete')", nullptr);
    for (auto search = candidates.rbegin(); search != candidates.rend(); ++search) {
        if (search->state != SearchState::kRunning) return *search;
    }
    return std::nullopt;
}

std::optional<std::vector<bool>> Journal::KnownBefore(std::span<const Lead> leads) {
    // Made before the lock: cleaning the cells is the costliest part.
    std::vector<std::vector<std::uint64_t>> keys;
    keys.reserve(leads.size());
    for (const Lead& lead : leads) keys.push_back(CompanyKeyHashes(lead.origin.link, lead.row));

    std::lock_guard lock(mutex_);
    // One read transaction: every row is compared with the same journal.
    if (!db_ || !BeginKeyedRead()) return std::nullopt;
    // Searches start in (started_ms, id) order; a row of none comes after every search.
    constexpr std::int64_t kAfterAll = std::numeric_limits<std::int64_t>::max();
    struct Start {
        std::int64_t ms = kAfterAll;
        SearchId id = kAfterAll;
    };
    std::map<SearchId, Start> starts;
    Statement started(db_, "SELECT started_ms FROM search WHERE id = ?1");
    Statement probe(db_,
                    "SELECT 1 FROM company_key AS k JOIN search AS s ON s.id = k.row_key >> 32"
                    " WHERE k.company = ?1"
                    " AND (s.started_ms < ?2 OR (s.started_ms = ?2 AND s.id < ?3)) LIMIT 1");
    std::vector<bool> known(leads.size(), false);
    for (std::size_t i = 0; i < leads.size(); ++i) {
        const SearchId own = leads[i].origin.searchId;
        auto [start, added] = starts.try_emplace(own);
        if (added && own != 0) {
            started.Bind(1, own);
            const int step = started.Step();
            if (step == SQLITE_ROW) {
                start->second = {started.Int(0), own};
            } else if (step != SQLITE_DONE) {
                Fail(step);
                return std::nullopt;
            }
            sqlite3_reset(started.get());
        }
        for (const std::uint64_t key : keys[i]) {
            probe.Bind(1, static_cast<std::int64_t>(key))
                .Bind(2, start->second.ms)
                .Bind(3, start->second.id);
            const int step = probe.Step();
            sqlite3_reset(probe.get());
            if (step == SQLITE_ROW) {
                known[i] = true;
                break;
            }
            if (step != SQLITE_DONE) {
                Fail(step);
                return std::nullopt;
            }
        }
    }
    if (!Exec("COMMIT")) return std::nullopt;
    return known;
}

std::optional<std::map<SearchId, std::int64_t>> Journal::KnownRowCounts() {
    std::lock_guard lock(mutex_);
    if (!db_ || !BeginKeyedRead()) return std::nullopt;
    const auto fail = [&](int step) {
        Fail(step);
        return std::nullopt;
    };
    // Each search's place in start order.
    std::unordered_map<SearchId, std::size_t> order;
    Statement searches(db_, "SELECT id FROM search ORDER BY started_ms, id");
    int step = SQLITE_ROW;
    while ((step = searches.Step()) == SQLITE_ROW) order.emplace(searches.Int(0), order.size());
    if (step != SQLITE_DONE) return fail(step);

    // One walk through the keys in key order: in each key's rows, those of a search later than
    // the key's first are known.
    struct Holder {
        std::size_t place;
        std::int64_t rowKey;
    };
    std::vector<Holder> holders;
    std::vector<std::int64_t> knownRows;
    const auto endOfKey = [&] {
        std::size_t first = std::numeric_limits<std::size_t>::max();
        for (const Holder& holder : holders) first = std::min(first, holder.place);
        for (const Holder& holder : holders) {
            if (holder.place > first) knownRows.push_back(holder.rowKey);
        }
        holders.clear();
    };
    Statement keys(db_, "SELECT company, row_key FROM company_key ORDER BY company");
    std::int64_t company = 0;
    while ((step = keys.Step()) == SQLITE_ROW) {
        if (!holders.empty() && keys.Int(0) != company) endOfKey();
        company = keys.Int(0);
        const std::int64_t rowKey = keys.Int(1);
        const auto place = order.find(rowKey / kKeysPerSearch);
        if (place != order.end()) holders.push_back({place->second, rowKey});
    }
    if (step != SQLITE_DONE) return fail(step);
    endOfKey();
    if (!Exec("COMMIT")) return std::nullopt;

    // A row known by several keys counts once.
    std::sort(knownRows.begin(), knownRows.end());
    knownRows.erase(std::unique(knownRows.begin(), knownRows.end()), knownRows.end());
    std::map<SearchId, std::int64_t> counts;
    for (const std::int64_t rowKey : knownRows) ++counts[rowKey / kKeysPerSearch];
    return counts;
}

ForgetResult Journal::ForgetWhere(const SearchId* id) {
    ForgetResult result;
    if (!db_ || !Exec("BEGIN IMMEDIATE")) return result;
    std::vector<SearchId> forget;
    {
        Statement select(db_, id ? "SELECT id, state FROM search WHERE id = ?1"
                                 : "SELECT id, state FROM search");
        if (id) select.Bind(1, *id);
        int step = SQLITE_ROW;
        while ((step = select.Step()) == SQLITE_ROW) {
            const SearchId found = select.Int(0);
            const SearchState stored =
                StoredState(select.String(1)).value_or(SearchState::kRunning);
            if (EffectiveState(found, stored) == SearchState::kRunning) {
                ++result.keptRunning;
            } else {
                forget.push_back(found);
            }
        }
        if (step != SQLITE_DONE) {
            Fail(step);
            return {};
        }
    }
    Statement deleteRows(db_, "DELETE FROM result_row WHERE key > ?1 AND key < ?2");
    Statement deleteSearch(db_, "DELETE FROM search WHERE id = ?1");
    Statement deleteWalked(db_, "DELETE FROM walked_page WHERE search_id = ?1");
    Statement deleteListed(db_, "DELETE FROM listed_link WHERE search_id = ?1");
    Statement deleteFailed(db_, "DELETE FROM failed_page WHERE search_id = ?1");
    for (const SearchId found : forget) {
        deleteRows.Bind(1, found * kKeysPerSearch).Bind(2, (found + 1) * kKeysPerSearch);
        for (Statement* statement : {&deleteSearch, &deleteWalked, &deleteListed, &deleteFailed}) {
            statement->Bind(1, found);
        }
        for (Statement* statement :
             {&deleteRows, &deleteSearch, &deleteWalked, &deleteListed, &deleteFailed}) {
            if (const int step = statement->Step(); step != SQLITE_DONE) {
                Fail(step);
                return {};
            }
            sqlite3_reset(statement->get());
        }
    }
    // The keys are in key order: those of every search forgotten go in one walk.
    if (!forget.empty() &&
        !Exec("DELETE FROM company_key WHERE row_key >> 32 NOT IN (SELECT id FROM search)")) {
        return {};
    }
    if (!Exec("COMMIT")) return {};
    result.forgotten = static_cast<int>(forget.size());
    // secure_delete has zeroed the rows in the pages; the WAL still holds their old copies
    // until a checkpoint copies the pages back and cuts it off. Readers may keep that from
    // happening now; it then happens at a later checkpoint.
    sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
    return result;
}

ForgetResult Journal::Forget(SearchId id) {
    std::lock_guard lock(mutex_);
    return ForgetWhere(&id);
}

ForgetResult Journal::ForgetAll() {
    std::lock_guard lock(mutex_);
    return ForgetWhere(nullptr);
}

std::optional<SearchId> Journal::SearchToRestore() {
    std::lock_guard lock(mutex_);
    if (!db_) return std::nullopt;
    Statement select(db_,
                     "SELECT id, state, closed_after_restore FROM search WHERE origin = 'window'"
                     " ORDER BY id DESC LIMIT 1");
    const int step = select.Step();
    if (step != SQLITE_ROW) {
        if (step != SQLITE_DONE) Fail(step);
        return std::nullopt;
    }
    const SearchId id = select.Int(0);
    const SearchState stored = StoredState(select.String(1)).value_or(SearchState::kRunning);
    if (EffectiveState(id, stored) != SearchState::kInterrupted || select.Int(2) != 0) {
        return std::nullopt;
    }
    return id;
}

bool Journal::MarkClosedAfterRestore(SearchId id) {
    std::lock_guard lock(mutex_);
    if (!db_) return false;
    Statement update(db_, "UPDATE search SET closed_after_restore = 1 WHERE id = ?1");
    update.Bind(1, id);
    const int step = update.Step();
    return step == SQLITE_DONE || Fail(step);
}

LeadHistory JournalHistory(std::string path) {
    return [path = std::move(path)](std::span<const Lead> leads) {
        return Journal(path).KnownBefore(leads);
    };
}

}  // namespace velmora
