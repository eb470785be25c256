#pragma once
// The harvest journal: every search and every completed row kept in an SQLite database (WAL
// mode), so that rows outlive a crash of the program, a stopped or interrupted search can be
// gone on with, and past searches can be listed.
//
// A Journal is one connection; any thread may call it, calls take turns. Failure is a value:
// the first fault (the file cannot be opened, read or written) is latched in fault(), the
// database is closed at once so that nothing already stored can be damaged, and from then on
// every call does nothing: writes return false, reads return nothing.
//
// A search is `running` while the process that runs it lives: that process holds a lock for it
// (RunningSearchLocks), which the kernel drops when the process ends however it ends, so a
// `running` search whose lock is free is `interrupted`.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "leads/LeadList.h"
#include "results/ResultRow.h"
#include "text/Text.h"

struct sqlite3;
struct sqlite3_stmt;

namespace velmora {

class Checkpointer;
class RunningSearchLocks;

using SearchId = std::int64_t;

// kIncomplete: the search ended with pages it could not fetch, which a resume fetches.
enum class SearchState { kRunning, kFinished, kNoHits, kStopped, kInterrupted, kIncomplete };
// "running", "finished", "no-hits", "stopped", "interrupted", "incomplete".
const char* SearchStateName(SearchState state);

// Which program started a search.
enum class SearchOrigin { kWindow, kCli };

enum class JournalFault {
    kNone,
    kNoLocation,   // no file named and no home folder to put it in
    kCannotOpen,   // the file or its folder cannot be opened or made
    kReadOnly,     // the file or its folder cannot be written
    kFull,         // the disk or the user's quota is full
    kLocked,       // another program held the file longer than the busy time-out
    kCorrupt,      // the file is damaged or not a database at all
    kNotAJournal,  // an SQLite database of some other program
    kNewerSchema,  // written by a newer Velmora
    kIoError,      // any other failure of the file system or of SQLite
};
// One line of English for the user, without a final full stop.
const char* JournalFaultText(JournalFault fault);

struct StoredSearch {
    SearchId id = 0;
    Text keyword;  // bytes as searched (system code page)
    Text site;     // the base URL searched
    SearchOrigin origin = SearchOrigin::kCli;
    std::int64_t pid = 0;                 // the process that ran it last
    std::int64_t startedMs = 0;           // Unix time in milliseconds
    std::optional<std::int64_t> endedMs;  // nothing while running or interrupted
    SearchState state = SearchState::kRunning;
    std::int64_t rowCount = 0;
};

// Where a company link stood in a search's listing: its result page and its 1-based place on
// that page. {0, 0} when not known (rows kept before places were).
struct ListingPlace {
    int page = 0;
    int position = 0;

    bool operator==(const ListingPlace&) const = default;
    // Listing order.
    bool operator<(const ListingPlace& other) const {
        return page != other.page ? page < other.page : position < other.position;
    }
};

struct StoredRow {
    Text link;  // the company link the row came from
    ResultRow row;
    ListingPlace place;
};

// A page of a search that could not be fetched: a result page (position 0; page 0 stands for
// the search's first two requests) or a company page (at the place that listed it).
struct FailedPage {
    ListingPlace place;
    Text url;            // the result page's URL, or the company link as listed
    std::string reason;  // why, in a few words for the user (UTF-8)

    bool operator==(const FailedPage&) const = default;
    [[nodiscard]] bool IsResultPage() const { return place.position == 0; }
};

// What a search knows of its listing: what a resumed search need not ask the site for again.
struct StoredListing {
    std::optional<int> pageCount;  // with the total, once the first two requests were answered
    Text total;
    std::map<int, std::vector<Text>> walkedPages;  // result page -> the links it listed, in order
    std::vector<FailedPage> failedPages;           // in listing order
};

enum class ResumeOutcome {
    kResumed,  // the search is `running` again, held by this journal
    kNoSuchSearch,
    kNotResumable,  // finished or no-hits: nothing is left to do
    kRunning,       // a live process runs it
    kFault,         // see fault()
};

struct ForgetResult {
    int forgotten = 0;
    int keptRunning = 0;  // running searches are never forgotten under their process
};

class Journal {
public:
    // The database's application id ("VLMJ"), which tells our files from other programs'.
    static constexpr std::int32_t kApplicationId = 0x564C4D4A;
    // How long a write waits for another program's write to end before it is a fault.
    static constexpr int kBusyTimeoutMs = 5000;

    // Opens the journal at `path` (a relative one from the current folder), making it and its
    // folders when missing: folders 0700, the file and SQLite's files beside it 0600, since it
    // holds people's contact data. Brings an older schema up to date.
    explicit Journal(const std::string& path, int busyTimeoutMs = kBusyTimeoutMs);
    ~Journal();
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    [[nodiscard]] JournalFault fault() const;
    // The absolute file name; empty when there was none.
    const std::string& path() const { return path_; }

