#pragma once
// The serial search's worker: one company page becomes one row of seven texts.

#include "search/SearchSession.h"

namespace velmora {

// A worker thread's routine: fetches companyLinks entry linkIndex (1-based) without the blanks
// before and after it, appends its row and fills it cell by cell, taking its turn on
// workerMutex; a page that could not be fetched or read is kept in the record as failed, its row
// is shown but not stored. A page answered before a stop still gives its row. Lowers
// activeWorkers once, however it ends.
void ExtractCompany(SearchSession& session, int linkIndex);

}  // namespace velmora
