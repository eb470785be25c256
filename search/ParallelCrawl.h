#pragma once
// The parallel search: the same search as CrawlListing, with up to N requests in flight, all
// driven by one thread through one ExchangeLoop (their connections and DNS cache shared, one
// cookie jar between their clients), paced by the site's answers (Pacing.h).
//
// The request loop reads robots.txt and probes the first page like any other request, and takes
// its work from one queue: the next result page while fewer than kLookAheadLinks links wait (one
// result page at a time, in order, so that the listing's rules read as in the serial search),
// else the first waiting company link in listing order. The crawl thread watches: it stores
// and shows the rows in batches, tells the notice field how long a pause the site asked for
// still lasts, and ends the search when the work is done. The record keeps each row's place in
// the listing, and failed pages exactly as the serial search does.
//
// Pause and stop are the loop's to carry out: woken at once, it ends the requests in flight; a
// pause has them asked again once it is over.

#include "search/SearchSession.h"

namespace velmora {

// The crawl thread's routine in parallel mode (session.pacing.workers > 1); ends as
// CrawlListing does.
SearchState CrawlInParallel(SearchSession& session, const Text& keyword);

}  // namespace velmora
