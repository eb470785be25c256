#include "search/ParallelCrawl.h"

#include <memory>
#include <optional>
#include <random>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "http/CookieJar.h"
#include "http/HttpClient.h"
#include "regex/Regex.h"
#include "results/ResultSink.h"
#include "search/CrawlSteps.h"
#include "search/DirectoryPages.h"
#include "search/Harvest.h"
#include "search/Pacing.h"
#include "search/SearchControl.h"
#include "search/SearchRecord.h"
#include "search/SearchTexts.h"
#include "text/CodePage.h"
#include "text/TextOps.h"

namespace velmora {
namespace {

using Clock = PacingClock;

constexpr const char* kRobotsPath = "/robots.txt";
// robots.txt is read up to this many 1 KB chunks, as much of it as the big crawlers read.
constexpr int kRobotsMaxChunks = 500;
constexpr int kOkStatus = 200;
constexpr int kForbiddenStatus = 403;
constexpr int kTooManyRequestsStatus = 429;
constexpr int kServiceUnavailableStatus = 503;

// A page as one request brought it, judged by the pacing.
struct Asked {
    bool stopped = false;
    SystemUtf8 body = {};
    HttpError error = HttpError::kNone;
    int status = 0;
    // Why the page counts as not fetched (UTF-8), as the serial search says it, or because
    // the site refused it or served a verification page in its place.
    std::optional<std::string> failure = {};
    // A company page's row, when its contact block was found.
    std::optional<ResultRow> row = {};
    // A result page's company links.
    std::vector<Text> links = {};
};

// What a page asked for is, for reading its answer.
enum class AskedPage { kOther, kResultPage, kCompanyPage };

std::optional<std::chrono::milliseconds> RetryAfterOf(HttpClient& client) {
    const Text value = client.GetResponseHeader("Retry-After");
    if (value.empty()) return std::nullopt;
    return ParseRetryAfter(value, std::chrono::system_clock::now());
}

// Asks for `url` until the site has answered it for good: a request that a pause ended is asked
// again once the pause is over, and a page the site asked to wait for once more after the wait.
Asked Ask(Harvest& harvest, Worker& worker, Regex& regex, const Text& url, AskedPage kind,
          int maxChunks = 0) {
    HttpClient& client = worker.client;
    bool askedAgain = false;
    while (true) {
        if (!harvest.AcquireSlot(worker)) return {true};
        const Clock::time_point sentAt = Clock::now();
        client.Get(url);
        SystemUtf8 body = client.ReadBodyUtf8(maxChunks);
        const Clock::time_point answeredAt = Clock::now();
        if (client.LastError() == HttpError::kStopped) {
            harvest.Abandon();
            continue;  // stopped: the slot's wait says so; paused: asked again after the pause
        }
        const int status = client.ResponseStatus();
        SiteAnswer answer;
        answer.sentAt = sentAt;
        answer.answeredAt = answeredAt;
        answer.status = status;
        if (status == kTooManyRequestsStatus || status == kServiceUnavailableStatus) {
            answer.retryAfter = RetryAfterOf(client);
        }
        Asked asked{false, std::move(body), client.LastError(), status, FailureOf(client)};
        if (kind == AskedPage::kCompanyPage) {
            const CompanyPageMatch match = MatchCompanyPage(asked.body);
            asked.failure = CompanyPageFailure(std::move(asked.failure), match);
            asked.row = match.row;
            answer.companyPage = true;
            answer.bytes = asked.body.utf8().size();
            answer.contactBlock = asked.row.has_value();
        } else if (kind == AskedPage::kResultPage && !asked.failure) {
            asked.links = CompanyLinksOnPage(regex, asked.body);
            answer.notAListing = !IsListing(asked.links, asked.body);
        }
        answer.askedAgain = askedAgain;
        const Judgement judgement = harvest.Judge(answer);
        if (judgement.page == PageVerdict::kAskAgain) {
            askedAgain = true;
            continue;
        }
        if (judgement.page == PageVerdict::kVerification) {
            asked.failure = kind == AskedPage::kResultPage ? search_text::kNotAListing
                                                           : search_text::kVerificationPage;
        } else if (status == kForbiddenStatus) {
            asked.failure = search_text::kSiteAnsweredBefore + std::to_string(status);
        }
        return asked;
    }
}

// One worker's routine: takes work until there is none or the search is stopped.
void Work(SearchSession& session, Harvest& harvest, Worker& worker, const Text& searchUrl) {
    Regex regex;
    while (const std::optional<Task> task = harvest.Take()) {
        switch (task->kind) {
            case TaskKind::kRobots: {
                const Asked robots = Ask(harvest, worker, regex, session.siteBaseUrl + kRobotsPath,
                                         AskedPage::kOther, kRobotsMaxChunks);
                if (robots.stopped) return;
                if (IsConnectFailure(robots.error)) {
                    harvest.Unreachable(robots.error);
                } else if (robots.status == kOkStatus) {
                    if (const auto delay = CrawlDelayForEveryAgent(robots.body.utf8())) {
                        harvest.CrawlDelayIs(*delay);
                    }
                }
                break;
            }
            case TaskKind::kProbe: {
                // One request stands for the serial search's two: the count and the total are
                // on the same page.
                const Asked first = Ask(harvest, worker, regex, searchUrl, AskedPage::kOther);
                if (first.stopped) return;
                if (IsConnectFailure(first.error)) {
                    harvest.Unreachable(first.error);
                    break;
                }
                const Text page = first.body.ToSystem();
                const FirstPageReading reading = ReadFirstPage(regex, page, page);
                std::optional<std::string> failure = first.failure;
                if (!failure && reading.countUnreadable) {
                    failure = search_text::kUnreadablePageCount;
                }
                if (failure) {
                    NoteFailedPage(session, {{0, 0}, searchUrl, *failure});
                } else {
                    session.record->StoreProbe(reading.pageCount, reading.total);
                }
                if (!Proceed(session)) return;
                ShowTotal(session, reading.total);
                harvest.ListingKnown(reading.pageCount, reading.total);
                break;
            }
            case TaskKind::kResultPage:
            case TaskKind::kStoredPage: {
                std::vector<Text> links;
                bool walked = true;
                if (task->kind == TaskKind::kStoredPage) {
                    links = session.record->Listing().walkedPages.at(task->page);
                } else {
                    const Text url = ResultPageUrl(searchUrl, task->page);
                    Asked page = Ask(harvest, worker, regex, url, AskedPage::kResultPage);
                    if (page.stopped) return;
                    walked = !page.failure;
                    if (walked) {
                        links = std::move(page.links);
                        session.record->StoreWalkedPage(task->page, links);
                    } else {
                        NoteFailedPage(session, {{task->page, 0}, url, *page.failure});
                    }
                }
                const WalkNews news = harvest.Walked(task->page, links, walked);
                if (!Proceed(session)) return;
                ShowDispatched(session, news.dispatched);
                if (news.endedByEmptyPages) TellEmptyPagesEnd(session);
                break;
            }
            case TaskKind::kCompany: {
                const ListedLink& listed = task->listed;
                const Asked page = Ask(harvest, worker, regex, RequestedLink(listed.link),
                                       AskedPage::kCompanyPage);
                if (page.stopped) return;
                // As in the serial search: a page that could not be fetched or read still gives
                // its row as the match reads it, and the record keeps the failure instead.
                if (page.failure) {
                    NoteFailedPage(session, {listed.place, listed.link, *page.failure});
                }
                if (!page.row) session.window.SetClipboardText(page.body.ToSystem());
                harvest.RowDone({listed, page.row.value_or(ResultRow{}), !page.failure});
                break;
            }
        }
        harvest.Done(*task);
    }
}

}  // namespace

SearchState CrawlInParallel(SearchSession& session, const Text& keyword) {
    const Text searchUrl = SearchUrl(session.siteBaseUrl, EncodeKeyword(keyword, true));
    Harvest harvest(session, std::random_device{}());
    if (session.record->Listing().pageCount) ShowTotal(session, session.record->Listing().total);

    // One jar for the pool, carried on from the session's client and back to it, so that a
    // parallel search is the same visitor to the site as the searches before and after it.
    const auto jar = std::make_shared<SharedCookieJar>();
    std::vector<std::unique_ptr<Worker>> workers;
    for (int i = 0; i < session.pacing.workers; ++i) {
        auto worker = std::make_unique<Worker>();
        worker->client.Open(Text(kDefaultUserAgent));
        worker->client.ShareCookieJar(jar);
        worker->client.SetTransferControl(worker->control);
        workers.push_back(std::move(worker));
    }
    workers.front()->client.SetCookies(session.client.GetCookies());
    harvest.Follow(workers);

    std::vector<std::thread> threads;
    for (auto& worker : workers) {
        try {
            threads.emplace_back([&session, &harvest, &worker, &searchUrl] {
                Work(session, harvest, *worker, searchUrl);
            });
        } catch (const std::system_error&) {
            break;  // the pool works with the threads it has
        }
    }
    if (threads.empty()) {
        Work(session, harvest, *workers.front(), searchUrl);
    } else {
        harvest.Watch();
    }
    for (std::thread& thread : threads) thread.join();
    StoreAndShow(session, harvest.TakeRows());
    harvest.Unfollow();
    session.client.SetCookies(workers.front()->client.GetCookies());

    if (Stopped(session)) return SearchState::kStopped;
    if (const std::optional<HttpError> error = harvest.UnreachableError()) {
        EndUnreachable(session, *error);
        return SearchState::kStopped;
    }
    if (!Proceed(session)) return SearchState::kStopped;
    if (harvest.NoHits()) return EndWithNoHits(session, keyword);
    return EndWalked(session);
}

}  // namespace velmora
