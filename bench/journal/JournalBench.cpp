// The journal's cost per stored row: one AddRow of a sample-site company (seven cells in the
// system code page and its link) into a journal file in a fresh folder, as a worker stores each
// row it completes. CPU time is the figure that matters; checkpoints are included as they fall.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "journal/Journal.h"
#include "text/CodePage.h"
#include "tools/SiteContent.h"

namespace velmora {
namespace {

// Enough distinct companies that the cells are not one row repeated.
constexpr int kCompanies = 1000;

struct SampleRow {
    Text link;
    ResultRow cells;
};

std::vector<SampleRow> SampleRows() {
    const std::uint64_t seed = site::KeywordSeed("机械");
    std::vector<SampleRow> rows;
    for (int number = 1; number <= kCompanies; ++number) {
        const site::CompanyRecord company = site::GenerateCompany(seed, number);
        rows.push_back({"http://127.0.0.1:8080" + site::CompanyTarget(seed, number),
                        {Utf8ToSystem(company.companyName), Utf8ToSystem(company.contact),
                         Utf8ToSystem(company.telephone), Utf8ToSystem(company.mobile),
                         Utf8ToSystem(company.fax), Utf8ToSystem(company.email),
                         Utf8ToSystem(company.address)}});
    }
    return rows;
}

void BM_AddRow(benchmark::State& state) {
    std::string folder = (std::filesystem::temp_directory_path() / "journal-bench-XXXXXX");
    if (!mkdtemp(folder.data())) {
        state.SkipWithError("no temporary folder");
        return;
    }
    const std::vector<SampleRow> rows = SampleRows();
    {
        Journal journal(folder + "/journal.sqlite3");
        const std::optional<SearchId> search =
            journal.BeginSearch(Utf8ToSystem("机械"), "http://127.0.0.1:8080", SearchOrigin::kCli);
        std::size_t next = 0;
        for (auto _ : state) {
            const SampleRow& row = rows[next++ % rows.size()];
            if (!search || !journal.AddRow(*search, row.link, row.cells)) {
                state.SkipWithError(JournalFaultText(journal.fault()));
                break;
            }
        }
        if (search) static_cast<void>(journal.EndSearch(*search, SearchState::kFinished));
    }
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_AddRow)->Iterations(20000);

}  // namespace
}  // namespace velmora
BENCHMARK_MAIN();
