// The journal's tables, and how a file of any older schema is brought up to date.

#include <sqlite3.h>

#include <chrono>
#include <iterator>
#include <string>
#include <thread>

#include "journal/Journal.h"
#include "journal/JournalSql.h"

namespace velmora {

using journal_sql::Statement;

namespace {

// The WAL is cut back to this size after a checkpoint rather than left at its largest.
constexpr int kWalSizeLimitBytes = 4 * 1024 * 1024;

// How long a switch to WAL mode that found the file busy waits before it tries again.
constexpr auto kWalSwitchRetryPeriod = std::chrono::milliseconds(2);

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

}  // namespace

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

}  // namespace velmora
