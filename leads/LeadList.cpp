#include "leads/LeadList.h"

#include <algorithm>
#include <array>
#include <numeric>
#include <string>
#include <utility>

#include "leads/CompanyKeys.h"
#include "leads/LeadCleaning.h"
#include "text/CodePage.h"

namespace velmora {
namespace {

// Room for a row's usual keys: its link, and its name with a telephone, a mobile and an e-mail.
constexpr std::size_t kKeysPerRow = 4;

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

std::vector<Lead> LeadsOf(ResultSink& frontend) {
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

std::vector<Lead> MergeDuplicates(std::vector<Lead> leads) {
    // Every key with its row, sorted by key: the rows of one key stand together.
    std::vector<std::pair<std::uint64_t, std::size_t>> keyed;
    keyed.reserve(leads.size() * kKeysPerRow);
    std::array<std::string, kResultColumnCount> utf8;
    for (std::size_t row = 0; row < leads.size(); ++row) {
        // Cleaned once, in UTF-8, for both the cells and the keys.
        const auto cells = leads[row].row.Columns();
        for (int column = 0; column < kResultColumnCount; ++column) {
            const std::string raw = SystemToUtf8(*cells[column]);
            utf8[column] = CleanCell(raw, static_cast<ResultColumn>(column));
            if (utf8[column] != raw) *cells[column] = Utf8ToSystem(utf8[column]);
        }
        for (const std::uint64_t key :
             CleanCellKeyHashes(leads[row].origin.link, utf8[kCompanyNameColumn],
                                utf8[kTelephoneColumn], utf8[kMobileColumn], utf8[kEmailColumn])) {
            keyed.emplace_back(key, row);
        }
    }
    std::sort(keyed.begin(), keyed.end());
    Companies companies(leads.size());
    for (std::size_t i = 1; i < keyed.size(); ++i) {
        if (keyed[i].first == keyed[i - 1].first) {
            companies.Join(keyed[i - 1].second, keyed[i].second);
        }
    }
    std::vector<Lead> merged;
    std::vector<std::size_t> placeOfFirst(leads.size());
    for (std::size_t row = 0; row < leads.size(); ++row) {
        const std::size_t first = companies.FirstRow(row);
        if (first == row) {
            placeOfFirst[row] = merged.size();
            merged.push_back(std::move(leads[row]));
            continue;
        }
        const auto into = merged[placeOfFirst[first]].row.Columns();
        const auto from = leads[row].row.Columns();
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
    if (options.merge) return MergeDuplicates(std::move(leads));
    if (options.clean) {
        for (Lead& lead : leads) lead.row = CleanRow(lead.row);
    }
    return leads;
}

}  // namespace velmora
