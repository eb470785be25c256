#include "leads/LeadList.h"

#include <algorithm>
#include <numeric>
#include <string>
#include <unordered_map>

#include "leads/CompanyKeys.h"
#include "leads/LeadCleaning.h"

namespace velmora {
namespace {

// Rows joined into companies; each company's root is its first row, so that merging in list
// order keeps every cell's first value.
class Companies {
public:
    explicit Companies(std::size_t rows) : parent_(rows) {
        std::iota(parent_.begin(), parent_.end(), std::size_t{0});
    }
    std::size_t FirstRow(std::size_t row) {
        while (parent_[row] != row) {
            parent_[row] = parent_[parent_[row]];  // halves the path as it goes
            row = parent_[row];
        }
        return row;
    }
    void Join(std::size_t a, std::size_t b) {
        const std::size_t first = FirstRow(a);
        const std::size_t second = FirstRow(b);
        if (first < second) {
            parent_[second] = first;
        } else {
            parent_[first] = second;
        }
    }

private:
    std::vector<std::size_t> parent_;
};

}  // namespace

std::vector<Lead> LeadsOf(Frontend& frontend) {
    std::vector<Lead> leads(static_cast<std::size_t>(std::max(frontend.RowCount(), 0)));
    for (std::size_t row = 0; row < leads.size(); ++row) {
        const int index = static_cast<int>(row);
        leads[row].origin = frontend.ReadRowOrigin(index);
        const auto cells = leads[row].row.Columns();
        for (int column = 0; column < kResultColumnCount; ++column) {
            *cells[column] = frontend.ReadCell(index, column);
        }
    }
    return leads;
}

std::vector<Lead> MergeDuplicates(std::vector<Lead> cleaned) {
    Companies companies(cleaned.size());
    std::unordered_map<std::string, std::size_t> firstWithKey;
    firstWithKey.reserve(cleaned.size() * 4);
    for (std::size_t row = 0; row < cleaned.size(); ++row) {
        for (std::string& key : CompanyKeys(cleaned[row].origin.link, cleaned[row].row)) {
            const auto [holder, added] = firstWithKey.try_emplace(std::move(key), row);
            if (!added) companies.Join(holder->second, row);
        }
    }
    std::vector<Lead> merged;
    std::vector<std::size_t> placeOfFirst(cleaned.size());
    for (std::size_t row = 0; row < cleaned.size(); ++row) {
        const std::size_t first = companies.FirstRow(row);
        if (first == row) {
            placeOfFirst[row] = merged.size();
            merged.push_back(std::move(cleaned[row]));
            continue;
        }
        const auto into = merged[placeOfFirst[first]].row.Columns();
        const auto from = cleaned[row].row.Columns();
        for (int column = 0; column < kResultColumnCount; ++column) {
            if (into[column]->empty()) *into[column] = std::move(*from[column]);
        }
    }
    return merged;
}

std::optional<std::vector<Lead>> MakeLeadList(std::vector<Lead> leads,
                                              const LeadListOptions& options,
                                              const LeadHistory& history) {
    if (options.onlyNew) {
        if (!history) return std::nullopt;
        const std::optional<std::vector<bool>> known = history(leads);
        if (!known || known->size() != leads.size()) return std::nullopt;
        std::size_t kept = 0;
        for (std::size_t row = 0; row < leads.size(); ++row) {
            if ((*known)[row]) continue;
            if (kept != row) leads[kept] = std::move(leads[row]);
            ++kept;
        }
        leads.resize(kept);
    }
    if (options.clean || options.merge) {
        for (Lead& lead : leads) lead.row = CleanRow(lead.row);
    }
    if (options.merge) leads = MergeDuplicates(std::move(leads));
    return leads;
}

}  // namespace velmora
