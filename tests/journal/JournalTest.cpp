// The journal: what it keeps, how its files are made, running versus interrupted searches,
// resume, forgetting, the window's restore, faults, and two writers at once.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "journal/Checkpointer.h"
#include "journal/Journal.h"
#include "journal/JournalFiles.h"
#include "leads/CompanyKeys.h"
#include "platform/ChildProcess.h"
#include "platform/ReadOnly.h"
#include "platform/ThisProcess.h"
#include "platform/UserDirectories.h"
#include "platform/Utf8Path.h"
#include "tests/ChildMode.h"
#include "tests/ScopedVariable.h"
#include "tests/ScratchFolder.h"
#include "tests/WriteProbe.h"
#include "text/CodePage.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

// Paths here are UTF-8 text, as the journal takes them.
std::string ReadFile(const std::string& path) {
    std::ifstream in(PathFromUtf8(path), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// The permission bits, as chmod takes them; 0 when the file cannot be looked at.
unsigned ModeOf(const std::string& path) {
    std::error_code error;
    const fs::perms perms = fs::status(PathFromUtf8(path), error).permissions();
    return error ? 0 : static_cast<unsigned>(perms & fs::perms::mask);
}

void SetMode(const std::string& path, unsigned mode) {
    fs::permissions(PathFromUtf8(path), static_cast<fs::perms>(mode));
}

// Whether files in `folder` keep permissions for group and others apart from the owner's:
// Windows keeps a read-only attribute alone.
bool FilesKeepModes(const std::string& folder) {
    const std::string probe = folder + "/mode-probe";
    std::ofstream(PathFromUtf8(probe)).close();
    SetMode(probe, 0640);
    const bool kept = ModeOf(probe) == 0640;
    fs::remove(PathFromUtf8(probe));
    return kept;
}

// One number read from the file around the journal, or -1.
std::int64_t StoredNumber(const std::string& path, const char* sql) {
    sqlite3* db = nullptr;
    sqlite3_stmt* select = nullptr;
    std::int64_t number = -1;
    if (sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
        sqlite3_prepare_v2(db, sql, -1, &select, nullptr) == SQLITE_OK &&
        sqlite3_step(select) == SQLITE_ROW) {
        number = sqlite3_column_int64(select, 0);
    }
    sqlite3_finalize(select);
    sqlite3_close(db);
    return number;
}

ResultRow Cells(const std::string& seed) {
    return {seed + "#0", seed + "#1", seed + "#2", seed + "#3",
            seed + "#4", seed + "#5", seed + "#6"};
}

// Nothing can be written, nothing is read.
void ExpectInert(Journal& journal) {
    EXPECT_FALSE(journal.BeginSearch("k", "s", SearchOrigin::kCli));
    EXPECT_TRUE(journal.History().empty());
    EXPECT_EQ(journal.ResumeSearch(1), ResumeOutcome::kFault);
    EXPECT_EQ(journal.ForgetAll().forgotten, 0);
}

// Processes of their own, each given the journal's path first.

// Adds rows to a new search until it is killed, telling "ID ROW" on a line of its own once the
// row's AddRow has returned: every row told of must be stored.
int AddRowsUntilKilled(const std::vector<std::string>& arguments) {
    Journal journal(arguments.at(0));
    const std::optional<SearchId> id =
        journal.BeginSearch("kill", "http://site", SearchOrigin::kCli);
    for (int i = 1; id; ++i) {
        if (!journal.AddRow(*id, "link", Cells(std::to_string(i)))) return 1;
        std::fputs((std::to_string(*id) + " " + std::to_string(i) + "\n").c_str(), stdout);
        std::fflush(stdout);
    }
    return 1;
}
const testing::ChildMode kAddRowsUntilKilled("add-rows-until-killed", AddRowsUntilKilled);

constexpr int kWriterRows = 300;
// Waits at a gate, the end of its standard input, then stores a finished search of
// kWriterRows rows; 0 when every call succeeded.
int WriteAfterTheGate(const std::vector<std::string>& arguments) {
    while (std::fgetc(stdin) != EOF) {
    }
    Journal journal(arguments.at(0));
    const std::optional<SearchId> id = journal.BeginSearch("w", "http://site", SearchOrigin::kCli);
    for (int i = 1; id && i <= kWriterRows; ++i) {
        if (!journal.AddRow(*id, "l", Cells(std::to_string(i)))) return 1;
    }
    return id && journal.EndSearch(*id, SearchState::kFinished) ? 0 : 1;
}
const testing::ChildMode kWriteAfterTheGate("write-after-the-gate", WriteAfterTheGate);

// Opens a journal that must refuse everything and exits with its fault.
int OpenRefused(const std::vector<std::string>& arguments) {
    Journal journal(arguments.at(0));
    ExpectInert(journal);
    return static_cast<int>(journal.fault());
}
const testing::ChildMode kOpenRefused("open-refused", OpenRefused);

// Adds rows of 2000-byte cells to a new search until one fails (its files are limited), and
// exits with the fault the journal latched.
int FillTheDisk(const std::vector<std::string>& arguments) {
    Journal journal(arguments.at(0));
    const std::optional<SearchId> search = journal.BeginSearch("full", "s", SearchOrigin::kCli);
    for (int i = 0; search && i < 100000; ++i) {
        if (!journal.AddRow(*search, "l", Cells(std::string(2000, 'f')))) break;
    }
    const JournalFault latched = journal.fault();
    ExpectInert(journal);
    return static_cast<int>(latched);
}
const testing::ChildMode kFillTheDisk("fill-the-disk", FillTheDisk);

// A row of a company's name and mobile number: a link key and a name-and-number key.
ResultRow NamedRow(const std::string& utf8Name, const Text& mobile) {
    return ResultRow{Utf8ToSystem(utf8Name), "", "", mobile, "", "", ""};
}
ResultRow LiveRowE() {
    return NamedRow("华强电子", "13800000003");
}
ResultRow LiveRowF() {
    return NamedRow("新公司", "13800000006");
}

// A search that stores row "e" once a byte comes on its standard input, tells its id on a line,
// stores "f" when the next byte comes, and ends; 0 when every call succeeded.
int StoreALiveSearch(const std::vector<std::string>& arguments) {
    if (std::fgetc(stdin) == EOF) return 1;
    Journal journal(arguments.at(0));
    const SearchId id = journal.BeginSearch("live", "http://site", SearchOrigin::kCli).value_or(0);
    if (id == 0 || !journal.AddRow(id, "e", LiveRowE())) return 1;
    std::printf("%lld\n", static_cast<long long>(id));
    std::fflush(stdout);
    if (std::fgetc(stdin) == EOF || !journal.AddRow(id, "f", LiveRowF())) return 1;
    return journal.EndSearch(id, SearchState::kFinished) ? 0 : 2;
}
const testing::ChildMode kStoreALiveSearch("store-a-live-search", StoreALiveSearch);

// The child's exit code once it has ended, or -1 when it did not exit.
int ExitCodeOf(ChildProcess& child) {
    const ChildExit exit = child.Wait();
    return exit.exited ? exit.code : -1;
}

class JournalTest : public ::testing::Test {
protected:
    // A search with `rows` rows, ended in `end` (kRunning: left running, and so interrupted
    // once `journal` goes).
    SearchId StoreSearch(Journal& journal, const Text& keyword, int rows, SearchState end,
                         SearchOrigin origin = SearchOrigin::kCli) {
        const std::optional<SearchId> id = journal.BeginSearch(keyword, "http://site", origin);
        EXPECT_TRUE(id) << JournalFaultText(journal.fault());
        if (!id) return 0;
        for (int i = 1; i <= rows; ++i) {
            EXPECT_TRUE(journal.AddRow(*id, "link" + std::to_string(i), Cells(keyword)));
        }
        if (end != SearchState::kRunning) {
            EXPECT_TRUE(journal.EndSearch(*id, end));
        }
        return *id;
    }

    SearchState StateOf(Journal& journal, SearchId id) {
        const std::optional<StoredSearch> search = journal.FindSearch(id);
        EXPECT_TRUE(search);
        return search ? search->state : SearchState::kRunning;
    }

    test::ScratchFolder scratch_{"journal-test"};
    std::string folder_ = Utf8FromPath(scratch_.path());
    std::string path_ = folder_ + "/journal.sqlite3";
};

TEST(JournalPathTest, TheVariableElseTheUsersDataFolder) {
    // Absolute on every system; never made.
    const std::filesystem::path data = fs::temp_directory_path() / PathFromUtf8("数据");
    const testing::ScopedVariable dataFolder(kDataFolderVariable, Utf8FromPath(data).c_str());
    const std::string inData = Utf8FromPath(data / "velmora" / "journal.sqlite3");
    const std::string named = Utf8FromPath(data / PathFromUtf8("日志.db"));
    struct Case {
        const char* journal;  // nullptr: unset
        std::string expected;
    };
    const Case cases[] = {{named.c_str(), named}, {"", inData}, {nullptr, inData}};
    for (const Case& c : cases) {
        const testing::ScopedVariable journal(kJournalVariable, c.journal);
        EXPECT_EQ(JournalPath(), c.expected) << (c.journal ? c.journal : "(unset)");
    }
}

TEST_F(JournalTest, KeepsEverySearchAndRowByteForByte) {
    Text everyByte;
    for (int byte = 0; byte < 256; ++byte) everyByte += static_cast<char>(byte);
    const Text keyword = Text("\xBB\xFA\0\xD0\xB5\n", 6);  // GB18030 with a NUL and a line end
    const ResultRow row{everyByte, "", Text(1 << 20, 'x'), "\t", "\xFF\xFE", "a\r\nb", ""};
    SearchId id = 0;
    {
        Journal journal(path_);
        ASSERT_EQ(journal.fault(), JournalFault::kNone);
        id = *journal.BeginSearch(keyword, "http://127.0.0.1:1", SearchOrigin::kWindow);
        ASSERT_TRUE(journal.AddRow(id, "b", row));
        ASSERT_TRUE(journal.AddRow(id, "a", Cells("second")));
        ASSERT_TRUE(journal.AddRow(id, "b", Cells("third")));
        ASSERT_TRUE(journal.EndSearch(id, SearchState::kFinished));
        EXPECT_FALSE(journal.AddRow(id, "c", row)) << "an ended search takes no rows";
    }
    Journal journal(path_);
    const std::vector<StoredSearch> history = journal.History();
    ASSERT_EQ(history.size(), 1u);
    const StoredSearch& search = history[0];
    EXPECT_EQ(search.id, id);
    EXPECT_EQ(search.keyword, keyword);
    EXPECT_EQ(search.site, "http://127.0.0.1:1");
    EXPECT_EQ(search.origin, SearchOrigin::kWindow);
    EXPECT_EQ(search.pid, ProcessId());
    EXPECT_EQ(search.state, SearchState::kFinished);
    EXPECT_EQ(search.rowCount, 3);
    ASSERT_TRUE(search.endedMs);
    EXPECT_GE(*search.endedMs, search.startedMs);

    const std::vector<StoredRow> rows = journal.Rows(id);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].link, "b");
    EXPECT_EQ(rows[0].row, row);
    EXPECT_EQ(rows[1].row, Cells("second"));
    EXPECT_EQ(rows[2].row, Cells("third"));
    EXPECT_TRUE(journal.Rows(id + 1).empty());
    EXPECT_FALSE(journal.FindSearch(id + 1));
}

