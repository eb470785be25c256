#pragma once
// One company page becomes one row of seven texts.

#include <array>
#include <optional>

#include "search/SearchSession.h"
#include "text/Text.h"

namespace velmora {

struct ResultRow {
    static constexpr int kColumnCount = 7;

    Text companyName;
    Text contact;
    Text telephone;
    Text mobile;
    Text fax;
    Text email;
    Text address;

    // The fields in the list's column order, 0 to 6.
    [[nodiscard]] std::array<const Text*, kColumnCount> Columns() const {
        return {&companyName, &contact, &telephone, &mobile, &fax, &email, &address};
    }
};

// The contact block of a company page; groups 1 to 7 are the row's fields in column order.
const Text& CompanyDetailPattern();

// The row of the page's first contact block; nothing when the page has none.
std::optional<ResultRow> MatchCompanyPage(const Text& page);

// A worker thread's routine: fetches companyLinks entry linkIndex (1-based), appends its row
// and fills it cell by cell, taking its turn on workerMutex. Lowers activeWorkers once, however
// it ends.
void ExtractCompany(SearchSession& session, int linkIndex);

}  // namespace velmora
