#pragma once
// What both crawls do alike: fetch a page on a client, tell when it counts as not fetched and
// keep it in the search's record, show and store a company's row, tell the listing's progress,
// and end the search (finished, incomplete, no hits, unreachable).

#include <optional>
#include <string>

#include "results/ResultRow.h"
#include "search/SearchSession.h"
#include "text/CodePage.h"
#include "text/Text.h"

namespace velmora {

class HttpClient;
enum class HttpError;

// Result pages past the first that come back without a single company link this many times
// in a row end the listing there, as if the last page: a site that claims more pages than it
// has would otherwise be walked to the claimed end, up to kMaxPageCount pages.
inline constexpr int kMaxEmptyPagesInARow = 5;
// Result pages past the first that came back without a company link, in a row: at
// kMaxEmptyPagesInARow the listing ends there, as if the last page. A page that could not be
// fetched says nothing of how many pages the site has and leaves the run as it is.
class EmptyPageRun {
public:
    // True when walking `page` (fetched or not, empty or not) ends a listing of pageCount pages
    // before its claimed end.
    bool EndsListing(int page, bool fetched, bool empty, int pageCount);

private:
    int inARow_ = 0;
};

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
// Keeps a page that could not be fetched or read in the search's record, and counts it.
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

// Status field 1: the listing's total as the first page gives it.
void ShowTotal(SearchSession& session, const Text& total);
// Status field 2: the company links handed out so far.
void ShowDispatched(SearchSession& session, int dispatched);
// The notice field: kMaxEmptyPagesInARow empty result pages in a row ended the listing.
void TellEmptyPagesEnd(SearchSession& session);

// Shows the row of a listed company, cell by cell, a pause holding it between cells: in the row
// shown empty for the company when its page could not be read before (a resumed search fills it
// where it stands), else in a row appended to the window's list. A stop does not cut it short:
// the page was answered. With storeInRecord, the search's record stores the row before its last
// cell is written; without, the row is one whose page could not be read, for a resume to fill.
void AppendCompanyRow(SearchSession& session, const ListedLink& listed, const ResultRow& row,
                      bool storeInRecord = true);

// Ends a search whose first page gives no total: the no-hits message for `keyword`, the status
// saying so (the timer runs on), and kNoHits, or kIncomplete when pages could not be fetched.
SearchState EndWithNoHits(SearchSession& session, const Text& keyword);
// Ends a search that walked its listing: the timer stopped, "搜索完毕！", and kFinished, or
// kIncomplete when pages could not be fetched (the notice field says how many).
SearchState EndWalked(SearchSession& session);

}  // namespace velmora
