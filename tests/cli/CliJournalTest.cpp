// velmora-cli and the journal: rows kept through a kill, a search resumed, the history, the rows
// of a search, forgetting, a journal that cannot be used, two programs at once. Every run uses
// a journal of its own in a scratch folder.

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "CliRun.h"
#include "SavedCsv.h"
#include "SavedWorkbook.h"
#include "cli/CliWindow.h"
#include "cli/JournalCommands.h"
#include "journal/Journal.h"
#include "platform/ReadOnly.h"
#include "platform/Utf8Path.h"
#include "search/SearchTexts.h"
#include "tests/ScopedVariable.h"
#include "tests/WriteProbe.h"
#include "text/CodePage.h"
#include "text/TextOps.h"
#include "tools/SampleSite.h"
#include "tools/SiteFaults.h"

namespace velmora::cli {
namespace {

namespace fs = std::filesystem;

constexpr const char* kKeyword = "机械";
// velmora-cli's exit status when the journal cannot do what was asked.
constexpr int kExitJournal = 4;
// What standard error says when the journal cannot be used.
const std::string kNotKeptLine =
    "status[" + std::to_string(kJournalField) + "]: " + search_text::kRowsNotKept;

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::vector<std::string> Sorted(std::vector<std::string> lines) {
    std::sort(lines.begin(), lines.end());
    return lines;
}

// 3 pages of 8: the first batch, 16 companies, always completes; the last company is held, so
// the search is still running whenever the kill comes.
constexpr int kPages = 3;
constexpr int kLinksPerPage = 8;
constexpr int kCompanies = kPages * kLinksPerPage;
constexpr int kFirstBatch = 2 * kLinksPerPage;

class CliJournalTest : public ::testing::Test {
protected:
    // Small company pages keep the sanitizer runs quick.
    void StartSite(int pages, int linksPerPage, std::vector<site::FaultRule> faults = {}) {
        site::SiteOptions options;
        options.pages = pages;
        options.linksPerPage = linksPerPage;
        options.companyPageBytes = 3000;
        options.faults = std::move(faults);
        site_ = std::make_unique<site::SampleSite>(options);
        ASSERT_TRUE(site_->Start()) << site_->Error();
    }

    CliRun Run(std::vector<std::string> args, CliSpawn spawn = {}) {
        spawn.environment.push_back("VELMORA_JOURNAL=" + Utf8FromPath(journal_));
        return RunCli(std::move(args), spawn);
    }

    CliRun Search(const std::string& keyword = kKeyword, CliSpawn spawn = {}) {
        return Run({"--site", site_->BaseUrl(), keyword}, std::move(spawn));
    }

    std::vector<std::string> ExpectedRows(int count, const std::string& keyword = kKeyword) {
        std::vector<std::string> rows;
        for (int number = 1; number <= count; ++number) {
            rows.push_back(RowLine(site::GenerateCompany(site::KeywordSeed(keyword), number)));
        }
        return rows;
    }

    // The search's stored rows as velmora-cli prints rows.
    std::vector<std::string> StoredRows(SearchId id) {
        std::vector<std::string> lines;
        for (const StoredRow& stored : Journal(Utf8FromPath(journal_)).Rows(id)) {
            std::string line;
            for (const Text* cell : stored.row.Columns()) {
                line += (line.empty() && cell == &stored.row.companyName ? "" : "\t") +
                        EscapeField(SystemToUtf8(*cell));
            }
            lines.push_back(line);
        }
        return lines;
    }

    // The site of kPages x kLinksPerPage companies whose last company is never answered.
    void StartHeldSite() {
        StartSite(kPages, kLinksPerPage,
                  {{site::FaultKind::Hold, site::FaultScope::Company, {kCompanies}}});
    }

