#pragma once
// What the parallel search's threads share: the work (HarvestWork.h), the pacing (Pacing.h), the
// rows waiting to be stored and shown, and the session's pause and stop as the workers must see
// them. One mutex guards it all; nothing reaches the window or the session's control while
// holding it. The workers take work and request slots here; the crawl thread watches.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "http/HttpClient.h"
#include "http/TransferControl.h"
#include "results/ResultRow.h"
#include "search/HarvestWork.h"
#include "search/Pacing.h"
#include "search/SearchSession.h"

namespace velmora {

// One of the pool's workers: a client of its own on a connection of its own.
struct Worker {
    HttpClient client;
    // Stopped whenever the search is paused or stopped, so that the request in flight ends.
    std::shared_ptr<TransferControl> control = std::make_shared<TransferControl>();
};

// A company's row on its way to the record and the window.
struct PendingRow {
    ListedLink listed;
    ResultRow row;
    bool store = true;  // false for a page that could not be fetched or read: shown, not kept
};

// Stores a batch of rows in one go, then appends them to the window; a pause holds them first.
// Their pages were answered, so a stop does not drop them.
void StoreAndShow(SearchSession& session, const std::vector<PendingRow>& rows);

class Harvest {
public:
    Harvest(SearchSession& session, std::uint32_t seed);

    // Every worker's control follows the session's from now on.
    void Follow(std::vector<std::unique_ptr<Worker>>& workers);
    void Unfollow() { following_ = {}; }

    // The next task, waiting while none can be handed out; nothing once the work is done or
    // the search stopped.
    std::optional<Task> Take();
    void Done(const Task& task);

    // Waits until a request may start now (then takes its slot), or the search is stopped.
    [[nodiscard]] bool AcquireSlot(Worker& worker);
    void Abandon();
    Judgement Judge(const SiteAnswer& answer);

    void CrawlDelayIs(std::chrono::milliseconds delay);
    // The search's first page is known.
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

    [[nodiscard]] bool NoHits() const;
    [[nodiscard]] std::optional<HttpError> UnreachableError() const;

private:
    using Clock = PacingClock;

    // Runs under the session control's lock: mirrors its state and stops every worker's
    // transfers when it is paused or stopped.
    void OnControl(const TransferControl::State& state);
    Text HoldNoticeLocked(Clock::time_point holdEnd, Clock::time_point now) const;

    SearchSession& session_;

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

    WorkQueue work_;
    std::vector<PendingRow> rows_;
    Clock::time_point firstRowAt_{};

    // Last: released first, so that no change reaches a harvest being taken apart.
    TransferControl::Subscription following_;
};

}  // namespace velmora