TEST_F(JournalTest, MakesItsFilesPrivate) {
    if (!FilesKeepModes(folder_)) {
        GTEST_SKIP() << "files here keep no permissions for group and others apart from the "
                        "owner's, so no file mode makes them private";
    }
    const std::string nested = folder_ + "/a/b/journal.sqlite3";
    {
        Journal journal(nested);
        ASSERT_EQ(journal.fault(), JournalFault::kNone);
        StoreSearch(journal, "k", 1, SearchState::kRunning);
        for (const std::string& folder : {folder_ + "/a", folder_ + "/a/b"}) {
            EXPECT_EQ(ModeOf(folder), 0700u) << folder;
        }
        for (const char* suffix : {"", "-wal", "-shm", "-running"}) {
            EXPECT_EQ(ModeOf(nested + suffix), 0600u) << suffix;
        }
    }
    // A file made by someone else loses the group's and others' permissions; its folder, which
    // we did not make, stays as it is.
    SetMode(folder_, 0755);
    std::ofstream(PathFromUtf8(path_)).close();
    SetMode(path_, 0644);
    Journal journal(path_);
    EXPECT_EQ(journal.fault(), JournalFault::kNone);
    EXPECT_EQ(ModeOf(path_), 0600u);
    EXPECT_EQ(ModeOf(folder_), 0755u);
}

