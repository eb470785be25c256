// What a search takes from an arbitrary page: a company row, company links, the page count and
// the total. The input is the page as the client hands it over, in the system code page.

#include "FuzzInput.h"
#include "search/CompanyDetail.h"
#include "search/ListingCrawl.h"
#include "text/CodePage.h"
#include "text/TextOps.h"

using velmora::Text;
using velmora::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Text page(reinterpret_cast<const char*>(data), size);

    const std::optional<velmora::ResultRow> row = velmora::MatchCompanyPage(page);
    if (row) {
        // Undecodable bytes reach the pattern as replacement characters.
        const Text seen = velmora::Utf8ToSystem(velmora::SystemToUtf8(page));
        for (const Text* cell : row->Columns()) {
            Check(cell->size() < seen.size(), "cell within the page");
        }
    }
    velmora::Regex regex;
    for (const Text& link : velmora::CompanyLinksOnPage(regex, page)) {
        Check(!velmora::RemoveSpaces(link).empty(), "no blank link");
    }
    const Text end = velmora::kCountEndMarker;
    static_cast<void>(velmora::ToInteger(velmora::TextBetween(
        page, velmora::Utf8ToSystem(velmora::kPageCountMarker), end, velmora::kMarkerSearchStart)));
    const Text total = velmora::TextBetween(page, velmora::Utf8ToSystem(velmora::kTotalMarker), end,
                                            velmora::kMarkerSearchStart);
    Check(total.size() < size || total.empty(), "total within the page");
    return 0;
}
