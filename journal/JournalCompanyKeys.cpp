// The company keys of the rows (CompanyKeyHashes), kept in batches, and the questions of the
// lead lists asked through them: which companies earlier searches already found.

#include <sqlite3.h>

#include <algorithm>
#include <limits>
#include <unordered_map>
#include <utility>

#include "journal/Journal.h"
#include "journal/JournalSql.h"
#include "leads/CompanyKeys.h"

namespace velmora {

using journal_sql::kKeysPerSearch;
using journal_sql::Statement;

namespace {

// At most this many rows get their company keys in one transaction: a journal migrated with
// millions of rows is keyed in steps that each hold other programs' writes off for a fraction of
// a second, and the batch's keys (about four a row) stay a few megabytes.
constexpr std::int64_t kKeyBatchRows = 20000;

}  // namespace

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

LeadHistory JournalHistory(std::string path) {
    return [path = std::move(path)](std::span<const Lead> leads) {
        return Journal(path).KnownBefore(leads);
    };
}

}  // namespace velmora
