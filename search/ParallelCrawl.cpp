#include "search/ParallelCrawl.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "http/CookieJar.h"
#include "http/HttpClient.h"
#include "http/TransferControl.h"
#include "regex/Regex.h"
#include "results/ResultSink.h"
#include "search/CrawlSteps.h"
#include "search/DirectoryPages.h"
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
// While the site's pause lasts, the notice field tells the time left this often.
constexpr auto kHoldNoticePeriod = std::chrono::seconds(1);
// Rows completed within this long of the first one waiting are stored in one transaction and
// then shown: at eight requests in flight on a site of 100 ms that is about twenty rows, each
// page of the journal written once for them, where a transaction's own cost would otherwise
// match its rows'; rows still show four times a second.
constexpr auto kRowBatchPeriod = std::chrono::milliseconds(250);
// An answer that brings the next start this much sooner or more wakes a worker waiting for it;
// most answers move it by less, and the waiter wakes at its time anyway.
constexpr auto kSoonerStartWorthWaking = std::chrono::milliseconds(1);
constexpr int kOkStatus = 200;
constexpr int kForbiddenStatus = 403;
constexpr int kTooManyRequestsStatus = 429;
constexpr int kServiceUnavailableStatus = 503;

struct Worker {
    HttpClient client;
    // Stopped whenever the search is paused or stopped, so that the request in flight ends.
    std::shared_ptr<TransferControl> control = std::make_shared<TransferControl>();
};

enum class TaskKind { kRobots, kProbe, kResultPage, kStoredPage, kCompany };

struct Task {
    TaskKind kind = TaskKind::kCompany;
    int page = 0;
    ListedLink listed = {};
};

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

// A company's row on its way to the record and the window.
struct PendingRow {
    ListedLink listed;
    ResultRow row;
    bool store = true;  // false for a page that could not be fetched: shown, not kept
};

// What a walked result page did to the listing, for the window.
struct WalkNews {
    int dispatched = 0;
    bool endedByEmptyPages = false;
};

// The state the crawl thread and the workers share: the queue of work, the pacing, and the
// session's pause and stop as the workers must see them. One mutex guards it all; nothing
// reaches the window or the session's control while holding it.
class Harvest {
public:
    Harvest(SearchSession& session, std::uint32_t seed)
        : session_(session),
          stored_(session.record->Listing()),
          pacing_(session.pacing, seed),
          probeNeeded_(!stored_.pageCount) {
        if (stored_.pageCount) {
            pageCount_ = *stored_.pageCount;
            total_ = stored_.total;
        }
    }

    // Every worker's control follows the session's from now on.
    void Follow(std::vector<std::unique_ptr<Worker>>& workers) {
        workers_ = &workers;
        following_ = TransferControl::Subscription(
            *session_.control->transfers,
            [this](const TransferControl::State& state) { OnControl(state); });
        // A press that came before the subscription is in the state read now.
        OnControl(session_.control->transfers->Snapshot());
    }
    void Unfollow() { following_ = {}; }

    std::optional<Task> Take();
    void Done(const Task& task);

    // Waits until a request may start now (then takes its slot), or the search is stopped.
    [[nodiscard]] bool AcquireSlot(Worker& worker);
    void Abandon();
    Judgement Judge(const SiteAnswer& answer);

    void CrawlDelayIs(std::chrono::milliseconds delay);
    // The search's first page (or its stored count and total) is known.
    void ListingKnown(int pageCount, const Text& total);
    WalkNews Walked(int page, const std::vector<Text>& links, bool walked);
    // No connection could be made to the site at all: nothing more is asked.
    void Unreachable(HttpError error);
    // A company's row is complete; the watch stores and shows it with the others of its batch.
    void RowDone(PendingRow row);
    // The rows still waiting, for the last batch.
    std::vector<PendingRow> TakeRows();

    // The crawl thread's watch, until the pool's work is done or the search stopped: stores and
    // shows the completed rows in batches, and tells the notice field how long a pause the site
    // asked for still lasts.
    void Watch();

