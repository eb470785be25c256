#pragma once
// What the directory site's pages look like: the search's URLs, the markers a result page is
// read by, the company link pattern, the contact block pattern, and what each reading makes of a
// page. Plain functions of a page's text: no request, no session.

#include <optional>
#include <string>
#include <vector>

#include "regex/Regex.h"
#include "results/ResultRow.h"
#include "text/CodePage.h"
#include "text/Text.h"

namespace velmora {

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
// A page count above this is taken as this: 10,000 pages of 20 companies is far beyond what
// any keyword finds, and a hostile count ("1/2147483648") would keep the crawl asking for ever.
inline constexpr int kMaxPageCount = 10000;

// Group 1 is the company link of one hit on a result page.
const Text& CompanyLinkPattern();

// The keyword (system code page) as UTF-8, each byte percent-encoded with upper-case digits;
// with keepUnreserved, ASCII letters, digits, "-" and "." stay as they are.
Text EncodeKeyword(const Text& keyword, bool keepUnreserved);

// siteBaseUrl + the search path and query + the encoded keyword.
Text SearchUrl(const Text& siteBaseUrl, const Text& encodedKeyword);
// The search URL of result page `page`.
Text ResultPageUrl(const Text& searchUrl, int page);

// The company links of a result page in page order, repeats included; a link that is empty
// or all blanks is left out, others keep their blanks. `regex` is the caller's own.
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

// The contact block of a company page; groups 1 to 7 are the row's fields in column order.
const Text& CompanyDetailPattern();

// What the contact pattern found on a company page: the row of its first contact block, and
// when there is none, whether the pattern engine stopped at its work bound before the page's
// end, so that the page's block is not known to be missing.
struct CompanyPageMatch {
    std::optional<ResultRow> row;
    bool bounded = false;
};
CompanyPageMatch MatchCompanyPage(const SystemUtf8& page);
CompanyPageMatch MatchCompanyPage(const Text& page);

// Why a company page counts as not read: its fetch's failure, else a match the pattern engine
// stopped at its bound (a few words, UTF-8); nothing when its row can be trusted.
std::optional<std::string> CompanyPageFailure(std::optional<std::string> fetchFailure,
                                              const CompanyPageMatch& match);

// A link as it is requested: blanks before and after it are the page's layout, not the URL's.
Text RequestedLink(const Text& link);

}  // namespace velmora