    // A new search, `running` and held by this journal until EndSearch.
    [[nodiscard]] std::optional<SearchId> BeginSearch(const Text& keyword, const Text& site,
                                                      SearchOrigin origin);
    // Takes over an incomplete, stopped or interrupted search: `running` again, held by this
    // journal, new rows numbered after the stored ones. The process is recorded; the origin stays.
    [[nodiscard]] ResumeOutcome ResumeSearch(SearchId id);
    // Stores a completed row of a search this journal holds, after its rows so far; a failure
    // recorded at its place goes. When it returns true the row is in the file: it outlives the
    // process, though not a power cut before the next checkpoint (synchronous=NORMAL).
    [[nodiscard]] bool AddRow(SearchId id, const Text& link, const ResultRow& row,
                              ListingPlace place = {});
    // Stores rows as AddRow does, in their order, all in one transaction: a search that
    // completes rows several at a time writes each page of the file once for them. When it
    // returns true they are all in the file; when false, none is.
    [[nodiscard]] bool AddRows(SearchId id, const std::vector<StoredRow>& rows);
    // The page count and total of the search's first result page.
    [[nodiscard]] bool RecordProbe(SearchId id, int pageCount, const Text& total);
    // A result page walked, with the company links it listed in order; a failure recorded for
    // it goes.
    [[nodiscard]] bool RecordWalkedPage(SearchId id, int page, const std::vector<Text>& links);
    // A page that could not be fetched, in place of an earlier record of the same place.
    [[nodiscard]] bool RecordFailedPage(SearchId id, const FailedPage& failed);
    // Records the end (kFinished, kNoHits, kStopped or kIncomplete), with the company keys of
    // the rows that have none yet, and lets the search go; it is let go also when the end cannot
    // be recorded, and then reads as interrupted.
    [[nodiscard]] bool EndSearch(SearchId id, SearchState state);

    // Every search, oldest first.
    std::vector<StoredSearch> History();
    std::optional<StoredSearch> FindSearch(SearchId id);
    // The rows of a search in listing order (rows kept without a place first, as stored).
    std::vector<StoredRow> Rows(SearchId id);
    StoredListing Listing(SearchId id);
    // The latest search that is incomplete, stopped or interrupted: what a resume would go on
    // with.
    std::optional<StoredSearch> LatestResumableSearch();

    // The companies searches before a row's own found ("new since last time"): known[i] when a
    // search started before leads[i]'s own (by start time, then by id for searches started in
    // the same millisecond) holds a row sharing one of its keys (CompanyKeyHashes). A row of no
    // kept search, or of one since forgotten, is compared with every search. Nothing on a fault.
    // Rows without keys yet (of a search interrupted, or running, or stored before keys were
    // kept) get them first, which writes.
    std::optional<std::vector<bool>> KnownBefore(std::span<const Lead> leads);
    // For each search with such rows, how many of its rows KnownBefore would call known: what
    // --history tells apart from the new ones. Rows without keys get them first, as above.
    // Nothing on a fault.
    std::optional<std::map<SearchId, std::int64_t>> KnownRowCounts();

    // Removes searches with their rows, and wipes their bytes from the file.
    ForgetResult Forget(SearchId id);
    ForgetResult ForgetAll();

    // The window's last search when it is interrupted and no window that restored it has
    // closed normally since: what the next window shows again.
    std::optional<SearchId> SearchToRestore();
    // A window that restored the search has closed normally.
    [[nodiscard]] bool MarkClosedAfterRestore(SearchId id);

private:
    // The members are defined by what they keep: opening and faults in Journal.cpp, the schema in
    // JournalSchema.cpp, searches and rows in JournalSearches.cpp, the company keys in
    // JournalCompanyKeys.cpp.
    struct Held {
        std::int64_t nextOrdinal = 1;
        // Places with a failure recorded, which a row or a walked page stored there clears.
        std::set<ListingPlace> failedPlaces;
    };

    JournalFault OpenDatabase(int busyTimeoutMs);
    JournalFault BringSchemaUpToDate(int busyTimeoutMs);
    bool SwitchToWal(int busyTimeoutMs);
    bool Fail(int sqliteCode);
    void Close();
    bool Exec(const char* sql);
    // True when a statement's step is done; else the fault, false.
    bool Done(int step);
    // Runs `steps` (true when they all went well) in one transaction.
    template <typename Steps>
    bool InTransaction(Steps steps);
    bool ClearFailure(SearchId id, Held& held, ListingPlace place);
    // Stores the company keys of the rows past their search's keyed_through mark (of `only`, or
    // of every search) and moves the marks, in transactions of at most kKeyBatchRows rows.
    bool StoreMissingKeys(const SearchId* only);
    // Whether any row of the current read lacks its keys; nothing on a fault.
    std::optional<bool> KeysMissing();
    // Begins the read transaction of a question about company keys, once every row has them.
    bool BeginKeyedRead();
    bool InsertRow(std::int64_t key, const Text& link, const ResultRow& row, ListingPlace place);
    SearchState EffectiveState(SearchId id, SearchState stored) const;
    std::vector<StoredSearch> SelectSearches(const char* whereClause, const SearchId* id);
    ForgetResult ForgetWhere(const SearchId* id);

    mutable std::mutex mutex_;
    std::string path_;
    JournalFault fault_ = JournalFault::kNone;
    sqlite3* db_ = nullptr;
    sqlite3_stmt* insertRow_ = nullptr;
    std::unique_ptr<RunningSearchLocks> locks_;
    // Destroyed after the connection is closed, so that a checkpoint still asked for sees every
    // commit.
    std::unique_ptr<Checkpointer> checkpointer_;
    std::map<SearchId, Held> held_;
};

// The journal at `path` as the lead lists' history: opened for each question (KnownBefore).
LeadHistory JournalHistory(std::string path);

}  // namespace velmora
