#include "search/Harvest.h"

#include <algorithm>
#include <utility>

#include "search/CrawlSteps.h"
#include "search/SearchControl.h"
#include "search/SearchRecord.h"
#include "search/SearchTexts.h"
#include "text/CodePage.h"
#include "text/TextOps.h"

namespace velmora {
namespace {

// While the site's pause lasts, the notice field tells the time left this often.
constexpr auto kHoldNoticePeriod = std::chrono::seconds(1);
// Rows completed within this long of the first one waiting are stored in one transaction and
// then shown: at eight requests in flight on a site of 100 ms that is about twenty rows, each
// page of the journal written once for them, where a transaction's own cost would otherwise
// match its rows'; rows still show four times a second.
constexpr auto kRowBatchPeriod = std::chrono::milliseconds(250);

}  // namespace

void StoreAndShow(SearchSession& session, const PendingBatch& batch) {
    for (const auto& write : batch.writes) write();
    const std::vector<PendingRow>& rows = batch.rows;
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

Harvest::Harvest(SearchSession& session, std::uint32_t seed)
    : session_(session), pacing_(session.pacing, seed), work_(session.record->Listing()) {}

void Harvest::Follow(std::function<void()> wake) {
    {
        std::lock_guard lock(mutex_);
        wake_ = std::move(wake);
    }
    following_ = TransferControl::Subscription(
        *session_.control->transfers,
        [this](const TransferControl::State& state) { OnControl(state); });
    // A press that came before the subscription is in the state read now.
    OnControl(session_.control->transfers->Snapshot());
}

void Harvest::OnControl(const TransferControl::State& state) {
    std::function<void()> wake;
    {
        std::lock_guard lock(mutex_);
        if (state.version < controlVersion_) return;
        controlVersion_ = state.version;
        if (state.paused && !paused_) ++pauses_;
        paused_ = state.paused;
        stopped_ = state.stopped;
        wake = wake_;
    }
    if (wake) wake();
    watchNews_.notify_all();
}

Harvest::ControlState Harvest::Control() const {
    std::lock_guard lock(mutex_);
    return {paused_, stopped_, pauses_};
}

std::optional<Task> Harvest::Take() {
    std::lock_guard lock(mutex_);
    if (stopped_) return std::nullopt;
    return work_.Next();
}

void Harvest::Done(const Task& task) {
    bool ended = false;
    {
        std::lock_guard lock(mutex_);
        work_.Done(task);
        ended = work_.Ended();
    }
    if (ended) watchNews_.notify_all();
}

bool Harvest::Ended() const {
    std::lock_guard lock(mutex_);
    return work_.Ended();
}

std::optional<int> Harvest::TryStart(Clock::time_point now,
                                     std::optional<Clock::time_point>& next) {
    std::lock_guard lock(mutex_);
    next = pacing_.NextStart();
    if (stopped_ || paused_ || !next || *next > now) return std::nullopt;
    pacing_.Started(now);
    return pacing_.InFlight();
}

void Harvest::Abandon() {
    std::lock_guard lock(mutex_);
    pacing_.Abandoned();
}

Judgement Harvest::Judge(const SiteAnswer& answer) {
    Judgement judgement;
    {
        std::lock_guard lock(mutex_);
        judgement = pacing_.Answered(answer);
        if (judgement.event != PacingEvent::kNone) {
            lastEvent_ = judgement.event;
            ++events_;
        }
    }
    if (judgement.event != PacingEvent::kNone) watchNews_.notify_all();
    return judgement;
}

void Harvest::CrawlDelayIs(std::chrono::milliseconds delay) {
    std::lock_guard lock(mutex_);
    pacing_.SetCrawlDelay(delay);
}

void Harvest::ListingKnown(int pageCount, const Text& total) {
    {
        std::lock_guard lock(mutex_);
        work_.ListingKnown(pageCount, total);
    }
    watchNews_.notify_all();
}

WalkNews Harvest::Walked(int page, const std::vector<Text>& links, bool walked) {
    // The record counts off the rows a resumed search has, under the lock as the rest.
    std::lock_guard lock(mutex_);
    return work_.Walked(page, links, walked, *session_.record);
}

void Harvest::Unreachable(HttpError error) {
    {
        std::lock_guard lock(mutex_);
        work_.Unreachable(error);
    }
    watchNews_.notify_all();
}

bool Harvest::NoHits() const {
    std::lock_guard lock(mutex_);
    return work_.NoHits();
}

std::optional<HttpError> Harvest::UnreachableError() const {
    std::lock_guard lock(mutex_);
    return work_.UnreachableError();
}

void Harvest::RowDone(PendingRow row) {
    bool first = false;
    {
        std::lock_guard lock(mutex_);
        first = batch_.Empty();
        if (first) batchStartedAt_ = Clock::now();
        batch_.rows.push_back(std::move(row));
    }
    if (first) watchNews_.notify_all();
}

void Harvest::Record(std::function<void()> write) {
    bool first = false;
    {
        std::lock_guard lock(mutex_);
        first = batch_.Empty();
        if (first) batchStartedAt_ = Clock::now();
        batch_.writes.push_back(std::move(write));
    }
    if (first) watchNews_.notify_all();
}

PendingBatch Harvest::TakeBatch() {
    std::lock_guard lock(mutex_);
    return std::exchange(batch_, {});
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
    while (!stopped_ && !work_.Ended()) {
        const Clock::time_point now = Clock::now();
        if (!batch_.Empty() && now >= batchStartedAt_ + kRowBatchPeriod) {
            const PendingBatch batch = std::exchange(batch_, {});
            lock.unlock();
            StoreAndShow(session_, batch);
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
        if (!batch_.Empty()) {
            wake = std::min(wake.value_or(Clock::time_point::max()),
                            batchStartedAt_ + kRowBatchPeriod);
        }
        // A new hold comes with an answer, a batch's first entry with the loop: both wake it.
        const int events = events_;
        const bool waiting = !batch_.Empty();
        const auto news = [&] {
            return stopped_ || work_.Ended() || events_ != events || batch_.Empty() == waiting;
        };
        if (wake) {
            watchNews_.wait_until(lock, *wake, news);
        } else {
            watchNews_.wait(lock, news);
        }
    }
}

}  // namespace velmora
