#pragma once
// The search engine's shared state and the control of a search from the window's buttons.
//
// One crawl thread walks the result pages (CrawlListing); after some pages it hands the gathered
// links to one worker thread each (ExtractCompany); a short control thread carries out every
// accepted pause, resume or stop press. A session made for more than one worker runs the
// parallel search instead (ParallelCrawl.h): a fixed pool of workers under the crawl thread.
// Threads are never suspended or killed from outside: they consult the session's control at every
// request, row and cell boundary and in every wait, so a pause holds them there and a stop ends
// them there, aborting a transfer in flight.
//
// The button handlers and EndSearchThreads are called from one thread (the window's); search
// threads reach the window only through ResultSink and never wait on the window's thread.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include "journal/Journal.h"
#include "search/Pacing.h"
#include "text/Text.h"

namespace velmora {

class HttpClient;
class NamedMutex;
class ResultSink;
class SearchRecord;

// The name of workerMutex, shared with every process that opens the same name.
inline constexpr const char* kWorkerMutexName = "限制线程访问";

// Where a session keeps its searches and their rows, and which program runs them. An empty
// path keeps nothing (velmora-cli --no-journal, and tests unless they ask).
struct JournalSettings {
    std::string path;
    SearchOrigin origin = SearchOrigin::kWindow;
};

// A company link as a result page lists it, and where.
struct ListedLink {
    Text link;
    ListingPlace place;

    bool operator==(const ListedLink&) const = default;
};

// Starts a thread running the routine; throws std::system_error when none can be started.
using ThreadStarter = std::function<std::thread(std::function<void()> routine)>;

// The serial search's own state: the links gathered for the next batch, the batch's workers and
// their count, and the locks between them. The crawl thread fills and empties the lists; the
// control threads read them to tell whether a batch of two or more runs.
struct SerialCrawl {
    // Workers of the running batch started and not yet joined (at most kMaxWorkerThreads, the
    // crawl joins those that end as it starts more); empty between batches. Guarded by listLock.
    std::vector<std::thread> workerThreads;
    // Links handed out in the running batch, 0 between batches. Guarded by listLock.
    std::size_t batchLinks = 0;
    // Links gathered and not yet handed out; emptied after each batch. Guarded by listLock.
    std::vector<ListedLink> companyLinks;
    // Workers started and not yet finished.
    std::atomic<int> activeWorkers{0};
    // Guards the raise of activeWorkers.
    std::mutex counterLock;
    // The cross-process lock "限制线程访问": one worker at a time fetches, matches and fills.
    std::unique_ptr<NamedMutex> workerMutex;
    // Guards workerThreads, batchLinks and companyLinks against the control threads reading them.
    mutable std::mutex listLock;
    // How worker threads are started; tests replace it to make a start fail.
    ThreadStarter startThread;

    // companyLinks entry linkIndex (1-based) as listed; an empty link outside the list.
    [[nodiscard]] ListedLink LinkAt(int linkIndex) const;
};

class SearchSession {
public:
    // siteBaseUrl: scheme, host and optional port without a trailing slash (FindDirectorySite).
    // parallel: the workers of a search (DirectorySite::parallel); kSerialWorkers is the serial
    // search, more the parallel search with that many requests in flight at most.
    SearchSession(ResultSink& window, HttpClient& client, Text siteBaseUrl,
                  JournalSettings journal = {}, int parallel = kSerialWorkers);
    // Ends and joins every search thread before the session goes.
    ~SearchSession();
    SearchSession(const SearchSession&) = delete;
    SearchSession& operator=(const SearchSession&) = delete;

    ResultSink& window;
    HttpClient& client;
    const Text siteBaseUrl;
    const JournalSettings journal;

    // The last crawl started.
    std::thread crawlThread;
    // The serial search's batches.
    SerialCrawl serial;
    // Set when the last search ended because its site could not be reached at all.
    std::atomic<bool> siteUnreachable{false};
    // Pages of the running (or last) search that could not be fetched: result pages (the
    // first two requests counting as one) and company pages.
    std::atomic<int> failedResultPages{0};
    std::atomic<int> failedCompanyPages{0};
    // How the last search ended; kRunning while it runs.
    std::atomic<SearchState> lastEnd{SearchState::kRunning};
    // The parallel search's workers and pacing, read when a search starts; workers is
    // kSerialWorkers for the serial search. Tests shorten the waits.
    PacingRules pacing;

    // The running search's record in the journal, made by the crawl thread before it starts any
    // worker and ended before the crawl counts as ended; between searches, one that keeps
    // nothing.
    std::unique_ptr<SearchRecord> record;
    // The search whose rows the window put back at start-up; 0 for none.
    std::atomic<SearchId> restoredSearch{0};
    // Searches whose rows this session has shown: run here or put back. Guarded by shownLock.
    std::set<SearchId> shownSearches;
    mutable std::mutex shownLock;

    // The state behind pause and stop, shared with the HTTP client's transfers.
    struct Control;
    const std::unique_ptr<Control> control;
};

// What a search is asked for, built by its caller (the window's start button or its resume
// entry, velmora-cli). Where and how it searches (the site, the journal, the parallel width) are
// the session's settings.
struct SearchRequest {
    // The keyword in the system code page: every request of the search and its no-hits message
    // use it, whatever the search box holds meanwhile.
    Text keyword;
    // A search of the journal to go on with instead of a new one, which resumedJournal has taken
    // over (Journal::ResumeSearch, TakeOverLatestSearch); keyword is then its stored one.
    SearchId resumeId = 0;
    std::unique_ptr<Journal> resumedJournal = nullptr;
};

// 按钮_开始 and every resume: ends a search that is still running (rows stay), then starts the
// one asked for. A resumed search's stored rows are shown first, unless this session has shown
// them already; then only what is missing is fetched: the result pages not walked (failed or not
// reached) and the company pages without a stored row.
void StartSearch(SearchSession& session, SearchRequest request);

// The journal's latest incomplete, stopped or interrupted search, taken over for a resume
// (ContinueSearch): what the window's resume goes on with. Nothing when the session keeps no
// journal, there is no such search, or another program runs it.
struct TakenOverSearch {
    std::unique_ptr<Journal> journal;
    StoredSearch search;
};
std::optional<TakenOverSearch> TakeOverLatestSearch(const SearchSession& session);

// The window's start-up: when the window's last search was cut short (the window ended
// abnormally), its stored rows go back into the list in their order and the journal's status
// field says how many. Read on the crawl thread, so a search started meanwhile waits for it.
void RestoreInterruptedSearch(SearchSession& session);
// The window closes normally: the search it restored is not restored at the next start. Written
// on a control thread.
void NoteWindowClosed(SearchSession& session);
// 按钮_暂停搜索, 按钮_继续搜索, 按钮_停止搜索: act only while a batch of two or more links runs,
// or at any moment of a parallel search; each accepted press runs its routine on a control
// thread. True when the press was accepted.
bool PauseSearch(SearchSession& session);
bool ResumeSearch(SearchSession& session);
bool StopSearch(SearchSession& session);

// The control threads' routines. TerminateSearchThreads may also be called directly on any
// thread but the search's own: it ends the search in any state and returns once it has ended.
void SuspendSearchThreads(SearchSession& session);
void ResumeSearchThreads(SearchSession& session);
void TerminateSearchThreads(SearchSession& session);

// Returns once no crawl is running (finished, no hits or ended).
void WaitForSearchEnd(SearchSession& session);
// Ends a running search without a status text and joins every search and control thread.
// For the window's close and the program's clean-up; the session stays usable.
void EndSearchThreads(SearchSession& session);

}  // namespace velmora
