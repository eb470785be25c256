#pragma once
// The lead list: the list's rows as a sales team takes them into a CRM, cleaned, each company
// once, and, when asked, only the companies no earlier search found. The list itself is never
// changed; a lead list is made from a copy of its rows.

#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "results/ResultRow.h"
#include "results/ResultSink.h"

namespace velmora {

// A row of the list with where it came from.
struct Lead {
    RowOrigin origin;
    ResultRow row;

    bool operator==(const Lead&) const = default;
};

struct LeadListOptions {
    bool clean = false;    // CleanRow
    bool merge = false;    // MergeDuplicates, which cleans too: keys come from cleaned cells
    bool onlyNew = false;  // rows whose company an earlier search holds are left out
};

// The front end's rows with their origins, as they are now.
std::vector<Lead> LeadsOf(ResultSink& frontend);

// Which rows an earlier search already holds: known[i] for leads[i]. "Earlier" is the history's
// to say (the journal: every search started before the row's own). Nothing when the history
// cannot be read.
using LeadHistory = std::function<std::optional<std::vector<bool>>(std::span<const Lead> leads)>;

// The rows cleaned (CleanRow) and those of one company (CompanyKeyHashes: a shared key, and so
// on through every row sharing one) made one: the merged row stands where the company's first
// row stood, with the origin of that row and, in each cell, the first non-empty value of the
// company's rows in list order.
std::vector<Lead> MergeDuplicates(std::vector<Lead> leads);

// The lead list of `leads` (raw rows): only the new ones, when asked (before anything else, so
// that the history sees the rows as it stored them); then cleaned and merged as asked. Nothing
// when only new ones are asked for and the history cannot be read or there is none.
std::optional<std::vector<Lead>> MakeLeadList(std::vector<Lead> leads,
                                              const LeadListOptions& options,
                                              const LeadHistory& history);

}  // namespace velmora