TEST_F(JournalTest, ASearchRunsWhileItsHolderLives) {
    Journal reader(path_);
    SearchId abandoned = 0;
    {
        Journal other(path_);
        const SearchId held = StoreSearch(other, "held", 1, SearchState::kRunning);
        EXPECT_EQ(StateOf(other, held), SearchState::kRunning);
        EXPECT_EQ(StateOf(reader, held), SearchState::kRunning) << "held by another opening";
        abandoned = held;
    }
    EXPECT_EQ(StateOf(reader, abandoned), SearchState::kInterrupted);

    // A process id that lives again is no sign of life: here the stored one is ours.
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(path_.c_str(), &raw), SQLITE_OK);
    const std::string sql = "UPDATE search SET pid = " + std::to_string(ProcessId());
    EXPECT_EQ(sqlite3_exec(raw, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(raw);
    EXPECT_EQ(StateOf(reader, abandoned), SearchState::kInterrupted);

    for (const SearchState end :
         {SearchState::kFinished, SearchState::kNoHits, SearchState::kStopped}) {
        const SearchId id = StoreSearch(reader, "k", 0, end);
        EXPECT_EQ(StateOf(reader, id), end) << SearchStateName(end);
    }
}

TEST_F(JournalTest, RowsStoredBeforeAKillSurviveIt) {
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    for (int round = 0; round < 3; ++round) {
        ChildProcess child;
        ChildOptions options;
        options.output = ChildStream::kPipe;
        ASSERT_TRUE(kAddRowsUntilKilled.Start(child, {path_}, options)) << child.error();
        const int killAfter = std::uniform_int_distribution<int>(1, 200)(random);
        SearchId id = 0;
        int told = 0;
        std::string lines;
        while (told < killAfter) {
            const std::optional<ChildOutput> output = child.ReadOutput();
            ASSERT_TRUE(output && !output->bytes.empty()) << "it ended after " << told << " rows";
            lines += output->bytes;
            for (std::size_t end; told < killAfter && (end = lines.find('\n')) != lines.npos;
                 lines.erase(0, end + 1)) {
                std::istringstream(lines.substr(0, end)) >> id >> told;
            }
        }
        child.Kill();
        EXPECT_FALSE(child.Wait().exited);

        Journal journal(path_);
        const std::vector<StoredRow> rows = journal.Rows(id);
        ASSERT_GE(rows.size(), static_cast<std::size_t>(told));
        for (std::size_t i = 0; i < rows.size(); ++i) {
            EXPECT_EQ(rows[i].row, Cells(std::to_string(i + 1)));
        }
        EXPECT_EQ(StateOf(journal, id), SearchState::kInterrupted);
    }
}

TEST_F(JournalTest, ResumeGoesOnAfterTheStoredRows) {
    Journal journal(path_);
    const SearchId stopped = StoreSearch(journal, "stopped", 2, SearchState::kStopped);
    const SearchId finished = StoreSearch(journal, "finished", 1, SearchState::kFinished);
    const SearchId noHits = StoreSearch(journal, "none", 0, SearchState::kNoHits);
    EXPECT_EQ(journal.ResumeSearch(finished), ResumeOutcome::kNotResumable);
    EXPECT_EQ(journal.ResumeSearch(noHits), ResumeOutcome::kNotResumable);
    EXPECT_EQ(journal.ResumeSearch(noHits + 100), ResumeOutcome::kNoSuchSearch);

    ASSERT_EQ(journal.ResumeSearch(stopped), ResumeOutcome::kResumed);
    EXPECT_EQ(journal.ResumeSearch(stopped), ResumeOutcome::kRunning);
    EXPECT_EQ(StateOf(journal, stopped), SearchState::kRunning);
    EXPECT_FALSE(journal.FindSearch(stopped)->endedMs);
    ASSERT_TRUE(journal.AddRow(stopped, "new", Cells("new")));
    {
        Journal other(path_);
        EXPECT_EQ(other.ResumeSearch(stopped), ResumeOutcome::kRunning);
    }
    ASSERT_TRUE(journal.EndSearch(stopped, SearchState::kFinished));
    const std::vector<StoredRow> rows = journal.Rows(stopped);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[2].link, "new");

    SearchId interrupted = 0;
    {
        Journal other(path_);
        interrupted = StoreSearch(other, "cut", 1, SearchState::kRunning);
    }
    Journal window(path_);
    ASSERT_EQ(journal.ResumeSearch(interrupted), ResumeOutcome::kResumed);
    EXPECT_EQ(StateOf(window, interrupted), SearchState::kRunning);
}

