// Cleaning and merging rows from hostile pages, against what a lead list promises: a cleaned
// cell holds no control character, no blank at either end or twice in a row, no NBSP or
// full-width space; contact cells no full-width ASCII; the e-mail cell no capital; a row with
// keys merges with its own copy into itself cleaned, a row without stays apart.
// Fields: the seven cells (bytes in the system code page), the link.

#include "FuzzInput.h"
#include "leads/CompanyKeys.h"
#include "leads/LeadCleaning.h"
#include "leads/LeadList.h"
#include "leads/Utf8Walk.h"
#include "text/CodePage.h"

using velmora::fuzz::Check;

namespace {

void CheckCleaned(std::string_view utf8, velmora::ResultColumn column) {
    Check(utf8.empty() || (utf8.front() != ' ' && utf8.back() != ' '), "trimmed");
    Check(utf8.find("  ") == std::string_view::npos, "blanks collapsed");
    const bool contact = column >= velmora::kTelephoneColumn && column <= velmora::kEmailColumn;
    for (std::size_t at = 0; at < utf8.size();) {
        const char32_t c = velmora::utf8::Next(utf8, at);
        Check(c >= 0x20 && (c < 0x7F || c > 0x9F), "no control character");
        Check(c != 0xA0 && c != 0x3000, "no NBSP or full-width space");
        Check(!contact || c < 0xFF01 || c > 0xFF5E, "contact cells half-width");
        Check(column != velmora::kEmailColumn || c < 'A' || c > 'Z', "e-mail in lower case");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    velmora::fuzz::FuzzInput input(data, size);
    velmora::Lead lead;
    for (velmora::Text* cell : lead.row.Columns()) *cell = velmora::Text(input.Text());
    lead.origin.link = velmora::Text(input.Text());

    const velmora::ResultRow cleaned = velmora::CleanRow(lead.row);
    for (int column = 0; column < velmora::kResultColumnCount; ++column) {
        CheckCleaned(velmora::SystemToUtf8(*cleaned.Columns()[column]),
                     static_cast<velmora::ResultColumn>(column));
    }
    const bool keyed = !velmora::CompanyKeyHashes(lead.origin.link, lead.row).empty();
    const std::vector<velmora::Lead> merged = velmora::MergeDuplicates({lead, lead});
    Check(merged.size() == (keyed ? 1u : 2u), "a row with keys is one company with its copy");
    Check(merged[0].row == cleaned, "the merged row is the row cleaned");
    return 0;
}
