#include "search/ParallelCrawl.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <random>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "http/CookieJar.h"
#include "http/ExchangeLoop.h"
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

// A request the loop sends for a task: asked again after a pause ended it, and once more after
// the site asked to wait for it.
struct Request {
    Task task;
    Text url;
    AskedPage kind = AskedPage::kOther;
    int maxChunks = 0;
    bool askedAgain = false;
};

// One of the loop's clients and the request it carries.
struct Slot {
    HttpClient client;
    std::optional<Request> request;
    Clock::time_point sentAt{};
    int inFlight = 0;  // as it started, itself included
};

// When nothing is in flight and no start is due, the loop still looks about this often.
constexpr auto kIdleLoopWait = std::chrono::milliseconds(1000);

// The thread that drives every request of the search: it takes tasks, starts their requests as
// the pacing lets them go, reads each answer and does the task's part. Pause ends the requests
// in flight, to be asked again once it is over; stop ends them for good.
class RequestLoop {
public:
    RequestLoop(SearchSession& session, Harvest& harvest, ExchangeLoop& exchanges,
                std::vector<std::unique_ptr<Slot>>& slots, const Text& searchUrl)
        : session_(session),
          harvest_(harvest),
          exchanges_(exchanges),
          slots_(slots),
          searchUrl_(searchUrl) {}

    void Run();

private:
    // Starts what the pacing lets go now; false once the search is stopped. `next`: when the
    // next start is due.
    bool StartRequests(std::optional<Clock::time_point>& next);
    std::optional<Request> RequestFor(const Task& task) const;
    // The answer to the slot's request came: false once the search is stopped.
    bool Answered(Slot& slot);
    // The task's part once its page came (nothing for a stored page): false once the search
    // is stopped.
    bool Finish(const Task& task, const Asked* asked);
    // Ends the requests in flight; `askAgain`: they go out again later.
    void EndRequests(bool askAgain);
    // Proceed for the loop: no request waits in flight while the loop is held.
    bool ProceedHere();
    // NoteFailedPage, made by the watch.
    void NoteFailed(FailedPage failed) {
        harvest_.Record([&session = session_, failed] { NoteFailedPage(session, failed); });
    }

    SearchSession& session_;
    Harvest& harvest_;
    ExchangeLoop& exchanges_;
    std::vector<std::unique_ptr<Slot>>& slots_;
    const Text& searchUrl_;
    Regex regex_;
    // Requests whose task is taken, waiting for a slot: the ones asked again first.
    std::deque<Request> waiting_;
    // The pauses whose requests in flight have been ended: a pause held the loop where it
    // could not end them at once, or came and went between two looks.
    std::uint64_t pausesSeen_ = 0;
};

void RequestLoop::Run() {
    while (true) {
        const Harvest::ControlState control = harvest_.Control();
        if (control.stopped) break;
        if (control.paused || control.pauses != pausesSeen_) {
            if (!ProceedHere()) break;
            continue;
        }
        std::optional<Clock::time_point> next;
        if (!StartRequests(next)) break;
        if (exchanges_.Running() == 0 && waiting_.empty() && harvest_.Ended()) break;
        auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(kIdleLoopWait);
        if (next) {
            wait = std::chrono::ceil<std::chrono::milliseconds>(
                std::max<Clock::duration>(*next - Clock::now(), Clock::duration::zero()));
        }
        for (HttpClient* client : exchanges_.Run(wait)) {
            const auto slot = std::find_if(slots_.begin(), slots_.end(), [client](const auto& s) {
                return &s->client == client;
            });
            // A pause met while reading the answers before it asks this one again.
            if (!(*slot)->request) continue;
            if (!Answered(**slot)) {
                EndRequests(false);
                return;
            }
        }
    }
    EndRequests(false);
}

bool RequestLoop::ProceedHere() {
    const Harvest::ControlState control = harvest_.Control();
    if (control.paused || control.pauses != pausesSeen_) {
        pausesSeen_ = control.pauses;
        EndRequests(true);
    }
    const bool go = Proceed(session_);
    exchanges_.RestartClocks();
    return go;
}