TEST_F(JournalTest, KeepsWhatASearchWalkedAndFailedUntilAResumeFetchesIt) {
    const FailedPage failedResultPage{{3, 0}, "http://site/p3", "网站回应 500"};
    const FailedPage failedCompany{{1, 2}, "b", "连接中断"};
    SearchId id = 0;
    {
        Journal journal(path_);
        id = *journal.BeginSearch("k", "http://site", SearchOrigin::kCli);
        ASSERT_TRUE(journal.RecordProbe(id, 4, "80"));
        ASSERT_TRUE(journal.RecordWalkedPage(id, 1, {"a", "b"}));
        ASSERT_TRUE(journal.RecordWalkedPage(id, 2, {}));
        ASSERT_TRUE(journal.RecordFailedPage(id, failedResultPage));
        ASSERT_TRUE(journal.RecordFailedPage(id, failedCompany));
        ASSERT_TRUE(journal.AddRow(id, "a", Cells("a"), {1, 1}));
        ASSERT_TRUE(journal.EndSearch(id, SearchState::kIncomplete));
        EXPECT_FALSE(journal.RecordWalkedPage(id, 4, {})) << "an ended search takes nothing";
    }
    Journal journal(path_);
    EXPECT_EQ(StateOf(journal, id), SearchState::kIncomplete);
    EXPECT_EQ(journal.LatestResumableSearch()->id, id);
    StoredListing listing = journal.Listing(id);
    EXPECT_EQ(listing.pageCount, 4);
    EXPECT_EQ(listing.total, "80");
    EXPECT_EQ(listing.walkedPages, (std::map<int, std::vector<Text>>{{1, {"a", "b"}}, {2, {}}}));
    EXPECT_EQ(listing.failedPages, (std::vector<FailedPage>{failedCompany, failedResultPage}))
        << "in listing order";

    // The resume fetches the failed pages; what it stores in their places clears them.
    ASSERT_EQ(journal.ResumeSearch(id), ResumeOutcome::kResumed);
    ASSERT_TRUE(journal.RecordWalkedPage(id, 3, {"c"}));
    ASSERT_TRUE(journal.AddRow(id, "c", Cells("c"), {3, 1}));
    ASSERT_TRUE(journal.AddRow(id, "b", Cells("b"), {1, 2}));
    EXPECT_TRUE(journal.Listing(id).failedPages.empty());
    ASSERT_TRUE(journal.EndSearch(id, SearchState::kFinished));
    EXPECT_FALSE(journal.LatestResumableSearch());
    std::vector<Text> links;
    for (const StoredRow& row : journal.Rows(id)) links.push_back(row.link);
    EXPECT_EQ(links, (std::vector<Text>{"a", "b", "c"})) << "listing order, not stored order";

    ASSERT_EQ(journal.Forget(id).forgotten, 1);
    listing = journal.Listing(id);
    EXPECT_FALSE(listing.pageCount);
    EXPECT_TRUE(listing.walkedPages.empty());
}

