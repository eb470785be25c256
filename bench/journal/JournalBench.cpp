// The journal's costs: one stored row (AddRow of a sample-site company: seven cells in the system
// code page and its link), as a worker stores each row it completes, a whole search's record
// with its fixed part (open, begin, end, close), and the end of a search of 2,500 rows, which
// stores their company keys. CPU time is the figure that matters.
// Then "only new" over a journal of a million rows (BM_OnlyNewOfASearch, BM_KnownRowCounts),
// with every row keyed and with none keyed yet, and a search's end in that journal; run those
// alone with --benchmark_filter='Million'.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
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

// A search of 2,500 rows, as a long search of the sample site stores them; only its end, which
// keys the rows, is timed.
constexpr int kRowsPerSearch = 2500;

void EndSearchOf2500Rows(benchmark::State& state, Journal& journal) {
    const std::vector<SampleRow> rows = SampleRows();
    std::size_t next = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const std::optional<SearchId> search =
            journal.BeginSearch(Utf8ToSystem("机械"), "http://127.0.0.1:8080", SearchOrigin::kCli);
        if (!search || !StoreRows(journal, *search, rows, next, kRowsPerSearch)) {
            state.SkipWithError(JournalFaultText(journal.fault()));
            break;
        }
        state.ResumeTiming();
        if (!journal.EndSearch(*search, SearchState::kFinished)) {
            state.SkipWithError(JournalFaultText(journal.fault()));
            break;
        }
    }
}

// Into a journal that grows search by search from empty.
void BM_EndSearch(benchmark::State& state) {
    const Folder folder;
    Journal journal(folder.Journal());
    EndSearchOf2500Rows(state, journal);
}
BENCHMARK(BM_EndSearch)->Iterations(20)->Unit(benchmark::kMillisecond);

// "Only new" over a journal of 1,000,000 rows: 400 searches of 2,500 sample-site companies, each
// keyword searched twice, so that the later search of a keyword finds nothing new. The journal
// is made once per run with AddRow, as searches make it, which takes a minute or two; what is
// timed is only what --rows ID --only-new and --history ask of it. Made twice: with every
// search ended, so every row keyed, and with every search interrupted, as a journal migrated
// from before keys were kept, whose rows the first question keys.
constexpr int kMillionSearches = 400;

class MillionRowJournal {
public:
    explicit MillionRowJournal(bool ended) {
        Journal journal(folder_.Journal());
        for (int search = 0; search < kMillionSearches && journal.fault() == JournalFault::kNone;
             ++search) {
            const std::string keyword = "关键词" + std::to_string(search / 2);
            const std::uint64_t seed = site::KeywordSeed(keyword);
            const std::optional<SearchId> id = journal.BeginSearch(
                Utf8ToSystem(keyword), "http://127.0.0.1:8080", SearchOrigin::kCli);
            if (!id) break;
            for (int number = 1; number <= kRowsPerSearch; ++number) {
                const site::CompanyRecord c = site::GenerateCompany(seed, number);
                if (!journal.AddRow(
                        *id, "http://127.0.0.1:8080" + site::CompanyTarget(seed, number),
                        {Utf8ToSystem(c.companyName), Utf8ToSystem(c.contact),
                         Utf8ToSystem(c.telephone), Utf8ToSystem(c.mobile), Utf8ToSystem(c.fax),
                         Utf8ToSystem(c.email), Utf8ToSystem(c.address)})) {
                    break;
                }
            }
            if (ended && !journal.EndSearch(*id, SearchState::kFinished)) break;
            searches_.push_back(*id);
        }
    }
    std::string Path() const { return folder_.Journal(); }
    bool Complete() const { return static_cast<int>(searches_.size()) == kMillionSearches; }
    // The search asked about: the last one, whose rows the first search of its keyword holds.
    SearchId LastSearch() const { return searches_.back(); }

private:
    Folder folder_;
    std::vector<SearchId> searches_;
};

MillionRowJournal& KeyedMillion() {
    static MillionRowJournal journal(true);
    return journal;
}

// Left as it was made: each question is asked of a copy.
MillionRowJournal& UnkeyedMillion() {
    static MillionRowJournal journal(false);
    return journal;
}

// --rows ID --only-new: the journal opened, the search's rows read, each asked about.
void OnlyNewOfASearch(benchmark::State& state, const std::string& path, SearchId asked) {
    Journal journal(path);
    std::vector<Lead> leads;
    for (const StoredRow& stored : journal.Rows(asked)) {
        leads.push_back({{stored.link, asked}, stored.row});
    }
    const std::optional<std::vector<bool>> answer = journal.KnownBefore(leads);
    if (!answer) {
        state.SkipWithError(JournalFaultText(journal.fault()));
        return;
    }
    state.counters["journal_rows"] = static_cast<double>(kMillionSearches) * kRowsPerSearch;
    state.counters["known"] = static_cast<double>(std::count(answer->begin(), answer->end(), true));
}

void BM_OnlyNewOfASearchInAMillionRows(benchmark::State& state) {
    MillionRowJournal& million = KeyedMillion();
    if (!million.Complete()) {
        state.SkipWithError("the journal could not be made");
        return;
    }
    for (auto _ : state) OnlyNewOfASearch(state, million.Path(), million.LastSearch());
}
BENCHMARK(BM_OnlyNewOfASearchInAMillionRows)->Unit(benchmark::kMillisecond)->Iterations(5);

// The same question of a journal whose rows have no keys yet: the first question keys them all.
void BM_OnlyNewOfASearchInAMillionRowsNoneKeyed(benchmark::State& state) {
    MillionRowJournal& million = UnkeyedMillion();
    if (!million.Complete()) {
        state.SkipWithError("the journal could not be made");
        return;
    }
    const Folder copies;
    for (auto _ : state) {
        state.PauseTiming();
        std::error_code error;
        std::filesystem::copy_file(million.Path(), copies.Journal(),
                                   std::filesystem::copy_options::overwrite_existing, error);
        if (error) {
            state.SkipWithError(error.message().c_str());
            break;
        }
        state.ResumeTiming();
        OnlyNewOfASearch(state, copies.Journal(), million.LastSearch());
    }
}
BENCHMARK(BM_OnlyNewOfASearchInAMillionRowsNoneKeyed)->Unit(benchmark::kMillisecond)->Iterations(2);

// --history's new rows: every search's known rows counted in one walk.
void BM_KnownRowCountsInAMillionRows(benchmark::State& state) {
    MillionRowJournal& million = KeyedMillion();
    if (!million.Complete()) {
        state.SkipWithError("the journal could not be made");
        return;
    }
    Journal journal(million.Path());
    for (auto _ : state) {
        if (!journal.KnownRowCounts()) {
            state.SkipWithError(JournalFaultText(journal.fault()));
            break;
        }
    }
}
BENCHMARK(BM_KnownRowCountsInAMillionRows)->Unit(benchmark::kMillisecond)->Iterations(3);

// A search's end where the key index is large: after the questions above, since it adds searches.
void BM_EndSearchInAMillionRows(benchmark::State& state) {
    MillionRowJournal& million = KeyedMillion();
    if (!million.Complete()) {
        state.SkipWithError("the journal could not be made");
        return;
    }
    Journal journal(million.Path());
    EndSearchOf2500Rows(state, journal);
}
BENCHMARK(BM_EndSearchInAMillionRows)->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velmora
BENCHMARK_MAIN();
