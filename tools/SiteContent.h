#pragma once
// The sample directory site's pages: result pages of the company search and company pages,
// generated from the keyword alone, so the same keyword always finds the same companies.
// Every page is UTF-8 with CR LF line ends, in the markup the crawl and the extraction read.

#include <cstdint>
#include <string>
#include <string_view>

namespace velmora::site {

// Path and fixed query of the company search; "terms=" takes the percent-encoded keyword and
// "&p=" the page number.
inline constexpr std::string_view kSearchPath = "/search/index.php";
inline constexpr std::string_view kSearchQuery = "_d=company&_a=company_s_search&f=search&terms=";
inline constexpr std::string_view kPageParameter = "&p=";
// Company pages live at kCompanyPath + seed in hex + "/" + number + ".html".
inline constexpr std::string_view kCompanyPath = "/company/";

// Every company of a search has a number up to this, which int holds with room to spare;
// result pages leave out links past it.
inline constexpr int kMaxCompanyNumber = 100'000'000;

// Start markers are found only from this byte on (1-based, counted in the system code page),
// so every result page carries at least this much chrome before its pager.
inline constexpr std::size_t kMarkerSearchStart = 10000;

// One company as a sound extractor reads it off its page: UTF-8, exactly the cell texts.
struct CompanyRecord {
    std::string companyName;
    std::string contact;
    std::string telephone;
    std::string mobile;
    std::string fax;
    std::string email;
    std::string address;
};

// How the e-mail cell of a company page is written.
enum class EmailMarkup {
    Plain,           // the address alone
    Link,            // <a href="mailto:..." target=_blank>address</a>
    AfterLineBreak,  // CR LF, then the address
};

// Departures from the regular markup, which faults ask for; each leaves the other kind of
// page as it is.
enum class Markup {
    Regular,
    Changed,           // result page: no markers and no links in the form the crawl looks for;
                       // company page: the contact block lacks its fax row
    WithoutPageCount,  // result page: the total but no page-count marker
    Short,             // result page: no padding and the pager first, so both markers lie
                       // before kMarkerSearchStart
    TwoBlocks,         // company page: the next company's contact block follows its own
    EndlessCount,      // result page: the pager claims kEndlessPageCount pages
    NegativeCount,     // result page: the pager claims minus the number of pages
    Overwork,          // company page: about 1 MB of contact blocks without their address row
                       // before its own, which no bounded pattern search gets through
    ManyLinks,         // result page: one line per company link and nothing else, so that
                       // 100,000 links make about 10 MB
    ControlBytes,      // result page: the total in bold followed by kTerminalEscapes;
                       // company page: cells as WithControlBytes writes them
};

// What a page count that no crawl should believe looks like: beyond any 32-bit integer.
inline constexpr std::string_view kEndlessPageCount = "99999999999";
// Escape sequences that retitle and recolour a terminal which prints them raw.
inline constexpr std::string_view kTerminalEscapes = "\x1b]0;owned\x07\x1b[31m";

struct ResultPageParams {
    std::string_view keyword;  // UTF-8, as decoded from the request
    int page = 1;              // 1-based; the search URL without a page number is page 1
    int pages = 10;            // 0: nothing found
    int linksPerPage = 20;
    std::string_view baseUrl;  // "http://host:port", prefix of every company link
    Markup markup = Markup::Regular;
};

struct CompanyPageParams {
    std::uint64_t seed = 0;
    int number = 1;  // 1-based over the whole search
    std::size_t minimumBytes = 30000;
    Markup markup = Markup::Regular;
};

std::uint64_t KeywordSeed(std::string_view keyword);
CompanyRecord GenerateCompany(std::uint64_t seed, int number);
// The company with control characters in every cell: C0 ones (NUL, BEL, BS, FF, ESC), DEL and
// C1 ones (U+0085, U+009B), as a hostile page carries them.
CompanyRecord WithControlBytes(CompanyRecord company);
EmailMarkup EmailMarkupOf(std::uint64_t seed, int number);

std::string RenderResultPage(const ResultPageParams& params);
std::string RenderCompanyPage(const CompanyPageParams& params);
std::string RenderNotFoundPage();
// The page of a server-side error, "500 Internal Server Error" or "429 Too Many Requests".
std::string RenderServerErrorPage(int status, std::string_view reason);
// What a site that suspects a robot serves in place of any page: a short page asking for a
// check, with neither markers, links nor a contact block.
std::string RenderVerificationPage();

// Path of company `number` of the keyword whose seed is given.
std::string CompanyTarget(std::uint64_t seed, int number);
// The search URL's path and query for a UTF-8 keyword; page 0 leaves out the page parameter.
// Letters, digits, "-" and "." stay; every other byte becomes %XX with upper-case digits.
std::string SearchTarget(std::string_view keyword, int page = 0);
// Undoes %XX escapes; a "%" without two hex digits after it stays as it is.
std::string PercentDecode(std::string_view text);
// A lower bound of the text's length in the system code page: ASCII counts 1 and every other
// character at least 2, whatever its exact form there.
std::size_t SystemLengthLowerBound(std::string_view utf8);

}  // namespace velmora::site