void RequestLoop::EndRequests(bool askAgain) {
    for (auto& slot : slots_) {
        if (!slot->request) continue;
        exchanges_.Abandon(slot->client);
        harvest_.Abandon();
        if (askAgain) waiting_.push_front(std::move(*slot->request));
        slot->request.reset();
    }
}

std::optional<Request> RequestLoop::RequestFor(const Task& task) const {
    switch (task.kind) {
        case TaskKind::kRobots:
            return Request{task, session_.siteBaseUrl + kRobotsPath, AskedPage::kOther,
                           kRobotsMaxChunks};
        case TaskKind::kProbe:
            return Request{task, searchUrl_, AskedPage::kOther};
        case TaskKind::kResultPage:
            return Request{task, ResultPageUrl(searchUrl_, task.page), AskedPage::kResultPage};
        case TaskKind::kCompany:
            return Request{task, RequestedLink(task.listed.link), AskedPage::kCompanyPage};
        case TaskKind::kStoredPage:
            break;
    }
    return std::nullopt;
}

bool RequestLoop::StartRequests(std::optional<Clock::time_point>& next) {
    for (auto& slot : slots_) {
        if (slot->request) continue;
        while (waiting_.empty()) {
            const std::optional<Task> task = harvest_.Take();
            if (!task) return true;
            if (std::optional<Request> request = RequestFor(*task)) {
                waiting_.push_back(std::move(*request));
            } else if (!Finish(*task, nullptr)) {
                return false;
            }
        }
        const Clock::time_point now = Clock::now();
        const std::optional<int> inFlight = harvest_.TryStart(now, next);
        if (!inFlight) return true;
        slot->inFlight = *inFlight;
        slot->request = std::move(waiting_.front());
        waiting_.pop_front();
        slot->sentAt = now;
        exchanges_.StartGet(slot->client, slot->request->url, slot->request->maxChunks);
    }
    return true;
}

bool RequestLoop::Answered(Slot& slot) {
    HttpClient& client = slot.client;
    Request request = std::move(*slot.request);
    slot.request.reset();
    SystemUtf8 body = client.ReadBodyUtf8(request.maxChunks);
    const int status = client.ResponseStatus();
    SiteAnswer answer;
    answer.sentAt = slot.sentAt;
    answer.answeredAt = Clock::now();
    answer.inFlight = slot.inFlight;
    answer.status = status;
    if (status == kTooManyRequestsStatus || status == kServiceUnavailableStatus) {
        answer.retryAfter = RetryAfterOf(client);
    }
    Asked asked{std::move(body), client.LastError(), status, FailureOf(client)};
    if (request.kind == AskedPage::kCompanyPage) {
        const CompanyPageMatch match = MatchCompanyPage(asked.body);
        asked.failure = CompanyPageFailure(std::move(asked.failure), match);
        asked.row = match.row;
        answer.companyPage = true;
        answer.bytes = asked.body.utf8().size();
        answer.contactBlock = asked.row.has_value();
    } else if (request.kind == AskedPage::kResultPage && !asked.failure) {
        asked.links = CompanyLinksOnPage(regex_, asked.body);
        answer.notAListing = !IsListing(asked.links, asked.body);
    }
    answer.askedAgain = request.askedAgain;
    const Judgement judgement = harvest_.Judge(answer);
    if (judgement.page == PageVerdict::kAskAgain) {
        request.askedAgain = true;
        waiting_.push_front(std::move(request));
        return true;
    }
    if (judgement.page == PageVerdict::kVerification) {
        asked.failure = request.kind == AskedPage::kResultPage ? search_text::kNotAListing
                                                               : search_text::kVerificationPage;
    } else if (status == kForbiddenStatus) {
        asked.failure = search_text::kSiteAnsweredBefore + std::to_string(status);
    }
    return Finish(request.task, &asked);
}