    [[nodiscard]] bool NoHits() const {
        std::lock_guard lock(mutex_);
        return noHits_;
    }
    [[nodiscard]] std::optional<HttpError> UnreachableError() const {
        std::lock_guard lock(mutex_);
        return unreachable_;
    }

private:
    // Runs under the session control's lock: mirrors its state and stops every worker's
    // transfers when it is paused or stopped.
    void OnControl(const TransferControl::State& state);
    void EndIfDoneLocked();
    Text HoldNoticeLocked(Clock::time_point holdEnd, Clock::time_point now) const;

    SearchSession& session_;
    const StoredListing& stored_;

    mutable std::mutex mutex_;
    // Four kinds of waiter, woken apart so that an answer does not wake every thread: the one
    // worker waiting for the next start's time, the workers waiting for their turn at it (or for
    // a slot), workers waiting for work, and the crawl thread's watch. Were every worker to wait
    // for the time, all would wake at it for one to start.
    std::condition_variable startCame_;
    std::condition_variable slotFree_;
    std::condition_variable workCame_;
    std::condition_variable watchNews_;
    std::vector<std::unique_ptr<Worker>>* workers_ = nullptr;
    bool startAwaited_ = false;  // a worker waits on startCame_
    std::uint64_t controlVersion_ = 0;
    bool paused_ = false;
    bool stopped_ = false;

    SitePacing pacing_;
    PacingEvent lastEvent_ = PacingEvent::kNone;
    int events_ = 0;  // pacing events so far, for the watch to tell a new one at once

    bool robotsTaken_ = false;
    bool robotsDone_ = false;
    bool probeNeeded_;
    bool probeTaken_ = false;
    bool listingKnown_ = false;
    int pageCount_ = 0;
    Text total_;
    int nextPage_ = 1;
    bool pageOut_ = false;
    EmptyPageRun emptyPages_;
    int dispatched_ = 0;
    std::deque<ListedLink> companies_;
    int tasksOut_ = 0;
    bool ended_ = false;
    bool noHits_ = false;
    std::optional<HttpError> unreachable_;
    std::vector<PendingRow> rows_;
    Clock::time_point firstRowAt_{};

    // Last: released first, so that no change reaches a harvest being taken apart.
    TransferControl::Subscription following_;
};

void Harvest::OnControl(const TransferControl::State& state) {
    {
        std::lock_guard lock(mutex_);
        if (state.version < controlVersion_) return;
        controlVersion_ = state.version;
        paused_ = state.paused;
        stopped_ = state.stopped;
        if ((paused_ || stopped_) && workers_ != nullptr) {
            for (auto& worker : *workers_) worker->control->Stop();
        }
    }
    startCame_.notify_all();
    slotFree_.notify_all();
    workCame_.notify_all();
    watchNews_.notify_all();
}

std::optional<Task> Harvest::Take() {
    std::unique_lock lock(mutex_);
    while (true) {
        if (stopped_ || ended_) return std::nullopt;
        std::optional<Task> task;
        if (!robotsTaken_) {
            robotsTaken_ = true;
            task = Task{TaskKind::kRobots};
        } else if (robotsDone_ && probeNeeded_ && !probeTaken_) {
            probeTaken_ = true;
            task = Task{TaskKind::kProbe};
        } else if (listingKnown_ && !pageOut_ && nextPage_ <= pageCount_ &&
                   companies_.size() < static_cast<std::size_t>(kLookAheadLinks)) {
            pageOut_ = true;
            const int page = nextPage_++;
            task = Task{stored_.walkedPages.count(page) != 0 ? TaskKind::kStoredPage
                                                             : TaskKind::kResultPage,
                        page};
        } else if (!companies_.empty()) {
            task = Task{TaskKind::kCompany, 0, std::move(companies_.front())};
            companies_.pop_front();
        }
        if (task) {
            ++tasksOut_;
            return task;
        }
        workCame_.wait(lock);
    }
}

