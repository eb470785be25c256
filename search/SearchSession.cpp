#include "search/SearchSession.h"

#include <algorithm>
#include <system_error>

#include "http/HttpClient.h"
#include "platform/NamedMutex.h"
#include "platform/ProcessorAffinity.h"
#include "results/ResultSink.h"
#include "search/ListingCrawl.h"
#include "search/ParallelCrawl.h"
#include "search/SearchControl.h"
#include "search/SearchRecord.h"
#include "search/SearchTexts.h"
#include "text/CodePage.h"
#include "text/TextOps.h"

namespace velmora {

namespace {

// A batch of fewer links than this and the pause, resume and stop buttons do nothing.
constexpr std::size_t kWorkersForControl = 2;

std::thread StartPlainThread(std::function<void()> routine) {
    return std::thread(std::move(routine));
}

bool AcceptsControl(const SearchSession& session) {
    if (session.control->parallelRunning) return true;
    std::lock_guard lock(session.serial.listLock);
    return session.serial.batchLinks >= kWorkersForControl;
}

// Runs the routine on a control thread after every earlier press has taken effect. Should no
// thread start, the routine runs here: none of them waits on the window.
void StartControlThread(SearchSession& session, void (*routine)(SearchSession&)) {
    auto& control = *session.control;
    std::jthread previous = std::move(control.lastControlThread);
    try {
        control.lastControlThread =
            std::jthread([&session, routine, previous = std::move(previous)]() mutable {
                if (previous.joinable()) previous.join();
                routine(session);
            });
    } catch (const std::system_error&) {
        routine(session);  // `previous` was joined as the failed thread's routine went
    }
}

void SetStatus(SearchSession& session, const char* utf8) {
    session.window.SetStatusText(0, Utf8ToSystem(utf8));
}

void MarkRestoredSearchClosed(SearchSession& session) {
    const SearchId restored = session.restoredSearch;
    if (restored == 0) return;
    Journal journal(session.journal.path);
    static_cast<void>(journal.MarkClosedAfterRestore(restored));
}

// The record a search keeps in the journal, made on the crawl thread: a resumed one goes on with
// its stored listing, a new one begins a search there; nothing is kept without a journal.
std::unique_ptr<SearchRecord> MakeRecord(SearchSession& session, SearchRequest& request) {
    if (request.resumeId != 0) {
        bool shown = false;
        {
            std::lock_guard lock(session.shownLock);
            shown = session.shownSearches.count(request.resumeId) != 0;
        }
        return std::make_unique<SearchRecord>(session.window, std::move(request.resumedJournal),
                                              request.resumeId, !shown);
    }
    if (session.journal.path.empty()) return std::make_unique<SearchRecord>(session.window);
    return std::make_unique<SearchRecord>(session.window, session.journal.path, request.keyword,
                                          session.siteBaseUrl, session.journal.origin);
}

}  // namespace

void StartSearch(SearchSession& session, SearchRequest request) {
    auto& control = *session.control;
    // One crawl at a time: a running search ends first. Its rows stay, and with every thread
    // joined the count of active workers is exact again, so a stop cannot leave it raised.
    EndSearchThreads(session);
    session.serial.activeWorkers = 0;
    session.siteUnreachable = false;
    session.failedResultPages = 0;
    session.failedCompanyPages = 0;
    session.lastEnd = SearchState::kRunning;
    control.transfers->Reset();
    control.stop = std::stop_source();

    const bool parallel = session.pacing.workers > kSerialWorkers;
    session.window.SetTimerPeriod(1000);
    session.serial.workerMutex = std::make_unique<NamedMutex>(kWorkerMutexName);
    // Bound and announced before the crawl starts, so that the crawl inherits the binding and
    // none of its status texts can come before "running". The parallel search's pool is
    // spread over every processor, as before any serial search bound the process.
    if (parallel) {
        RestoreProcessorsBeforeRestriction();
    } else {
        RestrictProcessToFirstProcessor();
    }
    SetStatus(session, search_text::kStatusRunning);

    {
        std::lock_guard lock(control.mutex);
        control.crawlRunning = true;
    }
    control.parallelRunning = parallel;
    try {
        session.crawlThread =
            std::thread([&session, parallel, request = std::move(request)]() mutable {
                session.record = MakeRecord(session, request);
                const Text& keyword = request.keyword;
                if (const SearchId id = session.record->id(); id != 0) {
                    std::lock_guard shown(session.shownLock);
                    session.shownSearches.insert(id);
                }
                const SearchState end =
                    parallel ? CrawlInParallel(session, keyword) : CrawlListing(session, keyword);
                // Recorded before the crawl counts as ended: a program that waits for the end and
                // then exits leaves the end in the journal.
                session.record->End(end);
                session.record = std::make_unique<SearchRecord>(session.window);
                session.lastEnd = end;
                {
                    // A stopped crawl may leave links it had gathered; the next one starts empty.
                    std::lock_guard lists(session.serial.listLock);
                    session.serial.companyLinks.clear();
                }
                session.control->parallelRunning = false;
                {
                    std::lock_guard lock(session.control->mutex);
                    session.control->crawlRunning = false;
                }
                session.control->changed.notify_all();
            });
    } catch (const std::system_error&) {
        control.parallelRunning = false;
        std::lock_guard lock(control.mutex);
        control.crawlRunning = false;
    }
}

SearchSession::SearchSession(ResultSink& windowPort, HttpClient& httpClient, Text baseUrl,
                             JournalSettings journalSettings, int parallel)
    : window(windowPort),
      client(httpClient),
      siteBaseUrl(std::move(baseUrl)),
      journal(std::move(journalSettings)),
      pacing{std::clamp(parallel, kSerialWorkers, kMaxParallelWorkers)},
      record(std::make_unique<SearchRecord>(windowPort)),
      control(std::make_unique<Control>()) {
    serial.startThread = StartPlainThread;
    client.SetTransferControl(control->transfers);
}

SearchSession::~SearchSession() {
    EndSearchThreads(*this);
    client.SetTransferControl(nullptr);
}

ListedLink SerialCrawl::LinkAt(int linkIndex) const {
    std::lock_guard lock(listLock);
    if (linkIndex < 1 || linkIndex > static_cast<int>(companyLinks.size())) return {};
    return companyLinks[static_cast<std::size_t>(linkIndex - 1)];
}

void RequestStop(SearchSession& session) {
    // The transfers first: a thread woken by the token must find its requests refused.
    session.control->transfers->Stop();
    session.control->stop.request_stop();
}

bool Proceed(SearchSession& session) {
    return session.control->transfers->WaitWhilePaused();
}

bool Stopped(const SearchSession& session) {
    return session.control->transfers->IsStopped();
}

std::optional<TakenOverSearch> TakeOverLatestSearch(const SearchSession& session) {
    if (session.journal.path.empty()) return std::nullopt;
    auto journal = std::make_unique<Journal>(session.journal.path);
    const std::optional<StoredSearch> latest = journal->LatestResumableSearch();
    if (!latest || journal->ResumeSearch(latest->id) != ResumeOutcome::kResumed) {
        return std::nullopt;
    }
    return TakenOverSearch{std::move(journal), *latest};
}

void RestoreInterruptedSearch(SearchSession& session) {
    if (session.journal.path.empty()) return;
    EndSearchThreads(session);
    try {
        session.crawlThread = std::thread([&session] {
            Journal journal(session.journal.path);
            const std::optional<SearchId> restored = journal.SearchToRestore();
            if (!restored) return;
            const std::vector<StoredRow> rows = journal.Rows(*restored);
            if (journal.fault() != JournalFault::kNone) return;
            ShowStoredRows(session.window, rows, *restored);
            session.restoredSearch = *restored;
            {
                std::lock_guard shown(session.shownLock);
                session.shownSearches.insert(*restored);
            }
            session.window.SetStatusText(kJournalField,
                                         Utf8ToSystem(search_text::kRowsRestoredBefore) +
                                             ToText(static_cast<std::int64_t>(rows.size())) +
                                             Utf8ToSystem(search_text::kCountAfter));
        });
    } catch (const std::system_error&) {
        // Nothing is restored; the rows stay in the journal.
    }
}

void NoteWindowClosed(SearchSession& session) {
    if (!session.journal.path.empty()) StartControlThread(session, MarkRestoredSearchClosed);
}

bool PauseSearch(SearchSession& session) {
    if (!AcceptsControl(session)) return false;
    StartControlThread(session, SuspendSearchThreads);
    return true;
}

bool ResumeSearch(SearchSession& session) {
    if (!AcceptsControl(session)) return false;
    StartControlThread(session, ResumeSearchThreads);
    return true;
}

bool StopSearch(SearchSession& session) {
    if (!AcceptsControl(session)) return false;
    StartControlThread(session, TerminateSearchThreads);
    return true;
}

void SuspendSearchThreads(SearchSession& session) {
    session.control->transfers->Pause();
    SetStatus(session, search_text::kStatusPaused);
}

void ResumeSearchThreads(SearchSession& session) {
    session.control->transfers->Resume();
    SetStatus(session, search_text::kStatusResumed);
}

void TerminateSearchThreads(SearchSession& session) {
    RequestStop(session);
    // The crawl joins its workers and empties both lists on its way out.
    WaitForSearchEnd(session);
    SetStatus(session, search_text::kStatusEnding);
}

void WaitForSearchEnd(SearchSession& session) {
    auto& control = *session.control;
    std::unique_lock lock(control.mutex);
    control.changed.wait(lock, [&] { return !control.crawlRunning; });
}

void EndSearchThreads(SearchSession& session) {
    RequestStop(session);
    if (session.crawlThread.joinable()) session.crawlThread.join();
    // Joining the last control thread joins every earlier one.
    if (session.control->lastControlThread.joinable()) session.control->lastControlThread.join();
}

}  // namespace velmora
