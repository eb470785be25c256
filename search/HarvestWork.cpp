#include "search/HarvestWork.h"

#include <utility>

#include "search/SearchRecord.h"

namespace velmora {

WorkQueue::WorkQueue(const StoredListing& stored)
    : stored_(stored), probeNeeded_(!stored.pageCount) {
    if (stored.pageCount) {
        pageCount_ = *stored.pageCount;
        total_ = stored.total;
    }
}

std::optional<Task> WorkQueue::Next() {
    if (ended_) return std::nullopt;
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
        task = Task{
            stored_.walkedPages.count(page) != 0 ? TaskKind::kStoredPage : TaskKind::kResultPage,
            page};
    } else if (!companies_.empty()) {
        task = Task{TaskKind::kCompany, 0, std::move(companies_.front())};
        companies_.pop_front();
    }
    if (task) ++tasksOut_;
    return task;
}

void WorkQueue::Done(const Task& task) {
    --tasksOut_;
    if (task.kind == TaskKind::kRobots) robotsDone_ = true;
    if (task.kind == TaskKind::kRobots && !probeNeeded_ && !unreachable_) {
        listingKnown_ = true;
        noHits_ = total_.empty();
    }
    if (task.kind == TaskKind::kResultPage || task.kind == TaskKind::kStoredPage) {
        pageOut_ = false;
    }
    EndIfDone();
}

void WorkQueue::ListingKnown(int pageCount, const Text& total) {
    pageCount_ = pageCount;
    total_ = total;
    listingKnown_ = true;
    noHits_ = total.empty();
    EndIfDone();
}

WalkNews WorkQueue::Walked(int page, const std::vector<Text>& links, bool walked,
                           SearchRecord& record) {
    WalkNews news;
    if (emptyPages_.EndsListing(page, walked, links.empty(), pageCount_)) {
        pageCount_ = page;
        news.endedByEmptyPages = true;
    }
    int position = 0;
    for (const Text& link : links) {
        ListedLink listed{link, {page, ++position}};
        if (!record.TakeStoredLink(listed)) companies_.push_back(std::move(listed));
    }
    dispatched_ += static_cast<int>(links.size());
    news.dispatched = dispatched_;
    return news;
}

void WorkQueue::Unreachable(HttpError error) {
    unreachable_ = error;
    EndIfDone();
}

void WorkQueue::EndIfDone() {
    const bool listingDone = listingKnown_ && !pageOut_ && nextPage_ > pageCount_;
    if (unreachable_ || noHits_ || (listingDone && companies_.empty() && tasksOut_ == 0)) {
        ended_ = true;
    }
}

}  // namespace velmora
