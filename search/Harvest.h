#pragma once
// What the parallel search's two threads share: the work (HarvestWork.h), the pacing
// (Pacing.h), the rows waiting to be stored and shown, and the session's pause and stop as the
// request loop must see them. One mutex guards it all; nothing reaches the window or the
// session's control while holding it. The request loop takes work and request slots here; the
// crawl thread watches.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "http/HttpError.h"
#include "http/TransferControl.h"
#include "results/ResultRow.h"
#include "search/HarvestWork.h"
#include "search/Pacing.h"
#include "search/SearchSession.h"

namespace velmora {

// A company's row on its way to the record and the window.
struct PendingRow {
    ListedLink listed;
    ResultRow row;
    bool store = true;  // false for a page that could not be fetched or read: shown, not kept
};

// What the watch stores in one go: the request loop's other journal writes (the probe, walked
// and failed pages) in the order made, then the rows completed meanwhile, which came after them.
struct PendingBatch {
    std::vector<std::function<void()>> writes;
    std::vector<PendingRow> rows;

    [[nodiscard]] bool Empty() const { return writes.empty() && rows.empty(); }
};

// Makes the batch's writes, stores its rows in one go, then appends them to the window; a pause
// holds the rows first. Their pages were answered, so a stop does not drop them.
void StoreAndShow(SearchSession& session, const PendingBatch& batch);

class Harvest {
public:
    Harvest(SearchSession& session, std::uint32_t seed);

    // From now on `wake` is called, on the thread that presses, whenever the session is
    // paused, resumed or stopped.
    void Follow(std::function<void()> wake);
    void Unfollow() { following_ = {}; }

    struct ControlState {
        bool paused = false;
        bool stopped = false;
        // Pauses so far: one pressed and resumed before the loop looked still counts.
        std::uint64_t pauses = 0;
    };
    [[nodiscard]] ControlState Control() const;

    // The next task, when one can be handed out now.
    std::optional<Task> Take();
    void Done(const Task& task);
    [[nodiscard]] bool Ended() const;

    // Takes a request slot when a request may start at `now`, and answers the requests in
    // flight with it; else nothing, and `next` says when one may (nothing: once an answer frees
    // a slot).
    [[nodiscard]] std::optional<int> TryStart(PacingClock::time_point now,
                                              std::optional<PacingClock::time_point>& next);
    // A request ended with nothing the site said: its slot only.
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
    // A journal write of the request loop's, kept off its thread: the watch makes it with the
    // next batch.
    void Record(std::function<void()> write);
    // What still waits, for the last batch.
    PendingBatch TakeBatch();

    // The crawl thread's watch, until the pool's work is done or the search stopped: stores and
    // shows the completed rows in batches, and tells the notice field how long a pause the site
    // asked for still lasts.
    void Watch();

    [[nodiscard]] bool NoHits() const;
    [[nodiscard]] std::optional<HttpError> UnreachableError() const;

private:
    using Clock = PacingClock;

    // Runs under the session control's lock: mirrors its state and wakes the request loop.
    void OnControl(const TransferControl::State& state);
    Text HoldNoticeLocked(Clock::time_point holdEnd, Clock::time_point now) const;

    SearchSession& session_;

    mutable std::mutex mutex_;
    // The crawl thread's watch waits on it.
    std::condition_variable watchNews_;
    std::function<void()> wake_;
    std::uint64_t controlVersion_ = 0;
    bool paused_ = false;
    bool stopped_ = false;
    std::uint64_t pauses_ = 0;

    SitePacing pacing_;
    PacingEvent lastEvent_ = PacingEvent::kNone;
    int events_ = 0;  // pacing events so far, for the watch to tell a new one at once

    WorkQueue work_;
    PendingBatch batch_;
    Clock::time_point batchStartedAt_{};

    // Last: released first, so that no change reaches a harvest being taken apart.
    TransferControl::Subscription following_;
};

}  // namespace velmora