void Harvest::Done(const Task& task) {
    bool ended = false;
    {
        std::lock_guard lock(mutex_);
        --tasksOut_;
        if (task.kind == TaskKind::kRobots) robotsDone_ = true;
        if (task.kind == TaskKind::kRobots && !probeNeeded_ && !unreachable_) {
            listingKnown_ = true;
            noHits_ = total_.empty();
        }
        if (task.kind == TaskKind::kResultPage || task.kind == TaskKind::kStoredPage) {
            pageOut_ = false;
        }
        EndIfDoneLocked();
        ended = ended_;
    }
    // A company's end frees nothing another worker waits for; the rest may.
    if (ended) {
        workCame_.notify_all();
        watchNews_.notify_all();
    } else if (task.kind != TaskKind::kCompany) {
        workCame_.notify_all();
    }
}

void Harvest::EndIfDoneLocked() {
    const bool listingDone = listingKnown_ && !pageOut_ && nextPage_ > pageCount_;
    if (unreachable_ || noHits_ || (listingDone && companies_.empty() && tasksOut_ == 0)) {
        ended_ = true;
    }
}

bool Harvest::AcquireSlot(Worker& worker) {
    std::unique_lock lock(mutex_);
    while (!stopped_) {
        if (paused_) {
            slotFree_.wait(lock);
            continue;
        }
        const std::optional<Clock::time_point> next = pacing_.NextStart();
        const Clock::time_point now = Clock::now();
        if (next && *next <= now) {
            pacing_.Started(now);
            // A pause stopped this worker's transfers; it is over now.
            if (worker.control->IsStopped()) worker.control->Reset();
            // One more slot may be free: the next in turn waits for its time.
            const bool more = pacing_.NextStart().has_value();
            lock.unlock();
            if (more) slotFree_.notify_one();
            return true;
        }
        if (next && !startAwaited_) {
            startAwaited_ = true;
            startCame_.wait_until(lock, *next);
            startAwaited_ = false;
        } else {
            slotFree_.wait(lock);
        }
    }
    return false;
}

void Harvest::Abandon() {
    {
        std::lock_guard lock(mutex_);
        pacing_.Abandoned();
    }
    slotFree_.notify_one();
}

Judgement Harvest::Judge(const SiteAnswer& answer) {
    Judgement judgement;
    bool sooner = false;
    bool slotFreed = false;
    {
        std::lock_guard lock(mutex_);
        const std::optional<Clock::time_point> before = pacing_.NextStart();
        judgement = pacing_.Answered(answer);
        const std::optional<Clock::time_point> after = pacing_.NextStart();
        sooner = after && (!before || *after + kSoonerStartWorthWaking < *before);
        slotFreed = !before;
        if (judgement.event != PacingEvent::kNone) {
            lastEvent_ = judgement.event;
            ++events_;
        }
    }
    // Only a start that came sooner is news: the worker waiting for the time wakes at the one it
    // had anyway. A slot freed in a full window has no such worker; the one that takes it passes
    // the word on if the window grew too.
    if (sooner) {
        if (slotFreed) {
            slotFree_.notify_one();
        } else {
            startCame_.notify_one();
        }
    }
    if (judgement.event != PacingEvent::kNone) watchNews_.notify_all();
    return judgement;
}

void Harvest::CrawlDelayIs(std::chrono::milliseconds delay) {
    {
        std::lock_guard lock(mutex_);
        pacing_.SetCrawlDelay(delay);
    }
    startCame_.notify_all();
    slotFree_.notify_all();
}

void Harvest::ListingKnown(int pageCount, const Text& total) {
    {
        std::lock_guard lock(mutex_);
        pageCount_ = pageCount;
        total_ = total;
        listingKnown_ = true;
        noHits_ = total.empty();
        EndIfDoneLocked();
    }
    workCame_.notify_all();
    watchNews_.notify_all();
}

WalkNews Harvest::Walked(int page, const std::vector<Text>& links, bool walked) {
    WalkNews news;
    {
        std::lock_guard lock(mutex_);
        if (emptyPages_.EndsListing(page, walked, links.empty(), pageCount_)) {
            pageCount_ = page;
            news.endedByEmptyPages = true;
        }
        int position = 0;
        for (const Text& link : links) {
            ListedLink listed{link, {page, ++position}};
            // The record counts off the rows a resumed search has; one caller at a time.
            if (!session_.record->TakeStoredLink(listed)) companies_.push_back(std::move(listed));
        }
        dispatched_ += static_cast<int>(links.size());
        news.dispatched = dispatched_;
    }
    workCame_.notify_all();
    return news;
}

