#include "search/ListingCrawl.h"

#include <algorithm>
#include <chrono>
#include <iterator>
#include <system_error>
#include <vector>

#include "http/HttpClient.h"
#include "regex/Regex.h"
#include "results/Frontend.h"
#include "search/CompanyDetail.h"
#include "search/SearchControl.h"
#include "search/SearchRecord.h"
#include "search/SearchTexts.h"
#include "text/CodePage.h"
#include "text/TextOps.h"

namespace velmora {

namespace {

// A batch's wait wakes at least this often, also when no worker announces its end.
constexpr auto kBatchCheckPeriod = std::chrono::milliseconds(500);
// Answers that say the site could not serve the page now: any server error, and "too many
// requests".
constexpr int kFirstServerErrorStatus = 500;
constexpr int kTooManyRequestsStatus = 429;
constexpr int kFirstRedirectStatus = 300;
constexpr int kFirstClientErrorStatus = 400;
// The pager's label before the page numbers, on every result page ("页次: 3/12").
constexpr const char* kPagerMarker = "页次: ";

bool IsUnreserved(unsigned char byte) {
    return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
           (byte >= '0' && byte <= '9') || byte == '-' || byte == '.';
}

template <typename Body, typename ReadBody>
Fetched<Body> Fetch(SearchSession& session, const Text& url, ReadBody readBody) {
    // The client holds the request while paused and refuses it once stopped.
    HttpClient& client = session.client;
    const auto stoppedTransfer = [&client] { return client.LastError() == HttpError::kStopped; };
    client.Get(url);
    if (stoppedTransfer()) return {{}, std::nullopt, true};
    Body body = readBody(client);
    // A stop during the body's transfer ends it as a failure, which is the stop's.
    if (stoppedTransfer()) return {{}, std::nullopt, true};
    return {std::move(body), FailureOf(client)};
}

bool BatchRunsAfter(int page, int pageCount) {
    return page % 2 == 0 || page == pageCount || pageCount == 3;
}

// Waits until every worker of the batch has lowered the count, or the search is stopped.
void WaitForWorkers(SearchSession& session) {
    auto& control = *session.control;
    const std::stop_token stop = control.stop.get_token();
    std::unique_lock lock(control.mutex);
    while (!stop.stop_requested() && !control.changed.wait_for(lock, stop, kBatchCheckPeriod, [&] {
        return session.activeWorkers.load() <= 0;
    })) {
    }
}

void RaiseActiveWorkers(SearchSession& session) {
    std::lock_guard lock(session.counterLock);
    ++session.activeWorkers;
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
    return session.startThread([&session, linkIndex] {
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
            return session.workerThreads.size() - control.endedWorkers.size() <
                   static_cast<std::size_t>(kMaxWorkerThreads);
        });
        control.crawlWaitsForRoom = false;
        if (!room) return false;
        ended.swap(control.endedWorkers);
    }
    std::vector<std::thread> finished;
    {
        std::lock_guard lock(session.listLock);
        auto& workers = session.workerThreads;
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

std::optional<std::string> FailureOf(const HttpClient& client) {
    if (const HttpError error = client.LastError(); error != HttpError::kNone) {
        return HttpErrorText(error);
    }
    const int status = client.ResponseStatus();
    if (status >= kFirstServerErrorStatus || status == kTooManyRequestsStatus) {
        return search_text::kSiteAnsweredBefore + std::to_string(status);
    }
    // The client follows every redirect it may: a last answer that still redirects is where
    // its bound cut the chain.
    if (status >= kFirstRedirectStatus && status < kFirstClientErrorStatus &&
        !client.ResolveLocation().empty()) {
        return search_text::kTooManyRedirects;
    }
    return std::nullopt;
}

SearchState EndAs(SearchSession& session, SearchState end) {
    const int resultPages = session.failedResultPages;
    const int companyPages = session.failedCompanyPages;
    if (resultPages == 0 && companyPages == 0) return end;
    session.window.SetStatusText(
        kNoticeStatusField,
        ConcatText(Utf8ToSystem(search_text::kFailedPagesBefore), ToText(resultPages),
                   Utf8ToSystem(search_text::kFailedResultPagesAfter), ToText(companyPages),
                   Utf8ToSystem(search_text::kFailedCompanyPagesAfter)));
    return SearchState::kIncomplete;
}

bool EndUnreachable(SearchSession& session, HttpError error) {
    if (!Proceed(session)) return false;
    session.siteUnreachable = true;
    Frontend& window = session.window;
    window.SetTimerPeriod(0);
    window.SetStatusText(0, Utf8ToSystem(search_text::kStatusUnreachable));
    window.ShowMessage(ConcatText(Utf8ToSystem(search_text::kUnreachableBefore),
                                  session.siteBaseUrl, Utf8ToSystem(search_text::kReasonBefore),
                                  Utf8ToSystem(HttpErrorText(error)),
                                  Utf8ToSystem(search_text::kReasonAfter)));
    return true;
}

const Text& CompanyLinkPattern() {
    static const Text pattern = R"re(sup-name"><a href="(.*?)")re";
    return pattern;
}

Text EncodeKeyword(const Text& keyword, bool keepUnreserved) {
    static constexpr char kHexDigits[] = "0123456789ABCDEF";
    const std::string utf8 = SystemToUtf8(keyword);
    Text encoded;
    encoded.reserve(utf8.size() * 3);
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if (keepUnreserved && IsUnreserved(byte)) {
            encoded += c;
        } else {
            encoded += '%';
            encoded += kHexDigits[byte >> 4];
            encoded += kHexDigits[byte & 0x0F];
        }
    }
    return encoded;
}

std::vector<Text> CompanyLinksOnPage(Regex& regex, const Text& page) {
    return CompanyLinksOnPage(regex, SystemUtf8::FromSystem(page));
}

std::vector<Text> CompanyLinksOnPage(Regex& regex, const SystemUtf8& page) {
    regex.Create(CompanyLinkPattern(), page);
    std::vector<Text> links;
    for (int match = 1; match <= regex.MatchCount(); ++match) {
        Text link = regex.GetSubMatch(match, 1);
        if (!RemoveSpaces(link).empty()) links.push_back(std::move(link));
    }
    return links;
}

std::optional<int> PageCountOf(const Text& firstPage) {
    const Text count =
        TextBetween(firstPage, Utf8ToSystem(kPageCountMarker), kCountEndMarker, kMarkerSearchStart);
    const int claimed = ToInteger(count);
    // 0 is also what a text without digits reads as.
    const std::size_t firstShown = count.find_first_not_of(" \t");
    if (claimed < 0 || (claimed == 0 && (firstShown == Text::npos || count[firstShown] != '0'))) {
        return std::nullopt;
    }
    return std::min(claimed, kMaxPageCount);
}

FirstPageReading ReadFirstPage(Regex& regex, const Text& countPage, const Text& totalPage) {
    FirstPageReading reading;
    const std::optional<int> pageCount = PageCountOf(countPage);
    reading.pageCount = pageCount.value_or(0);
    reading.total =
        TextBetween(totalPage, Utf8ToSystem(kTotalMarker), kCountEndMarker, kMarkerSearchStart);
    reading.countUnreadable = !pageCount && !CompanyLinksOnPage(regex, countPage).empty();
    return reading;
}

bool IsListing(const std::vector<Text>& links, const SystemUtf8& page) {
    const std::string& utf8 = page.utf8();
    return !links.empty() || utf8.find(kPagerMarker) != std::string::npos ||
           utf8.find(kTotalMarker) != std::string::npos;
}

Text SearchUrl(const Text& siteBaseUrl, const Text& encodedKeyword) {
    return siteBaseUrl + kSearchPathAndQuery + encodedKeyword;
}

ListedLink LinkAt(SearchSession& session, int linkIndex) {
    std::lock_guard lock(session.listLock);
    if (linkIndex < 1 || linkIndex > static_cast<int>(session.companyLinks.size())) return {};
    return session.companyLinks[static_cast<std::size_t>(linkIndex - 1)];
}

Fetched<Text> FetchText(SearchSession& session, const Text& url) {
    return Fetch<Text>(session, url, [](HttpClient& client) { return client.ReadBodyTextUtf8(); });
}

Fetched<SystemUtf8> FetchPage(SearchSession& session, const Text& url) {
    return Fetch<SystemUtf8>(session, url,
                             [](HttpClient& client) { return client.ReadBodyUtf8(); });
}

void NoteFailedPage(SearchSession& session, const FailedPage& failed) {
    ++(failed.IsResultPage() ? session.failedResultPages : session.failedCompanyPages);
    session.record->StoreFailedPage(failed);
}

void DispatchBatch(SearchSession& session, int& dispatchedCount) {
    std::size_t linkCount = 0;
    {
        std::lock_guard lock(session.listLock);
        linkCount = session.companyLinks.size();
    }
    if (!Proceed(session)) return;
    dispatchedCount += static_cast<int>(linkCount);
    session.window.SetStatusText(2, Utf8ToSystem(search_text::kDispatchedBefore) +
                                        ToText(dispatchedCount) +
                                        Utf8ToSystem(search_text::kCountAfter));
    {
        std::lock_guard lock(session.listLock);
        session.batchLinks = linkCount;
    }

    std::vector<int> notStarted;
    for (int linkIndex = 1; linkIndex <= static_cast<int>(linkCount); ++linkIndex) {
        if (Stopped(session)) break;
        if (session.record->TakeStoredLink(LinkAt(session, linkIndex))) continue;
        if (!MakeRoomForWorker(session)) break;
        try {
            std::thread worker = StartWorker(session, linkIndex);
            {
                std::lock_guard lock(session.listLock);
                session.workerThreads.push_back(std::move(worker));
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
        std::lock_guard lock(session.listLock);
        finished.swap(session.workerThreads);
    }
    for (std::thread& worker : finished) worker.join();
    {
        std::lock_guard lock(session.control->mutex);
        session.control->endedWorkers.clear();
    }
    std::lock_guard lock(session.listLock);
    session.companyLinks.clear();
    session.batchLinks = 0;
}

SearchState CrawlListing(SearchSession& session, const Text& keyword) {
    Frontend& window = session.window;
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
    window.SetStatusText(1, Utf8ToSystem(search_text::kResultsBefore) + total +
                                Utf8ToSystem(search_text::kCountAfter));

    if (total.empty()) {
        window.ShowMessage(Utf8ToSystem(search_text::kNoHitsBefore) + keyword +
                           Utf8ToSystem(search_text::kNoHitsAfter));
        window.SetStatusText(0, Utf8ToSystem(search_text::kStatusNoHits));
        return EndAs(session, SearchState::kNoHits);
    }

    int dispatchedCount = 0;
    int emptyPagesInARow = 0;
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
            const Text url = searchUrl + kPageParameter + ToText(pageNumber);
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
        // A page that could not be fetched says nothing of how many pages the site has.
        if (walked) emptyPagesInARow = links.empty() && pageNumber > 1 ? emptyPagesInARow + 1 : 0;
        if (emptyPagesInARow == kMaxEmptyPagesInARow && pageNumber < pageCount) {
            pageCount = pageNumber;
            window.SetStatusText(kNoticeStatusField,
                                 Utf8ToSystem(search_text::kEmptyPagesBefore) +
                                     ToText(kMaxEmptyPagesInARow) +
                                     Utf8ToSystem(search_text::kEmptyPagesAfter));
        }
        {
            std::lock_guard lock(session.listLock);
            int position = 0;
            for (Text& link : links) {
                session.companyLinks.push_back({std::move(link), {pageNumber, ++position}});
            }
        }
        if (BatchRunsAfter(pageNumber, pageCount)) DispatchBatch(session, dispatchedCount);
    }
    if (!Proceed(session)) return SearchState::kStopped;
    window.SetTimerPeriod(0);
    const SearchState end = EndAs(session, SearchState::kFinished);
    window.ShowMessage(Utf8ToSystem(search_text::kSearchFinished));
    return end;
}

}  // namespace velmora
