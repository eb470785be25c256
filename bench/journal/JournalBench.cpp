// The journal's costs: one stored row (AddRow of a sample-site company: seven cells in the system
// code page and its link), as a worker stores each row it completes, and a whole search's
// record with its fixed part (open, begin, end, close). CPU time is the figure that matters.

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

// A fresh folder for the journal, removed with it.
class Folder {
public:
    Folder() : path_((std::filesystem::temp_directory_path() / "journal-bench-XXXXXX").string()) {
        if (!mkdtemp(path_.data())) path_.clear();
    }
    ~Folder() {
        if (!path_.empty()) std::filesystem::remove_all(path_);
    }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    std::string Journal() const { return path_ + "/journal.sqlite3"; }
    bool ok() const { return !path_.empty(); }

private:
    std::string path_;
};

// Stores `count` rows in a search of `journal`; false when a row is refused.
bool StoreRows(Journal& journal, SearchId search, const std::vector<SampleRow>& rows,
               std::size_t& next, int count) {
    for (int i = 0; i < count; ++i) {
        const SampleRow& row = rows[next++ % rows.size()];
        if (!journal.AddRow(search, row.link, row.cells)) return false;
    }
    return true;
}

// One row at a time into one search, as a long search stores them. The CPU of the writing thread
// alone, and of the whole process: the latter adds the checkpoints, which the journal's own
// thread makes as the WAL grows.
void BM_AddRow(benchmark::State& state) {
    const Folder folder;
    const std::vector<SampleRow> rows = SampleRows();
    Journal journal(folder.Journal());
    const std::optional<SearchId> search =
        journal.BeginSearch(Utf8ToSystem("机械"), "http://127.0.0.1:8080", SearchOrigin::kCli);
    std::size_t next = 0;
    for (auto _ : state) {
        if (!search || !StoreRows(journal, *search, rows, next, 1)) {
            state.SkipWithError(JournalFaultText(journal.fault()));
            break;
        }
    }
    if (search) static_cast<void>(journal.EndSearch(*search, SearchState::kFinished));
}
BENCHMARK(BM_AddRow)->Iterations(20000);
BENCHMARK(BM_AddRow)->Iterations(20000)->MeasureProcessCPUTime();

// A whole search's record as velmora-cli keeps it: the journal opened, the search begun, its
// rows stored, its end recorded, the journal closed; into a journal that grows run by run.
void BM_SearchRecord(benchmark::State& state) {
    const Folder folder;
    const std::vector<SampleRow> rows = SampleRows();
    std::size_t next = 0;
    for (auto _ : state) {
        Journal journal(folder.Journal());
        const std::optional<SearchId> search =
            journal.BeginSearch(Utf8ToSystem("机械"), "http://127.0.0.1:8080", SearchOrigin::kCli);
        if (!search || !StoreRows(journal, *search, rows, next, static_cast<int>(state.range(0))) ||
            !journal.EndSearch(*search, SearchState::kFinished)) {
            state.SkipWithError(JournalFaultText(journal.fault()));
            break;
        }
    }
}
BENCHMARK(BM_SearchRecord)->Arg(0)->Arg(200)->Iterations(50)->MeasureProcessCPUTime();

}  // namespace
}  // namespace velmora
BENCHMARK_MAIN();
