// What a search takes from an arbitrary page: a company row, company links, the page count and
// the total. The input is the page as the client hands it over, in the system code page.

#include "FuzzInput.h"
#include "search/DirectoryPages.h"
#include "text/CodePage.h"
#include "text/TextOps.h"

using velmora::Text;
using velmora::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Text page(reinterpret_cast<const char*>(data), size);

    const std::optional<velmora::ResultRow> row = velmora::MatchCompanyPage(page).row;
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
    const velmora::FirstPageReading first = velmora::ReadFirstPage(regex, page, page);
    Check(first.pageCount >= 0 && first.pageCount <= velmora::kMaxPageCount, "page count in range");
    Check(first.total.size() < size || first.total.empty(), "total within the page");
    return 0;
}
