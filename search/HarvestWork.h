#pragma once
// The parallel search's work, as plain state (no lock, no thread, no clock): which request comes
// next (robots.txt, the first page, the next result page while few company links wait, else the
// first waiting company in listing order), what a walked result page adds, and when the work is
// done. The harvest holds it under its lock.

#include <deque>
#include <optional>
#include <vector>

#include "journal/Journal.h"
#include "search/CrawlSteps.h"
#include "search/SearchSession.h"
#include "text/Text.h"

namespace velmora {

class SearchRecord;
enum class HttpError;

// Result pages are walked ahead while fewer company links than this wait: enough to keep eight
// workers busy for several result pages' time, few enough that the fetch order stays near the
// listing's.
inline constexpr int kLookAheadLinks = 100;

enum class TaskKind { kRobots, kProbe, kResultPage, kStoredPage, kCompany };

struct Task {
    TaskKind kind = TaskKind::kCompany;
    int page = 0;
    ListedLink listed = {};
};

// What a walked result page did to the listing, for the window.
struct WalkNews {
    int dispatched = 0;
    bool endedByEmptyPages = false;
};

class WorkQueue {
public:
    // `stored` (a resumed search's listing) outlives the queue.
    explicit WorkQueue(const StoredListing& stored);

    // The next task, counted out until Done; nothing while none can be handed out now.
    std::optional<Task> Next();
    void Done(const Task& task);
    // The search's first page (or its stored count and total) is known.
    void ListingKnown(int pageCount, const Text& total);
    // A result page came back (walked: fetched and read) with these links; the links whose rows
    // `record` has stored from before are counted off and not queued.
    WalkNews Walked(int page, const std::vector<Text>& links, bool walked, SearchRecord& record);
    // No connection could be made to the site at all: nothing more is handed out.
    void Unreachable(HttpError error);

    [[nodiscard]] bool Ended() const { return ended_; }
    [[nodiscard]] bool NoHits() const { return noHits_; }
    [[nodiscard]] std::optional<HttpError> UnreachableError() const { return unreachable_; }

private:
    void EndIfDone();

    const StoredListing& stored_;
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
};

}  // namespace velmora