bool RequestLoop::Finish(const Task& task, const Asked* asked) {
    switch (task.kind) {
        case TaskKind::kRobots:
            if (IsConnectFailure(asked->error)) {
                harvest_.Unreachable(asked->error);
            } else if (asked->status == kOkStatus) {
                if (const auto delay = CrawlDelayForEveryAgent(asked->body.utf8())) {
                    harvest_.CrawlDelayIs(*delay);
                }
            }
            break;
        case TaskKind::kProbe: {
            // One request stands for the serial search's two: the count and the total are on
            // the same page.
            if (IsConnectFailure(asked->error)) {
                harvest_.Unreachable(asked->error);
                break;
            }
            const Text page = asked->body.ToSystem();
            const FirstPageReading reading = ReadFirstPage(regex_, page, page);
            std::optional<std::string> failure = asked->failure;
            if (!failure && reading.countUnreadable) failure = search_text::kUnreadablePageCount;
            if (failure) {
                NoteFailed({{0, 0}, searchUrl_, *failure});
            } else {
                harvest_.Record([&session = session_, reading] {
                    session.record->StoreProbe(reading.pageCount, reading.total);
                });
            }
            if (!ProceedHere()) return false;
            ShowTotal(session_, reading.total);
            harvest_.ListingKnown(reading.pageCount, reading.total);
            break;
        }
        case TaskKind::kResultPage:
        case TaskKind::kStoredPage: {
            std::vector<Text> links;
            bool walked = true;
            if (task.kind == TaskKind::kStoredPage) {
                links = session_.record->Listing().walkedPages.at(task.page);
            } else {
                walked = !asked->failure;
                if (walked) {
                    links = asked->links;
                    harvest_.Record([&session = session_, page = task.page, links] {
                        session.record->StoreWalkedPage(page, links);
                    });
                } else {
                    NoteFailed(
                        {{task.page, 0}, ResultPageUrl(searchUrl_, task.page), *asked->failure});
                }
            }
            const WalkNews news = harvest_.Walked(task.page, links, walked);
            if (!ProceedHere()) return false;
            ShowDispatched(session_, news.dispatched);
            if (news.endedByEmptyPages) TellEmptyPagesEnd(session_);
            break;
        }
        case TaskKind::kCompany: {
            const ListedLink& listed = task.listed;
            // As in the serial search: a page that could not be fetched or read still gives
            // its row as the match reads it, and the record keeps the failure instead.
            if (asked->failure) NoteFailed({listed.place, listed.link, *asked->failure});
            if (!asked->row) session_.window.SetClipboardText(asked->body.ToSystem());
            harvest_.RowDone({listed, asked->row.value_or(ResultRow{}), !asked->failure});
            break;
        }
    }
    harvest_.Done(task);
    return true;
}

}  // namespace

SearchState CrawlInParallel(SearchSession& session, const Text& keyword) {
    const Text searchUrl = SearchUrl(session.siteBaseUrl, EncodeKeyword(keyword, true));
    Harvest harvest(session, std::random_device{}());
    if (session.record->Listing().pageCount) ShowTotal(session, session.record->Listing().total);

    // One jar for the clients, carried on from the session's client and back to it, so that a
    // parallel search is the same visitor to the site as the searches before and after it.
    const auto jar = std::make_shared<SharedCookieJar>();
    std::vector<std::unique_ptr<Slot>> slots;
    for (int i = 0; i < session.pacing.workers; ++i) {
        auto slot = std::make_unique<Slot>();
        slot->client.Open(Text(kDefaultUserAgent));
        slot->client.ShareCookieJar(jar);
        slots.push_back(std::move(slot));
    }
    slots.front()->client.SetCookies(session.client.GetCookies());

    ExchangeLoop exchanges;
    harvest.Follow([&exchanges] { exchanges.Wake(); });
    {
        RequestLoop loop(session, harvest, exchanges, slots, searchUrl);
        std::thread thread;
        try {
            thread = std::thread([&loop] { loop.Run(); });
        } catch (const std::system_error&) {
            // Without a thread of its own the loop runs here, and its rows are stored at the end.
        }
        if (thread.joinable()) {
            harvest.Watch();
            thread.join();
        } else {
            loop.Run();
        }
    }
    StoreAndShow(session, harvest.TakeBatch());
    harvest.Unfollow();
    session.client.SetCookies(slots.front()->client.GetCookies());

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
