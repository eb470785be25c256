#pragma once
// The body of one keyword search: probe the first result page for the page count and the total,
// walk the result pages, gather the company links and hand them to workers in batches.

#include <optional>
#include <string>
#include <vector>

#include "regex/Regex.h"
#include "search/SearchSession.h"
#include "text/CodePage.h"
#include "text/Text.h"

namespace velmora {

class HttpClient;
enum class HttpError;

// Path and fixed query of the company search; the percent-encoded keyword follows.
inline constexpr const char* kSearchPathAndQuery =
    "/search/index.php?_d=company&_a=company_s_search&f=search&terms=";
inline constexpr const char* kPageParameter = "&p=";
// The page-count and total markers are looked for from this 1-based byte position on: the
// site's page chrome comes first.
inline constexpr int kMarkerSearchStart = 10000;
inline constexpr const char* kPageCountMarker = "页次: 1/";
inline constexpr const char* kTotalMarker = "总数: ";
inline constexpr const char* kCountEndMarker = "&nbsp;&nbsp;";
// A result page whose number is a multiple of this shows the network notice.
inline constexpr int kNoticePeriod = 4;
// A page count above this is taken as this: 10,000 pages of 20 companies is far beyond what
// any keyword finds, and a hostile count ("1/2147483648") would keep the crawl asking for ever.
inline constexpr int kMaxPageCount = 10000;
// Result pages past the first that come back without a single company link this many times
// in a row end the listing there, as if the last page: a site that claims more pages than it
// has would otherwise be walked to the claimed end, up to kMaxPageCount pages.
inline constexpr int kMaxEmptyPagesInARow = 5;
// Worker threads alive at once. They take turns on workerMutex, so more would only wait; each
// holds a stack, and a page of 100,000 links once started 32,000 of them.
inline constexpr int kMaxWorkerThreads = 64;

// Group 1 is the company link of one hit on a result page.
const Text& CompanyLinkPattern();

// The keyword (system code page) as UTF-8, each byte percent-encoded with upper-case digits;
// with keepUnreserved, ASCII letters, digits, "-" and "." stay as they are.
Text EncodeKeyword(const Text& keyword, bool keepUnreserved);

// The company links of a result page in page order, repeats included; a link that is empty
// or all blanks is left out, others keep their blanks. `regex` is the crawl's own.
std::vector<Text> CompanyLinksOnPage(Regex& regex, const SystemUtf8& page);
std::vector<Text> CompanyLinksOnPage(Regex& regex, const Text& page);

// The page count of the search's first page, at most kMaxPageCount; nothing when it does not
// read as a number of pages (no marker, no digit, a negative number).
std::optional<int> PageCountOf(const Text& firstPage);

// What the search's first page says of the listing: the page count read off `countPage` and the
// total off `totalPage` (the serial search asks for the page twice, the parallel search once).
// A count that is no number of pages walks no page; it makes the page unread when the page lists
// companies, since a walk of nothing would drop them.
struct FirstPageReading {
    int pageCount = 0;
    Text total;
    bool countUnreadable = false;
};
FirstPageReading ReadFirstPage(Regex& regex, const Text& countPage, const Text& totalPage);

// A result page that was fetched is a listing when it has a company link or the pager that every
// result page carries; anything else stood in its place (a verification page), which is not an
// empty page.
bool IsListing(const std::vector<Text>& links, const SystemUtf8& page);

// siteBaseUrl + the search path and query + the encoded keyword.
Text SearchUrl(const Text& siteBaseUrl, const Text& encodedKeyword);

// companyLinks entry linkIndex (1-based) as listed; an empty link outside the list.
ListedLink LinkAt(SearchSession& session, int linkIndex);

// A page as a GET on the session's client brought it: the body decoded from UTF-8, whatever
// the status (what arrived of it when the request failed partway; empty when no response came
// or a stop ended the transfer), and why the page counts as not fetched, when it does. A page
// answered before a stop came stands.
template <typename Body>
struct Fetched {
    Body body;
    // The request failed (no complete response: refused, reset, timed out, cut short), the
    // site answered 5xx or 429, or its redirects did not end: a few words saying which (UTF-8).
    std::optional<std::string> failure;
    // A stop refused the request or cut its transfer short: nothing came, and nothing failed.
    bool stopped = false;
};
Fetched<Text> FetchText(SearchSession& session, const Text& url);
// The same page kept in UTF-8, for matching.
Fetched<SystemUtf8> FetchPage(SearchSession& session, const Text& url);
// Keeps a page that could not be fetched in the search's record, and counts it.
void NoteFailedPage(SearchSession& session, const FailedPage& failed);
// Why the page `client` has just fetched counts as not fetched: the request failed, the site
// answered 5xx or 429, or a redirect was still asked for when the client's bound on redirects
// (a loop, or a chain past it) ended the chain (a few words, UTF-8); nothing when it was fetched.
std::optional<std::string> FailureOf(const HttpClient& client);
// The search would end as `end`: it is incomplete when pages could not be fetched, and the
// notice field then says how many and that they can be fetched again.
SearchState EndAs(SearchSession& session, SearchState end);
// Ends a search whose site could not be reached at all (`error`, a connect failure): the timer
// stopped, the status and a message saying so. False, doing nothing, once it is stopped.
bool EndUnreachable(SearchSession& session, HttpError error);

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