void Harvest::Unreachable(HttpError error) {
    {
        std::lock_guard lock(mutex_);
        unreachable_ = error;
        EndIfDoneLocked();
    }
    workCame_.notify_all();
    watchNews_.notify_all();
}

void Harvest::RowDone(PendingRow row) {
    bool first = false;
    {
        std::lock_guard lock(mutex_);
        first = rows_.empty();
        if (first) firstRowAt_ = Clock::now();
        rows_.push_back(std::move(row));
    }
    if (first) watchNews_.notify_all();
}

std::vector<PendingRow> Harvest::TakeRows() {
    std::lock_guard lock(mutex_);
    return std::exchange(rows_, {});
}

// Stores a batch of rows in one go, then appends them to the window; a pause holds them first.
// Their pages were answered, so a stop does not drop them.
void StoreAndShow(SearchSession& session, const std::vector<PendingRow>& rows) {
    if (rows.empty()) return;
    static_cast<void>(Proceed(session));
    std::vector<StoredRow> kept;
    for (const PendingRow& pending : rows) {
        if (pending.store) kept.push_back({pending.listed.link, pending.row, pending.listed.place});
    }
    session.record->StoreRows(kept);
    for (const PendingRow& pending : rows) {
        AppendCompanyRow(session, pending.listed, pending.row, false);
    }
}

Text Harvest::HoldNoticeLocked(Clock::time_point holdEnd, Clock::time_point now) const {
    const auto secondsLeft = std::chrono::ceil<std::chrono::seconds>(holdEnd - now).count();
    const char* why = lastEvent_ == PacingEvent::kBlockedRefusals ? search_text::kPacingRefusals
                      : lastEvent_ == PacingEvent::kBlockedVerification
                          ? search_text::kPacingVerification
                          : search_text::kPacingRetryAfter;
    return ConcatText(Utf8ToSystem(why), ToText(static_cast<std::int64_t>(secondsLeft)),
                      Utf8ToSystem(search_text::kPacingSecondsLeftAfter));
}

void Harvest::Watch() {
    bool holdTold = false;
    int eventsTold = 0;
    Clock::time_point nextNotice{};
    std::unique_lock lock(mutex_);
    while (!stopped_ && !ended_) {
        const Clock::time_point now = Clock::now();
        if (!rows_.empty() && now >= firstRowAt_ + kRowBatchPeriod) {
            std::vector<PendingRow> rows = std::exchange(rows_, {});
            lock.unlock();
            StoreAndShow(session_, rows);
            lock.lock();
            continue;
        }
        const std::optional<Clock::time_point> holdEnd = pacing_.HoldEnd(now);
        Text notice;
        if (holdEnd && (events_ != eventsTold || now >= nextNotice)) {
            notice = HoldNoticeLocked(*holdEnd, now);
            eventsTold = events_;
            nextNotice = now + kHoldNoticePeriod;
            holdTold = true;
        } else if (!holdEnd && holdTold) {
            notice = Utf8ToSystem(pacing_.Serial() ? search_text::kPacingGoesOnSerial
                                                   : search_text::kPacingGoesOn);
            holdTold = false;
        }
        if (!notice.empty()) {
            lock.unlock();
            session_.window.SetStatusText(kNoticeStatusField, notice);
            lock.lock();
            continue;
        }
        std::optional<Clock::time_point> wake;
        if (holdEnd) wake = std::min(*holdEnd, nextNotice);
        if (!rows_.empty()) {
            wake = std::min(wake.value_or(Clock::time_point::max()), firstRowAt_ + kRowBatchPeriod);
        }
        // A new hold comes with an answer, a first row with its worker: both wake the wait.
        const int events = events_;
        const bool waitingRows = !rows_.empty();
        const auto news = [&] {
            return stopped_ || ended_ || events_ != events || rows_.empty() != !waitingRows;
        };
        if (wake) {
            watchNews_.wait_until(lock, *wake, news);
        } else {
            watchNews_.wait(lock, news);
        }
    }
}

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
