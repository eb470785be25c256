#pragma once
// The serial search: probe the first result page for the page count and the total, walk the
// result pages one by one, gather the company links and hand them to workers in batches
// (CompanyDetail.h), one request at a time.

#include "search/SearchSession.h"
#include "text/Text.h"

namespace velmora {

// A result page whose number is a multiple of this shows the network notice.
inline constexpr int kNoticePeriod = 4;
// Worker threads alive at once. They take turns on workerMutex, so more would only wait; each
// holds a stack, and a page of 100,000 links once started 32,000 of them.
inline constexpr int kMaxWorkerThreads = 64;

// The crawl thread's routine. `keyword` is the search box's text as it was at the start: every
// request of the search and its no-hits message use it, whatever the box holds meanwhile.
// Returns how the search ended: kFinished, kNoHits, kIncomplete (pages could not be fetched:
// the notice field says how many), or kStopped (also when the site could not be reached, so
// that it can be resumed). A resumed search asks only for what its record's listing lacks.
SearchState CrawlListing(SearchSession& session, const Text& keyword);

// Hands every gathered link to a worker of its own, but a link whose row a resumed search has
// stored already, at most kMaxWorkerThreads alive at once (the rest start as running ones end),
// waits for the batch to finish, then joins the workers and empties the lists. dispatchedCount
// is the running sum of links handed out.
void DispatchBatch(SearchSession& session, int& dispatchedCount);

}  // namespace velmora
