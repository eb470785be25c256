// Searches and their rows: beginning, resuming and ending a search, what it stored and walked,
// what it failed to fetch, listing, forgetting, and the window's search to restore.

#include <sqlite3.h>

#include <chrono>
#include <string>
#include <string_view>
#include <utility>

#include "journal/Journal.h"
#include "journal/JournalSql.h"
#include "journal/RunningSearchLocks.h"
#include "platform/ThisProcess.h"

namespace velmora {

using journal_sql::kKeysPerSearch;
using journal_sql::Statement;

namespace {

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

}  // namespace velmora
