#pragma once
// The result list's row: one company as seven texts. Their number and order, the list's columns
// left to right, are stated here and nowhere else.

#include <array>
#include <cstdint>

#include "text/Text.h"

namespace velmora {

// The list's columns, left to right.
enum ResultColumn : int {
    kCompanyNameColumn,
    kContactColumn,
    kTelephoneColumn,
    kMobileColumn,
    kFaxColumn,
    kEmailColumn,
    kAddressColumn,
};
inline constexpr int kResultColumnCount = kAddressColumn + 1;

struct ResultRow {
    Text companyName;
    Text contact;
    Text telephone;
    Text mobile;
    Text fax;
    Text email;
    Text address;

    bool operator==(const ResultRow&) const = default;

    // The fields in column order: Columns()[kMobileColumn] is the mobile number.
    [[nodiscard]] std::array<const Text*, kResultColumnCount> Columns() const {
        return {&companyName, &contact, &telephone, &mobile, &fax, &email, &address};
    }
    [[nodiscard]] std::array<Text*, kResultColumnCount> Columns() {
        return {&companyName, &contact, &telephone, &mobile, &fax, &email, &address};
    }
};

// Where a row of the list came from, kept beside its cells and never shown: the company link it
// was read from, and its search in the journal (0 when the search is not kept). Lead lists merge
// rows of one link and ask the journal what searches before the row's own found.
struct RowOrigin {
    Text link;
    std::int64_t searchId = 0;

    bool operator==(const RowOrigin&) const = default;
};

}  // namespace velmora
