#include "search/ListingCrawl.h"

#include <algorithm>
#include <iterator>
#include <system_error>
#include <vector>

#include "http/HttpClient.h"
#include "regex/Regex.h"
#include "results/ResultSink.h"
#include "search/CompanyDetail.h"
#include "search/CrawlSteps.h"
#include "search/DirectoryPages.h"
#include "search/SearchControl.h"
#include "search/SearchRecord.h"
#include "search/SearchTexts.h"
#include "text/CodePage.h"
#include "text/TextOps.h"

namespace velmora {

namespace {

bool BatchRunsAfter(int page, int pageCount) {
    return page % 2 == 0 || page == pageCount || pageCount == 3;
}

// Waits until every worker of the batch has lowered the count, or the search is stopped. The
// worker that lowers it to 0 wakes this wait (ActiveWorkerRelease), so it sleeps until then
// instead of looking every so often: a batch at a slow site would wake it for nothing.
void WaitForWorkers(SearchSession& session) {
    auto& control = *session.control;
    const std::stop_token stop = control.stop.get_token();
    std::unique_lock lock(control.mutex);
    static_cast<void>(
        control.changed.wait(lock, stop, [&] { return session.serial.activeWorkers.load() <= 0; }));
}

void RaiseActiveWorkers(SearchSession& session) {
    std::lock_guard lock(session.serial.counterLock);
    ++session.serial.activeWorkers;
}

// After a fetch of the search URL: when no connection to the site could be made at all, ends
// the search saying so, the timer stopped, and returns true. A site that answered, however
// badly, goes on as any other.
bool EndedUnreachable(SearchSession& session) {
    const HttpError error = session.client.LastError();
    if (!IsConnectFailure(error)) return false;
    static_cast<void>(EndUnreachable(session, error));
    return true;
}

// A worker's thread: its routine, then word to the crawl that the thread may be joined.
std::thread StartWorker(SearchSession& session, int linkIndex) {
    return session.serial.startThread([&session, linkIndex] {
        ExtractCompany(session, linkIndex);
        bool crawlWaits = false;
        {
            std::lock_guard lock(session.control->mutex);
            session.control->endedWorkers.push_back(std::this_thread::get_id());
            crawlWaits = session.control->crawlWaitsForRoom;
        }
        // Only a crawl waiting for room cares; waking it for every worker cost two switches.
        if (crawlWaits) session.control->changed.notify_all();
    });
}

// Joins the workers whose routine has returned, waiting first for one to end while
// kMaxWorkerThreads are listed; false once the search is stopped.
bool MakeRoomForWorker(SearchSession& session) {
    auto& control = *session.control;
    std::vector<std::thread::id> ended;
    {
        const std::stop_token stop = control.stop.get_token();
        std::unique_lock lock(control.mutex);
        control.crawlWaitsForRoom = true;
        // Only the crawl thread changes workerThreads, so it reads the size unguarded.
        const bool room = control.changed.wait(lock, stop, [&] {
            return session.serial.workerThreads.size() - control.endedWorkers.size() <
                   static_cast<std::size_t>(kMaxWorkerThreads);
        });
        control.crawlWaitsForRoom = false;
        if (!room) return false;
        ended.swap(control.endedWorkers);
    }
    std::vector<std::thread> finished;
    {
        std::lock_guard lock(session.serial.listLock);
        auto& workers = session.serial.workerThreads;
        auto firstEnded = std::partition(workers.begin(), workers.end(), [&](const std::thread& t) {
            return std::find(ended.begin(), ended.end(), t.get_id()) == ended.end();
        });
        std::move(firstEnded, workers.end(), std::back_inserter(finished));
        workers.erase(firstEnded, workers.end());
    }
    for (std::thread& worker : finished) worker.join();
    return true;
}

}  // namespace

void DispatchBatch(SearchSession& session, int& dispatchedCount) {
    std::size_t linkCount = 0;
    {
        std::lock_guard lock(session.serial.listLock);
        linkCount = session.serial.companyLinks.size();
    }
    if (!Proceed(session)) return;
    dispatchedCount += static_cast<int>(linkCount);
    ShowDispatched(session, dispatchedCount);
    {
        std::lock_guard lock(session.serial.listLock);
        session.serial.batchLinks = linkCount;
    }

    std::vector<int> notStarted;
    for (int linkIndex = 1; linkIndex <= static_cast<int>(linkCount); ++linkIndex) {
        if (Stopped(session)) break;
        if (session.record->TakeStoredLink(session.serial.LinkAt(linkIndex))) continue;
        if (!MakeRoomForWorker(session)) break;
        try {
            std::thread worker = StartWorker(session, linkIndex);
            {
                std::lock_guard lock(session.serial.listLock);
                session.serial.workerThreads.push_back(std::move(worker));
            }
            RaiseActiveWorkers(session);
        } catch (const std::system_error&) {
            notStarted.push_back(linkIndex);
        }
    }
    // A link whose worker could not start is worked here, in its turn like any worker, so that
    // it neither loses its row nor leaves the count raised.
    for (const int linkIndex : notStarted) {
        RaiseActiveWorkers(session);
        ExtractCompany(session, linkIndex);
    }

    WaitForWorkers(session);
    // A pause that came as the last worker finished holds the batch here, still listed, so
    // that resume and stop keep acting on it; a stop goes on to the clean-up below.
    static_cast<void>(Proceed(session));
    // Every worker runs to its end before the lists go: one that has just lowered the count may
    // still hold workerMutex.
    std::vector<std::thread> finished;
    {
        std::lock_guard lock(session.serial.listLock);
        finished.swap(session.serial.workerThreads);
    }
    for (std::thread& worker : finished) worker.join();
    {
        std::lock_guard lock(session.control->mutex);
        session.control->endedWorkers.clear();
    }
    std::lock_guard lock(session.serial.listLock);
    session.serial.companyLinks.clear();
    session.serial.batchLinks = 0;
}

SearchState CrawlListing(SearchSession& session, const Text& keyword) {
    ResultSink& window = session.window;
    SearchRecord& record = *session.record;
    const StoredListing& stored = record.Listing();
    Regex regex;
    const Text searchUrl = SearchUrl(session.siteBaseUrl, EncodeKeyword(keyword, true));

    int pageCount = 0;
    Text total;
    if (stored.pageCount) {
        pageCount = *stored.pageCount;
        total = stored.total;
    } else {
        const Fetched<Text> first = FetchText(session, searchUrl);
        if (EndedUnreachable(session)) return SearchState::kStopped;
        const Fetched<Text> second = FetchText(session, searchUrl);
        if (EndedUnreachable(session)) return SearchState::kStopped;
        const FirstPageReading reading = ReadFirstPage(regex, first.body, second.body);
        pageCount = reading.pageCount;
        total = reading.total;
        // Both requests stand for the search's first page: its count and total go together.
        std::optional<std::string> failure = first.failure ? first.failure : second.failure;
        if (!failure && reading.countUnreadable) failure = search_text::kUnreadablePageCount;
        if (failure) {
            NoteFailedPage(session, {{0, 0}, searchUrl, *failure});
        } else if (!Stopped(session)) {
            record.StoreProbe(pageCount, total);
        }
    }
    if (!Proceed(session)) return SearchState::kStopped;
    ShowTotal(session, total);
    if (total.empty()) return EndWithNoHits(session, keyword);

    int dispatchedCount = 0;
    EmptyPageRun emptyPages;
    for (int pageNumber = 1; pageNumber <= pageCount; ++pageNumber) {
        if (!Proceed(session)) return SearchState::kStopped;
        window.SetStatusText(kNoticeStatusField, Utf8ToSystem(pageNumber % kNoticePeriod == 0
                                                                  ? search_text::kNoticeNetwork
                                                                  : search_text::kNoticeMenu));
        std::vector<Text> links;
        bool walked = true;
        if (const auto walkedBefore = stored.walkedPages.find(pageNumber);
            walkedBefore != stored.walkedPages.end()) {
            links = walkedBefore->second;
        } else {
            const Text url = ResultPageUrl(searchUrl, pageNumber);
            const Fetched<SystemUtf8> resultPage = FetchPage(session, url);
            if (Stopped(session)) return SearchState::kStopped;
            std::optional<std::string> failure = resultPage.failure;
            if (!failure) {
                links = CompanyLinksOnPage(regex, resultPage.body);
                if (!IsListing(links, resultPage.body)) failure = search_text::kNotAListing;
            }
            walked = !failure;
            if (walked) {
                record.StoreWalkedPage(pageNumber, links);
            } else {
                NoteFailedPage(session, {{pageNumber, 0}, url, *failure});
            }
        }
        if (emptyPages.EndsListing(pageNumber, walked, links.empty(), pageCount)) {
            pageCount = pageNumber;
            TellEmptyPagesEnd(session);
        }
        {
            std::lock_guard lock(session.serial.listLock);
            int position = 0;
            for (Text& link : links) {
                session.serial.companyLinks.push_back({std::move(link), {pageNumber, ++position}});
            }
        }
        if (BatchRunsAfter(pageNumber, pageCount)) DispatchBatch(session, dispatchedCount);
    }
    if (!Proceed(session)) return SearchState::kStopped;
    return EndWalked(session);
}

}  // namespace velmora