TEST_F(JournalTest, BringsAJournalOfTheFirstSchemaUpToDate) {
    // The first schema as it was written, with two searches of which the later one is forgotten.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path_.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, R"sql(
        CREATE TABLE search (
            id INTEGER PRIMARY KEY AUTOINCREMENT, keyword BLOB NOT NULL, site BLOB NOT NULL,
            origin TEXT NOT NULL CHECK (origin IN ('window', 'cli')), pid INTEGER NOT NULL,
            started_ms INTEGER NOT NULL, ended_ms INTEGER,
            state TEXT NOT NULL CHECK (state IN ('running', 'finished', 'no-hits', 'stopped')),
            closed_after_restore INTEGER NOT NULL DEFAULT 0);
        CREATE TABLE result_row (
            key INTEGER PRIMARY KEY, link BLOB NOT NULL, company_name BLOB NOT NULL,
            contact BLOB NOT NULL, telephone BLOB NOT NULL, mobile BLOB NOT NULL,
            fax BLOB NOT NULL, email BLOB NOT NULL, address BLOB NOT NULL);
        INSERT INTO search VALUES (1, 'old', 'http://site', 'cli', 1, 5, 6, 'stopped', 0);
        INSERT INTO search VALUES (2, 'gone', 'http://site', 'cli', 1, 7, 8, 'finished', 0);
        DELETE FROM search WHERE id = 2;
        INSERT INTO result_row VALUES (4294967297, 'x', 'n', 'c', 't', 'm', 'f', 'e', 'a');
        PRAGMA user_version = 1;
        PRAGMA application_id = 1447841098;)sql",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);

    Journal journal(path_);
    ASSERT_EQ(journal.fault(), JournalFault::kNone);
    EXPECT_EQ(StateOf(journal, 1), SearchState::kStopped);
    ASSERT_EQ(journal.Rows(1).size(), 1u);
    EXPECT_EQ(journal.Rows(1)[0].place, ListingPlace{}) << "kept before places were";
    EXPECT_EQ(StoreSearch(journal, "new", 0, SearchState::kIncomplete), 3)
        << "a forgotten search's id is not given again";
    EXPECT_EQ(StateOf(journal, 3), SearchState::kIncomplete);
    EXPECT_EQ(StoredNumber(path_, "SELECT count(*) FROM company_key"), 0)
        << "the stored rows are keyed when first needed, not while every program waits";
    const Lead sameLink{{"x", 3}, {}};
    EXPECT_EQ(journal.KnownBefore({&sameLink, 1}), std::vector<bool>{true})
        << "the stored row's keys were made";
}