    // Runs a search of the held site and kills it once it has printed a random number of rows
    // of the first batch; its search id and what it printed. `options` go before the keyword.
    std::pair<SearchId, std::vector<std::string>> KilledSearch(
        std::vector<std::string> options = {}) {
        const std::size_t killAfter =
            std::uniform_int_distribution<std::size_t>(1, kFirstBatch)(random_);
        bool killed = false;
        CliSpawn spawn;
        spawn.onOutput = [&](ChildProcess& child, const std::string& out) {
            if (!killed && Lines(out).size() >= killAfter) {
                child.Kill();
                killed = true;
            }
        };
        options.insert(options.end(), {"--site", site_->BaseUrl(), kKeyword});
        const CliRun run = Run(options, spawn);
        EXPECT_TRUE(killed);
        EXPECT_EQ(run.exitCode, -1);
        const std::vector<StoredSearch> history = Journal(Utf8FromPath(journal_)).History();
        return {history.empty() ? 0 : history.back().id, Lines(run.out)};
    }

    test::ScratchFolder folder_;
    std::filesystem::path journal_ = folder_.path() / "journal" / "journal.sqlite3";
    std::unique_ptr<site::SampleSite> site_;
    // The kills come at random moments; a failure names the seed that made them.
    const unsigned seed_ = std::random_device{}();
    const ::testing::ScopedTrace seedTrace_{__FILE__, __LINE__, "seed " + std::to_string(seed_)};
    std::mt19937 random_{seed_};
};

TEST_F(CliJournalTest, EveryRowPrintedBeforeAKillIsKept) {
    StartHeldSite();
    for (int round = 1; round <= 3; ++round) {
        const auto [id, printed] = KilledSearch();
        const std::vector<std::string> stored = StoredRows(id);
        ASSERT_GE(stored.size(), printed.size());
        // One row may have been stored but not yet printed when the kill came.
        EXPECT_LE(stored.size(), printed.size() + 1);
        const std::vector<std::string> keptInOrder = Sorted(stored);
        const std::vector<std::string> printedInOrder = Sorted(printed);
        EXPECT_TRUE(std::includes(keptInOrder.begin(), keptInOrder.end(), printedInOrder.begin(),
                                  printedInOrder.end()));

        const std::vector<std::string> history = Lines(Run({"--history"}).out);
        ASSERT_EQ(history.size(), static_cast<std::size_t>(round));
        EXPECT_NE(history.back().find("\tinterrupted\t" + std::to_string(stored.size()) + "\t"),
                  std::string::npos)
            << history.back();
    }
}

TEST_F(CliJournalTest, ResumeFetchesOnlyTheMissingCompaniesAndEndsWithTheWholeSearch) {
    StartHeldSite();
    const auto [id, printed] = KilledSearch();
    const std::vector<std::string> storedBefore = StoredRows(id);
    site_->ReleaseHeld();

    const std::size_t requestsBefore = site_->Requests().size();
    const CliRun resumed = Run({"--resume", std::to_string(id), "--site", site_->BaseUrl()});
    ASSERT_EQ(resumed.exitCode, 0) << resumed.err;
    const std::vector<std::string> out = Lines(resumed.out);
    ASSERT_GE(out.size(), storedBefore.size());
    EXPECT_EQ(std::vector(out.begin(), out.begin() + storedBefore.size()), storedBefore)
        << "the stored rows come first";
    EXPECT_EQ(Sorted(out), Sorted(ExpectedRows(kCompanies)));
    EXPECT_EQ(Sorted(StoredRows(id)), Sorted(ExpectedRows(kCompanies)));

    // Each company fetched again is one whose row was missing, and only once.
    std::multiset<std::string> fetched;
    const std::vector<site::RecordedRequest> requests = site_->Requests();
    for (std::size_t i = requestsBefore; i < requests.size(); ++i) {
        if (requests[i].target.rfind(std::string(site::kCompanyPath), 0) == 0) {
            fetched.insert(requests[i].target);
        }
    }
    std::multiset<std::string> missing;
    const std::vector<std::string> all = ExpectedRows(kCompanies);
    for (int number = 1; number <= kCompanies; ++number) {
        if (std::find(storedBefore.begin(), storedBefore.end(), all[number - 1]) ==
            storedBefore.end()) {
            missing.insert(site::CompanyTarget(site::KeywordSeed(kKeyword), number));
        }
    }
    EXPECT_EQ(fetched, missing);

    const std::optional<StoredSearch> search = Journal(Utf8FromPath(journal_)).FindSearch(id);
    ASSERT_TRUE(search);
    EXPECT_EQ(search->state, SearchState::kFinished);
    EXPECT_EQ(search->rowCount, kCompanies);
    const CliRun again = Run({"--resume", std::to_string(id)});
    EXPECT_EQ(again.exitCode, kExitJournal) << "a finished search has nothing left to resume";
    EXPECT_EQ(Run({"--resume", "999"}).exitCode, kExitJournal);
}

TEST_F(CliJournalTest, AKilledParallelSearchResumesInParallelWithOnlyWhatIsMissing) {
    StartHeldSite();
    const auto [id, printed] = KilledSearch({"--parallel", "4"});
    const std::vector<std::string> storedBefore = StoredRows(id);
    ASSERT_GE(storedBefore.size(), printed.size());
    site_->ReleaseHeld();

    const std::size_t requestsBefore = site_->Requests().size();
    const CliRun resumed =
        Run({"--resume", std::to_string(id), "--parallel", "4", "--site", site_->BaseUrl()});
    ASSERT_EQ(resumed.exitCode, 0) << resumed.err;
    EXPECT_EQ(Sorted(Lines(resumed.out)), Sorted(ExpectedRows(kCompanies)));
    EXPECT_EQ(Lines(Run({"--rows", std::to_string(id)}).out), ExpectedRows(kCompanies))
        << "in listing order, whatever order they came in";
    std::multiset<std::string> companiesAsked;
    const std::vector<site::RecordedRequest> requests = site_->Requests();
    for (std::size_t i = requestsBefore; i < requests.size(); ++i) {
        if (requests[i].target.rfind(std::string(site::kCompanyPath), 0) == 0) {
            companiesAsked.insert(requests[i].target);
        }
    }
    EXPECT_EQ(companiesAsked.size(), kCompanies - storedBefore.size());
    EXPECT_EQ(std::set<std::string>(companiesAsked.begin(), companiesAsked.end()).size(),
              companiesAsked.size())
        << "each missing company once";
}

TEST_F(CliJournalTest, ParallelGivesTheSerialRowsAndABadValueTheSerialSearch) {
    StartSite(3, 7);
    const CliRun serial = Search();
    const CliRun parallel = Run({"--parallel", "4", "--site", site_->BaseUrl(), kKeyword});
    ASSERT_EQ(parallel.exitCode, 0) << parallel.err;
    EXPECT_EQ(Sorted(Lines(parallel.out)), Sorted(Lines(serial.out)));
    for (const StoredSearch& search : Journal(journal_.string()).History()) {
        EXPECT_EQ(Lines(Run({"--rows", std::to_string(search.id)}).out), ExpectedRows(21));
    }

    site_->ClearRequests();
    const CliRun bad = Run({"--parallel", "9", "--site", site_->BaseUrl(), kKeyword});
    EXPECT_EQ(bad.exitCode, 0) << bad.err;
    const std::vector<std::string> said = Lines(bad.err);
    EXPECT_EQ(std::count(said.begin(), said.end(),
                         "status[3]: --parallel 的值无效：9（应为 1 到 8 的整数）；已改用顺序搜索"),
              1)
        << bad.err;
    const std::vector<site::RecordedRequest> requests = site_->Requests();
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ(requests[0].target, site::SearchTarget(kKeyword)) << "the serial search's requests";
    EXPECT_EQ(requests[1].target, site::SearchTarget(kKeyword));
}

TEST_F(CliJournalTest, PagesThatFailEndTheSearchIncompleteAndAResumeFetchesExactlyThose) {
    // 4 pages of 3: result page 3 (companies 7 to 9) and companies 2 and 11 fail, once each.
    StartSite(
        4, 3,
        {*site::ParseFaultRule("500:page=3:once"), *site::ParseFaultRule("500:company=2:once"),
         *site::ParseFaultRule("429:company=11:once")});
    const CliRun first = Search();
    EXPECT_EQ(first.exitCode, 5) << first.err;
    const std::vector<std::string> said = Lines(first.err);
    EXPECT_NE(std::find(said.begin(), said.end(),
                        "status[3]: 注意：1 个结果页、2 个公司页未能获取，可续抓补齐"),
              said.end())
        << first.err;
    EXPECT_NE(std::find(said.begin(), said.end(), "message: 搜索完毕！"), said.end());
    const std::vector<StoredSearch> history = Journal(Utf8FromPath(journal_)).History();
    ASSERT_EQ(history.size(), 1u);
    const SearchId id = history[0].id;
    EXPECT_EQ(history[0].state, SearchState::kIncomplete);
    std::vector<std::string> kept = ExpectedRows(12);
    for (const int missing : {11, 9, 8, 7, 2}) kept.erase(kept.begin() + missing - 1);
    EXPECT_EQ(StoredRows(id), kept) << "the rows fetched, in listing order";
    EXPECT_NE(Run({"--history"}).out.find("\tincomplete\t7\t"), std::string::npos);

    const std::size_t requestsBefore = site_->Requests().size();
    const CliRun resumed = Run({"--resume", std::to_string(id), "--site", site_->BaseUrl()});
    EXPECT_EQ(resumed.exitCode, 0) << resumed.err;
    std::multiset<std::string> asked;
    const std::vector<site::RecordedRequest> requests = site_->Requests();
    for (std::size_t i = requestsBefore; i < requests.size(); ++i) asked.insert(requests[i].target);
    const std::uint64_t seed = site::KeywordSeed(kKeyword);
    EXPECT_EQ(asked, (std::multiset<std::string>{
                         site::SearchTarget(kKeyword, 3), site::CompanyTarget(seed, 2),
                         site::CompanyTarget(seed, 7), site::CompanyTarget(seed, 8),
                         site::CompanyTarget(seed, 9), site::CompanyTarget(seed, 11)}))
        << "the failed result page with its companies and the failed companies, nothing else";
    EXPECT_EQ(Journal(Utf8FromPath(journal_)).FindSearch(id)->state, SearchState::kFinished);
    EXPECT_EQ(Lines(Run({"--rows", std::to_string(id)}).out), ExpectedRows(12));
}

// Pages that came back but cannot be read as what they stand for: each leaves the search
// incomplete, told and counted, and a resume reads it again. 4 pages of 3; each fault once.
struct UnreadPageCase {
    const char* fault;
    int resultPages;
    int companyPages;
    const char* reason;
};

class UnreadPageTest : public CliJournalTest, public ::testing::WithParamInterface<bool> {};

TEST_P(UnreadPageTest, EndsIncompleteUntilAResumeReadsThePage) {
    const UnreadPageCase cases[] = {
        {"verify:page=1:once", 1, 0, search_text::kNotAListing},
        {"verify:page=2:once", 1, 0, search_text::kNotAListing},
        {"verify:page=4:once", 1, 0, search_text::kNotAListing},
        {"loop:page=0:once", 1, 0, search_text::kTooManyRedirects},
        {"loop:page=3:once", 1, 0, search_text::kTooManyRedirects},
        {"loop:company=5:once", 0, 1, search_text::kTooManyRedirects},
        {"negcount:page=0:once", 1, 0, search_text::kUnreadablePageCount},
        {"overwork:company=4:once", 0, 1, search_text::kCompanyPageTooComplex},
    };
    const std::vector<std::string> mode =
        GetParam() ? std::vector<std::string>{"--parallel", "4"} : std::vector<std::string>{};
    for (const UnreadPageCase& c : cases) {
        SCOPED_TRACE(c.fault);
        StartSite(4, 3, {*site::ParseFaultRule(c.fault)});
        std::vector<std::string> args = mode;
        args.insert(args.end(), {"--site", site_->BaseUrl(), kKeyword});
        const CliRun first = Run(args);
        EXPECT_EQ(first.exitCode, 5) << first.err;
        const std::string notice =
            "status[3]: " + std::string(search_text::kFailedPagesBefore) +
            std::to_string(c.resultPages) + search_text::kFailedResultPagesAfter +
            std::to_string(c.companyPages) + search_text::kFailedCompanyPagesAfter;
        EXPECT_NE(first.err.find(notice), std::string::npos) << first.err;
        Journal journal(Utf8FromPath(journal_));
        ASSERT_FALSE(journal.History().empty());
        const SearchId id = journal.History().back().id;
        EXPECT_EQ(journal.FindSearch(id)->state, SearchState::kIncomplete);
        const std::vector<FailedPage> failed = journal.Listing(id).failedPages;
        ASSERT_EQ(failed.size(), 1u);
        EXPECT_EQ(failed[0].reason, c.reason);

        args = mode;
        args.insert(args.end(), {"--resume", std::to_string(id), "--site", site_->BaseUrl()});
        const CliRun resumed = Run(args);
        EXPECT_EQ(resumed.exitCode, 0) << resumed.err;
        EXPECT_EQ(Journal(Utf8FromPath(journal_)).FindSearch(id)->state, SearchState::kFinished);
        EXPECT_EQ(Lines(Run({"--rows", std::to_string(id)}).out), ExpectedRows(12));
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, UnreadPageTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& parallel) {
                             return std::string(parallel.param ? "Parallel" : "Serial");
                         });

TEST_F(CliJournalTest, HistoryRowsAndForget) {
    StartSite(1, 3);
    const CliRun first = Search();
    const std::string oddKeyword = "钢\t材\x01";
    ASSERT_EQ(Search(oddKeyword).exitCode, 0);
    ASSERT_EQ(Run({"--no-journal", "--site", site_->BaseUrl(), "不留"}).exitCode, 0);

    const std::vector<std::string> history = Lines(Run({"--history"}).out);
    ASSERT_EQ(history.size(), 2u) << "a search run with --no-journal is not kept";
    const std::vector<StoredSearch> stored = Journal(Utf8FromPath(journal_)).History();
    ASSERT_EQ(stored.size(), 2u);
    // The keyword with a tab stays on its line.
    const std::string keywords[] = {kKeyword, EscapeField(oddKeyword)};
    for (std::size_t i = 0; i < stored.size(); ++i) {
        EXPECT_EQ(history[i], std::to_string(stored[i].id) + "\t" +
                                  LocalIsoTime(stored[i].startedMs) + "\tfinished\t3\t" +
                                  keywords[i] + "\t3");
    }
    const std::string firstId = std::to_string(stored[0].id);

    const CliRun rows = Run({"--rows", firstId});
    EXPECT_EQ(rows.exitCode, 0);
    EXPECT_EQ(Lines(rows.out), ExpectedRows(3)) << "in listing order";
    EXPECT_EQ(Sorted(Lines(rows.out)), Sorted(Lines(first.out))) << "the rows the search printed";
    const std::filesystem::path book = folder_.path() / "rows.xlsx";
    const CliRun exported = Run({"--rows", firstId, "--export", Utf8FromPath(book)});
    EXPECT_EQ(exported.exitCode, 0) << exported.err;
    EXPECT_TRUE(exported.out.empty());
    const auto saved = test::ReadSavedWorkbook(book);
    ASSERT_TRUE(saved);
    EXPECT_EQ(SavedRowLines(*saved, 2, 4), ExpectedRows(3));
    EXPECT_EQ(Run({"--rows", "99"}).exitCode, kExitJournal);

    EXPECT_EQ(Run({"--forget", firstId}).exitCode, 0);
    ASSERT_EQ(Lines(Run({"--history"}).out).size(), 1u);
    EXPECT_EQ(Run({"--forget", firstId}).exitCode, kExitJournal) << "gone already";
    EXPECT_EQ(Run({"--forget", "all"}).exitCode, 0);
    EXPECT_TRUE(Run({"--history"}).out.empty());
}

// Names the system's narrow calls cannot spell on Windows: they reach it through the wide calls,
// given on the command line and in the environment.
TEST_F(CliJournalTest, AJournalAndAnExportUnderChineseNamesWork) {
    StartSite(1, 3);
    journal_ = folder_.path() / u8"日志" / u8"记录.sqlite3";
    const std::filesystem::path book = folder_.path() / u8"导出" / u8"全部数据.xlsx";
    std::filesystem::create_directory(book.parent_path());

    const CliRun run = Run({"--site", site_->BaseUrl(), "--export", Utf8FromPath(book), kKeyword});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const auto saved = test::ReadSavedWorkbook(book);
    ASSERT_TRUE(saved);
    EXPECT_EQ(Sorted(SavedRowLines(*saved, 2, 4)), Sorted(Lines(run.out)));

    const std::vector<std::string> history = Lines(Run({"--history"}).out);
    ASSERT_EQ(history.size(), 1u);
    EXPECT_NE(history[0].find(std::string("\tfinished\t3\t") + kKeyword), std::string::npos);
    EXPECT_EQ(Journal(Utf8FromPath(journal_)).History().size(), 1u);
}

TEST_F(CliJournalTest, LeadListsTellTheNewCompaniesOfThreeSearches) {
    StartSite(1, 4);
    // The same keyword finds the same companies: the third search finds nothing new. A search's
    // own rows are not what it compares with, and its lead list comes when it ends.
    ASSERT_EQ(Search().exitCode, 0);
    const auto newOnly = [&](const char* keyword) {
        return Run({"--only-new", "--site", site_->BaseUrl(), keyword});
    };
    EXPECT_EQ(Sorted(Lines(newOnly("五金").out)), Sorted(ExpectedRows(4, "五金")));
    const CliRun again = newOnly(kKeyword);
    EXPECT_EQ(again.exitCode, 0);
    EXPECT_TRUE(again.out.empty());
    const std::vector<StoredSearch> stored = Journal(Utf8FromPath(journal_)).History();
    ASSERT_EQ(stored.size(), 3u);
    std::vector<std::string> newCounts;
    for (const std::string& line : Lines(Run({"--history"}).out)) {
        newCounts.push_back(line.substr(line.rfind('\t') + 1));
    }
    EXPECT_EQ(newCounts, (std::vector<std::string>{"4", "4", "0"}));
    const auto rows = [&](std::size_t search, std::vector<std::string> options) {
        options.insert(options.begin(), {"--rows", std::to_string(stored[search].id)});
        return Run(options);
    };
    EXPECT_EQ(Lines(rows(0, {"--only-new"}).out), ExpectedRows(4));
    const CliRun nothingNew = rows(2, {"--only-new"});
    EXPECT_EQ(nothingNew.exitCode, 0);
    EXPECT_TRUE(nothingNew.out.empty());
    const CliRun unkept = Run({"--no-journal", "--only-new", "--site", site_->BaseUrl(), "五金"});
    EXPECT_EQ(unkept.exitCode, 0);
    EXPECT_TRUE(unkept.out.empty()) << "compared with every kept search";

    // An export of nothing new saves nothing; a cleaned one is CSV by its name.
    const std::filesystem::path csv = folder_.path() / "leads.csv";
    EXPECT_EQ(rows(2, {"--only-new", "--export", Utf8FromPath(csv)}).exitCode, 2);
    EXPECT_FALSE(std::filesystem::exists(csv));
    const CliRun exported = rows(2, {"--dedupe", "--export", Utf8FromPath(csv)});
    ASSERT_EQ(exported.exitCode, 0) << exported.err;
    const auto saved = test::ReadSavedCsv(csv);
    ASSERT_TRUE(saved);
    ASSERT_EQ(saved->records.size(), 5u);
    for (std::size_t i = 0; i < 4; ++i) {
        const site::CompanyRecord company =
            site::GenerateCompany(site::KeywordSeed(kKeyword), i + 1);
        EXPECT_EQ(saved->records[i + 1][0], company.companyName);
        EXPECT_EQ(saved->records[i + 1][5], ToLowerText(company.email)) << "cleaned";
    }
}

TEST_F(CliJournalTest, ASearchGoesOnWhenItsRowsCannotBeKept) {
    constexpr int kRows = 40;
    StartSite(2, kRows / 2);
    struct Case {
        const char* name;
        std::function<void()> spoil;
        ChildLimits limits;
        bool fileUnchanged;
    };
    const fs::path folder = journal_.parent_path();
    // Errors are ignored, for a folder not made yet.
    const auto setReadOnly = [](const fs::path& path, bool readOnly) {
        static_cast<void>(SetReadOnly(path, readOnly));
    };
    // Permissions bind root only as another user.
    ChildLimits asNobody;
    asNobody.unprivileged = true;
    // Files may not grow past 64 KiB: the journal fills up in mid-search.
    ChildLimits smallFiles;
    smallFiles.fileBytes = 64 * 1024;
    const Case cases[] = {
        {"read-only",
         [&] {
             // The other user may enter the folders and read the file.
             for (const fs::path& path : {folder_.path(), folder}) {
                 fs::permissions(path, static_cast<fs::perms>(0755));
             }
             fs::permissions(journal_, static_cast<fs::perms>(0644));
             setReadOnly(journal_, true);
             setReadOnly(folder, true);
         },
         asNobody, true},
        {"corrupt", [&] { std::ofstream(journal_) << std::string(8192, 'Z'); }, {}, true},
        {"full", [] {}, smallFiles, false},
    };
    // What the system cannot do here, each case's reason.
    std::string skipped;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        setReadOnly(folder, false);
        setReadOnly(journal_, false);
        fs::remove_all(folder);
        ASSERT_EQ(Search("前").exitCode, 0);
        c.spoil();
        if (c.limits.unprivileged && test::ChildCanWrite(journal_, c.limits)) {
            skipped += std::string(c.name) + ": " + test::kReadOnlyBindsNothing + "\n";
            continue;
        }
        const std::string before = ReadFile(journal_);

        CliSpawn spawn;
        spawn.limits = c.limits;
        const CliRun run = Search(kKeyword, spawn);
        if (run.startError == ChildStartError::kLimitNotEnforced) {
            skipped += std::string(c.name) + ": " + run.startFailure + "\n";
            continue;
        }
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(Sorted(Lines(run.out)), Sorted(ExpectedRows(kRows)));
        const std::vector<std::string> said = Lines(run.err);
        EXPECT_EQ(std::count(said.begin(), said.end(), kNotKeptLine), 1) << run.err;
        if (c.fileUnchanged) {
            EXPECT_EQ(ReadFile(journal_), before);
        } else {
            Journal journal(Utf8FromPath(journal_));
            EXPECT_EQ(journal.fault(), JournalFault::kNone);
            ASSERT_FALSE(journal.History().empty());
            EXPECT_EQ(journal.History().front().rowCount, kRows) << "the earlier search is whole";
        }
    }
    setReadOnly(folder, false);
    setReadOnly(journal_, false);
    if (!skipped.empty()) GTEST_SKIP() << skipped;
}

TEST_F(CliJournalTest, TwoProgramsAtOnceKeepAllTheirRows) {
    StartSite(2, 10);
    CliRun runs[2];
    std::thread other([&] { runs[1] = Search("钢材"); });
    runs[0] = Search(kKeyword);
    other.join();
    const std::vector<StoredSearch> history = Journal(Utf8FromPath(journal_)).History();
    ASSERT_EQ(history.size(), 2u);
    for (const StoredSearch& search : history) {
        const CliRun& run = runs[SystemToUtf8(search.keyword) == kKeyword ? 0 : 1];
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(search.state, SearchState::kFinished);
        EXPECT_EQ(StoredRows(search.id), ExpectedRows(20, SystemToUtf8(search.keyword)))
            << "every row, in listing order";
        EXPECT_EQ(Sorted(Lines(run.out)), Sorted(StoredRows(search.id)));
        EXPECT_EQ(search.rowCount, 20);
    }
}

TEST(HistoryLineTest, TellsTheStartInLocalTimeWithItsOffset) {
    {
        // POSIX signs, which Windows' C runtime shares: eight hours east of UTC.
        const testing::ScopedVariable zone("TZ", "UTC-8");
        tzset();
        // 2026-12-07 12:48:19.5 UTC
        EXPECT_EQ(LocalIsoTime(1796647699500), "2026-12-07T20:48:19+08:00");
        StoredSearch search;
        search.id = 42;
        search.startedMs = 1796647699500;
        search.state = SearchState::kNoHits;
        search.rowCount = 0;
        search.keyword = Utf8ToSystem("a\nb");
        EXPECT_EQ(HistoryLine(search, 0), "42\t2026-12-07T20:48:19+08:00\tno-hits\t0\ta\\nb\t0");
    }
    tzset();  // the zone as it was
}

}  // namespace
}  // namespace velmora::cli
