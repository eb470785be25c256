#pragma once
// One company page becomes one row of seven texts.

#include <optional>
#include <string>

#include "results/ResultRow.h"
#include "search/SearchSession.h"
#include "text/CodePage.h"
#include "text/Text.h"

namespace velmora {

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

// Shows the row of a listed company, cell by cell, a pause holding it between cells: in the row
// shown empty for the company when its page could not be read before (a resumed search fills it
// where it stands), else in a row appended to the window's list. A stop does not cut it short:
// the page was answered. With storeInRecord, the search's record stores the row before its last
// cell is written; without, the row is one whose page could not be read, for a resume to fill.
void AppendCompanyRow(SearchSession& session, const ListedLink& listed, const ResultRow& row,
                      bool storeInRecord = true);

// A worker thread's routine: fetches companyLinks entry linkIndex (1-based) without the blanks
// before and after it, appends its row and fills it cell by cell, taking its turn on
// workerMutex; a page that could not be fetched or read is kept in the record as failed, its row
// is shown but not stored. A page answered before a stop still gives its row. Lowers
// activeWorkers once, however it ends.
void ExtractCompany(SearchSession& session, int linkIndex);

}  // namespace velmora
