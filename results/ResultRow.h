#pragma once
// The result list's row: one company as seven texts. Their number and order, the list's columns
// left to right, are stated here and nowhere else.

#include <array>

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
};

}  // namespace velmora
