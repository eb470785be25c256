#pragma once
// The parallel search: the same search as CrawlListing, with its requests spread over a fixed
// pool of workers, each with a connection and HTTP client of its own and one cookie jar between
// them, paced by the site's answers (Pacing.h).
//
// The crawl thread reads robots.txt and probes the first page through the pool like any other
// request, then watches: it tells the notice field how long a pause the site asked for still
// lasts, and ends the search when the pool is done. The workers take work from one queue: the
// next result page while fewer than kLookAheadLinks links wait (one result page at a time, in
// order, so that the listing's rules read as in the serial search), else the first waiting
// company link in listing order. Rows are appended as their pages come; the record keeps each
// row's place in the listing, and failed pages exactly as the serial search does.
//
// Pause and stop reach every worker through the session's control: each worker's client has a
// control of its own, stopped at once when the search is paused or stopped, so that a request
// in flight ends within milliseconds. After a pause the ended requests are asked again.

#include "search/SearchSession.h"

namespace velmora {

// The crawl thread's routine in parallel mode (session.pacing.workers > 1); ends as
// CrawlListing does.
SearchState CrawlInParallel(SearchSession& session, const Text& keyword);

}  // namespace velmora