TEST_F(JournalTest, TellsWhichCompaniesTheSearchesStartedBeforeARowsOwnHold) {
    Journal journal(path_);
    const auto search = [&](const std::vector<std::pair<Text, Text>>& linksAndNames) {
        const SearchId id = *journal.BeginSearch("k", "http://site", SearchOrigin::kCli);
        for (const auto& [link, name] : linksAndNames) {
            // The same mobile for all: only a shared name key joins it to another row.
            EXPECT_TRUE(journal.AddRow(id, link, {name, "", "", "13800001234", "", "", ""}));
        }
        EXPECT_TRUE(journal.EndSearch(id, SearchState::kFinished));
        return id;
    };
    const auto knownOf = [&](SearchId id) {
        std::vector<Lead> leads;
        for (const StoredRow& stored : journal.Rows(id))
            leads.push_back({{stored.link, id}, stored.row});
        return journal.KnownBefore(leads).value_or(std::vector<bool>{});
    };
    // The second search lists the first's "a2" again; the third finds the first's company by
    // name and mobile, the second's "b2" by its link, and one of its own.
    const SearchId a = search({{"a1", "hongda co"}, {"a2", "x"}});
    const SearchId b = search({{"a2", "y"}, {"b2", "z"}});
    const SearchId c = search({{"c1", "HONGDA"}, {"b2", "w"}, {"c3", "v"}});
    EXPECT_EQ(knownOf(a), (std::vector<bool>{false, false}));
    EXPECT_EQ(knownOf(b), (std::vector<bool>{true, false}));
    EXPECT_EQ(knownOf(c), (std::vector<bool>{true, true, false}));
    EXPECT_EQ(journal.KnownRowCounts(), (std::map<SearchId, std::int64_t>{{b, 1}, {c, 2}}));
    const std::vector<Lead> ofNoSearch = {{{"c3", 0}, {}}, {{"d1", 0}, {}}};
    EXPECT_EQ(journal.KnownBefore(ofNoSearch), (std::vector<bool>{true, false}))
        << "compared with every search";

    // "Before" is the start, not the id: the first search, started last, holds nothing new.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path_.c_str(), &db), SQLITE_OK);
    const std::string later =
        "UPDATE search SET started_ms = started_ms + 60000 WHERE id = " + std::to_string(a);
    ASSERT_EQ(sqlite3_exec(db, later.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    EXPECT_EQ(knownOf(a), (std::vector<bool>{true, true}));
    EXPECT_EQ(knownOf(b), (std::vector<bool>{false, false}));
    EXPECT_EQ(journal.KnownRowCounts(), (std::map<SearchId, std::int64_t>{{a, 2}, {c, 1}}));

    // A forgotten search's keys go with it.
    ASSERT_EQ(journal.Forget(b).forgotten, 1);
    EXPECT_EQ(knownOf(c), (std::vector<bool>{false, false, false}));
    EXPECT_EQ(journal.KnownRowCounts(), (std::map<SearchId, std::int64_t>{{a, 1}}));
}

TEST_F(JournalTest, KeysEachRowOnceAtItsSearchsEndOrWhenAQuestionFirstNeedsIt) {
    const ResultRow e = LiveRowE();
    const ResultRow f = LiveRowF();
    const auto lead = [](const Text& link) { return Lead{{link, 0}, {}}; };
    std::size_t keysOfRowsStored = 0;
    const auto add = [&](Journal& journal, SearchId id, const Text& link, const ResultRow& cells) {
        keysOfRowsStored += CompanyKeyHashes(link, cells).size();
        return journal.AddRow(id, link, cells);
    };
    const auto keysInTheFile = [&] {
        return static_cast<std::size_t>(StoredNumber(path_, "SELECT count(*) FROM company_key"));
    };

    // A search run by another program, which stores "e" (the company of "c" below), waits while
    // it is asked about, then stores "f" and ends.
    ChildOptions piped;
    piped.input = ChildStream::kPipe;
    piped.output = ChildStream::kPipe;
    ChildProcess other;
    ASSERT_TRUE(kStoreALiveSearch.Start(other, {path_}, piped)) << other.error();

    Journal journal(path_);
    const SearchId ended = *journal.BeginSearch("ended", "http://site", SearchOrigin::kCli);
    ASSERT_TRUE(add(journal, ended, "a", NamedRow("宏达机械有限公司", "13800000001")));
    ASSERT_TRUE(add(journal, ended, "b", NamedRow("恒信五金", "13800000002")));
    ASSERT_TRUE(journal.EndSearch(ended, SearchState::kFinished));
    EXPECT_EQ(keysInTheFile(), keysOfRowsStored) << "keyed at the end";
    const std::vector<Lead> afterTheEnd = {lead("a"), lead("d")};
    EXPECT_EQ(JournalHistory(path_)(afterTheEnd), (std::vector<bool>{true, false}));

    // Interrupted: its program went without ending it, so no end keyed its rows.
    SearchId cut = 0;
    {
        Journal gone(path_);
        cut = *gone.BeginSearch("cut", "http://site", SearchOrigin::kCli);
        ASSERT_TRUE(add(gone, cut, "c", NamedRow("华强电子", "13800000003")));
        ASSERT_TRUE(add(gone, cut, "d", NamedRow("宏达机械（杭州）有限公司", "13800000001")));
    }
    ASSERT_TRUE(other.WriteInput("g"));
    std::string told;
    while (told.find('\n') == told.npos) {
        const std::optional<ChildOutput> output = other.ReadOutput();
        ASSERT_TRUE(output && !output->bytes.empty()) << "it ended: " << told;
        told += output->bytes;
    }
    const SearchId live = std::stoll(told);
    keysOfRowsStored += CompanyKeyHashes("e", e).size();
    EXPECT_EQ(StateOf(journal, live), SearchState::kRunning);
    const std::vector<Lead> whileLive = {lead("c"), lead("d"), lead("e"), lead("f")};
    EXPECT_EQ(journal.KnownBefore(whileLive), (std::vector<bool>{true, true, true, false}));
    EXPECT_EQ(keysInTheFile(), keysOfRowsStored) << "the interrupted and the running search's";

    // The other program keys only "f" at its end: a row keyed twice would fail it.
    keysOfRowsStored += CompanyKeyHashes("f", f).size();
    ASSERT_TRUE(other.WriteInput("g"));
    EXPECT_EQ(ExitCodeOf(other), 0);
    // A resumed search goes on after its keyed rows.
    ASSERT_EQ(journal.ResumeSearch(cut), ResumeOutcome::kResumed);
    ASSERT_TRUE(add(journal, cut, "b", NamedRow("", "")));
    ASSERT_TRUE(journal.EndSearch(cut, SearchState::kFinished));
    EXPECT_EQ(keysInTheFile(), keysOfRowsStored);
    EXPECT_EQ(StoredNumber(path_, "SELECT count(DISTINCT row_key) FROM company_key"), 7);
    EXPECT_EQ(journal.KnownBefore(whileLive), (std::vector<bool>{true, true, true, true}));
    // "d" is "a"'s company and "b" is "b"; "e" is "c"'s.
    EXPECT_EQ(journal.KnownRowCounts(), (std::map<SearchId, std::int64_t>{{cut, 2}, {live, 1}}));

    ASSERT_EQ(journal.Forget(live).forgotten, 1);
    EXPECT_EQ(keysInTheFile(),
              keysOfRowsStored - CompanyKeyHashes("e", e).size() - CompanyKeyHashes("f", f).size())
        << "a forgotten search's keys go with it";
}

TEST_F(JournalTest, ForgetsSearchesAndWipesTheirBytes) {
    const Text secret = "secret-contact-13800138000";
    Journal journal(path_);
    const SearchId first = StoreSearch(journal, secret, 3, SearchState::kFinished);
    StoreSearch(journal, "second", 1, SearchState::kStopped);
    Journal other(path_);
    const SearchId running = StoreSearch(other, "running", 1, SearchState::kRunning);

    EXPECT_EQ(journal.Forget(first).forgotten, 1);
    EXPECT_FALSE(journal.FindSearch(first));
    EXPECT_TRUE(journal.Rows(first).empty());
    const std::string bytes = ReadFile(path_) + ReadFile(path_ + "-wal");
    EXPECT_EQ(bytes.find(secret), std::string::npos) << "forgotten bytes stay in the file";

    EXPECT_EQ(journal.Forget(first).forgotten, 0);
    const ForgetResult all = journal.ForgetAll();
    EXPECT_EQ(all.forgotten, 1);
    EXPECT_EQ(all.keptRunning, 1);
    ASSERT_EQ(journal.History().size(), 1u);
    EXPECT_EQ(journal.History()[0].id, running);
}

TEST_F(JournalTest, RestoresTheWindowsLastSearchOnlyWhenItWasInterrupted) {
    SearchId cut = 0;
    {
        Journal window(path_);
        StoreSearch(window, "earlier", 1, SearchState::kRunning, SearchOrigin::kWindow);
        cut = StoreSearch(window, "cut", 2, SearchState::kRunning, SearchOrigin::kWindow);
    }
    Journal journal(path_);
    StoreSearch(journal, "cli", 0, SearchState::kRunning);  // the command line's own: no matter
    EXPECT_EQ(journal.SearchToRestore(), cut);
    ASSERT_TRUE(journal.MarkClosedAfterRestore(cut));
    EXPECT_EQ(journal.SearchToRestore(), std::nullopt) << "after a normal end nothing returns";

    const SearchId running =
        StoreSearch(journal, "live", 0, SearchState::kRunning, SearchOrigin::kWindow);
    EXPECT_EQ(journal.SearchToRestore(), std::nullopt);
    ASSERT_TRUE(journal.EndSearch(running, SearchState::kStopped));
    EXPECT_EQ(journal.SearchToRestore(), std::nullopt);
}

TEST_F(JournalTest, TwoWritersKeepAllTheirRows) {
    constexpr int kRows = kWriterRows;
    // Both wait at a gate and then start on a file that does not exist yet, so they also race
    // to make it.
    ChildOptions gated;
    gated.input = ChildStream::kPipe;
    ChildProcess writers[2];
    for (ChildProcess& writer : writers) {
        ASSERT_TRUE(kWriteAfterTheGate.Start(writer, {path_}, gated)) << writer.error();
    }
    for (ChildProcess& writer : writers) writer.CloseInput();
    for (ChildProcess& writer : writers) EXPECT_EQ(ExitCodeOf(writer), 0);

    Journal journal(path_);
    const std::vector<StoredSearch> history = journal.History();
    ASSERT_EQ(history.size(), 2u);
    for (const StoredSearch& search : history) {
        EXPECT_EQ(search.state, SearchState::kFinished);
        const std::vector<StoredRow> rows = journal.Rows(search.id);
        ASSERT_EQ(rows.size(), static_cast<std::size_t>(kRows));
        for (int i = 0; i < kRows; ++i) EXPECT_EQ(rows[i].row, Cells(std::to_string(i + 1)));
    }
}

TEST_F(JournalTest, TheCheckpointerCopiesTheWalBackIntoTheFile) {
    constexpr int kRows = 100;
    // A writer that keeps its rows in the WAL, and stays open so that closing copies nothing.
    sqlite3* writer = nullptr;
    ASSERT_EQ(sqlite3_open(path_.c_str(), &writer), SQLITE_OK);
    sqlite3_db_config(writer, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    sqlite3_wal_autocheckpoint(writer, 0);
    ASSERT_EQ(sqlite3_exec(writer,
                           "PRAGMA journal_mode = WAL; CREATE TABLE t (x);"
                           " WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n"
                           " WHERE i < 100) INSERT INTO t SELECT i FROM n",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    const auto rowsInTheFileAlone = [&] {
        sqlite3* file = nullptr;
        sqlite3_open_v2(("file:" + path_ + "?immutable=1").c_str(), &file,
                        SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr);
        sqlite3_stmt* count = nullptr;
        int rows = -1;
        if (sqlite3_prepare_v2(file, "SELECT count(*) FROM t", -1, &count, nullptr) == SQLITE_OK &&
            sqlite3_step(count) == SQLITE_ROW) {
            rows = sqlite3_column_int(count, 0);
        }
        sqlite3_finalize(count);
        sqlite3_close(file);
        return rows;
    };
    EXPECT_EQ(rowsInTheFileAlone(), -1) << "all in the WAL so far";
    {
        Checkpointer checkpointer(path_);
        checkpointer.WalGrew(Checkpointer::kCheckpointPages);
    }  // a checkpoint asked for is done before the checkpointer goes
    EXPECT_EQ(rowsInTheFileAlone(), kRows);
    sqlite3_close(writer);
}

TEST_F(JournalTest, ThreadsOfOneSearchTakeTurns) {
    constexpr int kThreads = 4;
    constexpr int kRowsEach = 50;
    Journal journal(path_);
    const SearchId id = StoreSearch(journal, "threads", 0, SearchState::kRunning);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRowsEach; ++i) {
                EXPECT_TRUE(journal.AddRow(id, std::to_string(t), Cells("t")));
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(journal.Rows(id).size(), static_cast<std::size_t>(kThreads * kRowsEach));
}

// Faults: the journal says what is wrong once, does nothing from then on, and leaves alone
// what is in the file.
class JournalFaultTest : public JournalTest {
protected:
    // A digest of the file's bytes and its WAL's, to compare before and after.
    std::size_t Snapshot() {
        return std::hash<std::string>{}(ReadFile(path_) + "|" + ReadFile(path_ + "-wal"));
    }
};

TEST_F(JournalFaultTest, LeavesFilesThatAreNotItsOwnAlone) {
    struct Case {
        const char* name;
        std::function<void(const std::string&)> make;
        JournalFault expected;
    };
    const auto runSql = [](const char* sql) {
        return [sql](const std::string& path) {
            sqlite3* raw = nullptr;
            ASSERT_EQ(sqlite3_open(path.c_str(), &raw), SQLITE_OK);
            ASSERT_EQ(sqlite3_exec(raw, sql, nullptr, nullptr, nullptr), SQLITE_OK);
            sqlite3_close(raw);
        };
    };
    const Case cases[] = {
        {"garbage",
         [](const std::string& path) {
             std::ofstream(PathFromUtf8(path)) << std::string(5000, '\x5A');
         },
         JournalFault::kCorrupt},
        {"another program's database", runSql("CREATE TABLE notes (text)"),
         JournalFault::kNotAJournal},
        {"a newer journal",
         [](const std::string& path) {
             { Journal journal(path); }
             sqlite3* raw = nullptr;
             ASSERT_EQ(sqlite3_open(path.c_str(), &raw), SQLITE_OK);
             ASSERT_EQ(sqlite3_exec(raw, "PRAGMA user_version = 99", nullptr, nullptr, nullptr),
                       SQLITE_OK);
             sqlite3_close(raw);
         },
         JournalFault::kNewerSchema},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(PathFromUtf8(path_));
        c.make(path_);
        const std::size_t before = Snapshot();
        Journal journal(path_);
        EXPECT_EQ(journal.fault(), c.expected);
        ExpectInert(journal);
        EXPECT_EQ(Snapshot(), before);
    }
}

TEST_F(JournalFaultTest, ReadOnlyFolderOrFile) {
    // As root only another user is bound by permissions; the child becomes one.
    ChildOptions asNobody;
    asNobody.limits.unprivileged = true;
    const auto openRefused = [&](const std::string& path) {
        ChildProcess child;
        EXPECT_TRUE(kOpenRefused.Start(child, {path}, asNobody)) << child.error();
        return ExitCodeOf(child);
    };
    SetMode(folder_, 0755);
    SearchId id = 0;
    {
        Journal journal(path_);
        id = StoreSearch(journal, "kept", 2, SearchState::kFinished);
    }
    // Readable by the other user; the lock file stays open to it, so that the journal's own
    // refusal is what counts.
    SetMode(path_, 0644);
    ASSERT_EQ(SetReadOnly(PathFromUtf8(path_), true), 0);
    SetMode(path_ + "-running", 0666);
    if (test::ChildCanWrite(PathFromUtf8(path_), asNobody.limits)) {
        GTEST_SKIP() << test::kReadOnlyBindsNothing;
    }
    const std::size_t before = Snapshot();
    EXPECT_EQ(openRefused(path_), static_cast<int>(JournalFault::kReadOnly)) << "file";
    EXPECT_EQ(Snapshot(), before);
    ASSERT_EQ(SetReadOnly(PathFromUtf8(path_), false), 0);
    EXPECT_EQ(Journal(path_).Rows(id).size(), 2u);

    const std::string folder = folder_ + "/read-only";
    fs::create_directory(PathFromUtf8(folder));
    ASSERT_EQ(SetReadOnly(PathFromUtf8(folder), true), 0);
    EXPECT_FALSE(test::ChildCanWrite(PathFromUtf8(folder), asNobody.limits));
    const std::string inFolder = folder + "/journal.sqlite3";
    EXPECT_EQ(openRefused(inFolder), static_cast<int>(JournalFault::kReadOnly)) << "folder";
    EXPECT_EQ(SetReadOnly(PathFromUtf8(folder), false), 0);
    EXPECT_FALSE(fs::exists(PathFromUtf8(inFolder)));
}

TEST_F(JournalFaultTest, AFullDiskStopsTheWritingAndKeepsWhatWasStored) {
    constexpr int kRows = 5;
    SearchId id = 0;
    {
        Journal journal(path_);
        id = StoreSearch(journal, "before", kRows, SearchState::kFinished);
    }
    // Files may not grow past this: the journal is there already; the next rows fill it.
    ChildOptions smallFiles;
    smallFiles.limits.fileBytes = 64 * 1024;
    ChildProcess child;
    if (!kFillTheDisk.Start(child, {path_}, smallFiles)) {
        if (child.startError() == ChildStartError::kLimitNotEnforced) GTEST_SKIP() << child.error();
        FAIL() << child.error();
    }
    EXPECT_EQ(ExitCodeOf(child), static_cast<int>(JournalFault::kFull));

    Journal journal(path_);
    ASSERT_EQ(journal.fault(), JournalFault::kNone);
    const std::vector<StoredRow> rows = journal.Rows(id);
    ASSERT_EQ(rows.size(), static_cast<std::size_t>(kRows));
    for (const StoredRow& row : rows) EXPECT_EQ(row.row, Cells("before"));
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(path_.c_str(), &raw), SQLITE_OK);
    sqlite3_stmt* check = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(raw, "PRAGMA integrity_check", -1, &check, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(check), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(check, 0)), "ok");
    sqlite3_finalize(check);
    sqlite3_close(raw);
}

TEST_F(JournalFaultTest, ALockHeldPastTheBusyTimeoutIsAFault) {
    constexpr int kShortBusyTimeoutMs = 50;
    Journal journal(path_, kShortBusyTimeoutMs);
    const SearchId id = StoreSearch(journal, "k", 1, SearchState::kRunning);
    sqlite3* holder = nullptr;
    ASSERT_EQ(sqlite3_open(path_.c_str(), &holder), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(holder, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    EXPECT_FALSE(journal.AddRow(id, "l", Cells("late")));
    EXPECT_EQ(journal.fault(), JournalFault::kLocked);
    EXPECT_FALSE(journal.AddRow(id, "l", Cells("later"))) << "nothing more once faulted";
    sqlite3_exec(holder, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(holder);
    EXPECT_EQ(Journal(path_).Rows(id).size(), 1u);
}

}  // namespace
}  // namespace velmora
