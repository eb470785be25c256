#pragma once
// One company page becomes one row of seven texts.

#include <optional>

#include "results/ResultRow.h"
#include "search/SearchSession.h"
#include "text/CodePage.h"
#include "text/Text.h"

namespace velmora {

// The contact block of a company page; groups 1 to 7 are the row's fields in column order.
const Text& CompanyDetailPattern();

// The row of the page's first contact block; nothing when the page has none.
std::optional<ResultRow> MatchCompanyPage(const SystemUtf8& page);
std::optional<ResultRow> MatchCompanyPage(const Text& page);

// A link as it is requested: blanks before and after it are the page's layout, not the URL's.
Text RequestedLink(const Text& link);

// Appends the row of a listed company to the window's list and fills it cell by cell, unless
// the search has been stopped (a pause holds it first): no row is begun after a stop, and a stop
// between cells leaves the cells written so far. With storeInRecord, the search's record stores
// the row before its last cell is written; a row a stop cuts short is not stored.
void AppendCompanyRow(SearchSession& session, const ListedLink& listed, const ResultRow& row,
                      bool storeInRecord = true);

// A worker thread's routine: fetches companyLinks entry linkIndex (1-based) without the blanks
// before and after it, appends its row and fills it cell by cell, taking its turn on
// workerMutex; a page that could not be fetched is kept in the record as failed, its row is
// shown but not stored. Lowers activeWorkers once, however it ends.
void ExtractCompany(SearchSession& session, int linkIndex);

}  // namespace velmora
