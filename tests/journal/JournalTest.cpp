// The journal: what it keeps, how its files are made, running versus interrupted searches,
// resume, forgetting, the window's restore, faults, and two writers at once.

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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
#include "text/CodePage.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

// An unprivileged user that a test run as root becomes, so that permissions bind it.
constexpr uid_t kNobody = 65534;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

mode_t ModeOf(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

// Runs `body` in a child process, which ends with what it returns.
pid_t StartChild(const std::function<int()>& body) {
    const pid_t child = fork();
    if (child == 0) _exit(body());
    return child;
}

// The child's exit status, or -1 when it died of a signal.
int ExitStatusOf(pid_t child) {
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

int InChild(const std::function<int()>& body) {
    return ExitStatusOf(StartChild(body));
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

class JournalTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = (fs::temp_directory_path() / "journal-test-XXXXXX").string();
        ASSERT_NE(mkdtemp(folder_.data()), nullptr);
        path_ = folder_ + "/journal.sqlite3";
    }
    void TearDown() override {
        // A test may have taken the write permission away.
        chmod(folder_.c_str(), 0700);
        fs::remove_all(folder_);
    }

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

    std::string folder_;
    std::string path_;
};

TEST(JournalPathTest, FollowsTheVariablesInOrder) {
    struct Case {
        const char* journal;
        const char* dataHome;
        const char* home;
        std::string expected;
    };
    const Case cases[] = {
        {"/x/j.db", "/data", "/home/u", "/x/j.db"},
        {"", "/data", "/home/u", "/data/velmora/journal.sqlite3"},
        {nullptr, "relative/data", "/home/u", "/home/u/.local/share/velmora/journal.sqlite3"},
        {nullptr, nullptr, "/home/u", "/home/u/.local/share/velmora/journal.sqlite3"},
    };
    const char* names[] = {kJournalVariable, "XDG_DATA_HOME", "HOME"};
    std::vector<std::optional<std::string>> saved;
    for (const char* name : names) {
        const char* value = std::getenv(name);
        saved.push_back(value ? std::optional<std::string>(value) : std::nullopt);
    }
    for (const Case& c : cases) {
        const char* values[] = {c.journal, c.dataHome, c.home};
        for (std::size_t i = 0; i < std::size(names); ++i) {
            values[i] ? setenv(names[i], values[i], 1) : unsetenv(names[i]);
        }
        EXPECT_EQ(JournalPath(), c.expected);
    }
    for (std::size_t i = 0; i < std::size(names); ++i) {
        saved[i] ? setenv(names[i], saved[i]->c_str(), 1) : unsetenv(names[i]);
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
    EXPECT_EQ(search.pid, getpid());
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
    ASSERT_EQ(chmod(folder_.c_str(), 0755), 0);
    std::ofstream(path_).close();
    ASSERT_EQ(chmod(path_.c_str(), 0644), 0);
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
    const std::string sql = "UPDATE search SET pid = " + std::to_string(getpid());
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
        int reported[2];
        ASSERT_EQ(pipe(reported), 0);
        const pid_t child = fork();
        if (child == 0) {
            close(reported[0]);
            Journal journal(path_);
            const std::optional<SearchId> id =
                journal.BeginSearch("kill", "http://site", SearchOrigin::kCli);
            for (int i = 1; id; ++i) {
                if (!journal.AddRow(*id, "link", Cells(std::to_string(i)))) _exit(1);
                // Told only once the call has returned: every row told of must be stored.
                const SearchId told[2] = {*id, i};
                if (write(reported[1], told, sizeof told) != sizeof told) _exit(1);
            }
            _exit(1);
        }
        close(reported[1]);
        const int killAfter = std::uniform_int_distribution<int>(1, 200)(random);
        SearchId told[2] = {0, 0};
        for (int i = 0; i < killAfter; ++i) {
            ASSERT_EQ(read(reported[0], told, sizeof told), static_cast<ssize_t>(sizeof told));
        }
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        close(reported[0]);

        Journal journal(path_);
        const std::vector<StoredRow> rows = journal.Rows(told[0]);
        ASSERT_GE(rows.size(), static_cast<std::size_t>(told[1]));
        for (std::size_t i = 0; i < rows.size(); ++i) {
            EXPECT_EQ(rows[i].row, Cells(std::to_string(i + 1)));
        }
        EXPECT_EQ(StateOf(journal, told[0]), SearchState::kInterrupted);
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
    // Rows of a name and a mobile number: a link key and a name-and-number key each.
    const auto row = [](const std::string& utf8Name, const Text& mobile) {
        return ResultRow{Utf8ToSystem(utf8Name), "", "", mobile, "", "", ""};
    };
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
    const ResultRow e = row("华强电子", "13800000003");
    const ResultRow f = row("新公司", "13800000006");
    int go[2];
    int stored[2];
    ASSERT_EQ(pipe(go), 0);
    ASSERT_EQ(pipe(stored), 0);
    const pid_t other = StartChild([&] {
        // Only the test's ends left open, so that the wait ends when the test's process does.
        close(go[1]);
        close(stored[0]);
        char byte = 0;
        if (read(go[0], &byte, 1) != 1) return 1;
        Journal journal(path_);
        const SearchId id =
            journal.BeginSearch("live", "http://site", SearchOrigin::kCli).value_or(0);
        if (id == 0 || !journal.AddRow(id, "e", e) ||
            write(stored[1], &id, sizeof id) != sizeof id || read(go[0], &byte, 1) != 1 ||
            !journal.AddRow(id, "f", f)) {
            return 1;
        }
        return journal.EndSearch(id, SearchState::kFinished) ? 0 : 2;
    });
    close(go[0]);
    close(stored[1]);

    Journal journal(path_);
    const SearchId ended = *journal.BeginSearch("ended", "http://site", SearchOrigin::kCli);
    ASSERT_TRUE(add(journal, ended, "a", row("宏达机械有限公司", "13800000001")));
    ASSERT_TRUE(add(journal, ended, "b", row("恒信五金", "13800000002")));
    ASSERT_TRUE(journal.EndSearch(ended, SearchState::kFinished));
    EXPECT_EQ(keysInTheFile(), keysOfRowsStored) << "keyed at the end";
    const std::vector<Lead> afterTheEnd = {lead("a"), lead("d")};
    EXPECT_EQ(JournalHistory(path_)(afterTheEnd), (std::vector<bool>{true, false}));

    // Interrupted: its program went without ending it, so no end keyed its rows.
    SearchId cut = 0;
    {
        Journal gone(path_);
        cut = *gone.BeginSearch("cut", "http://site", SearchOrigin::kCli);
        ASSERT_TRUE(add(gone, cut, "c", row("华强电子", "13800000003")));
        ASSERT_TRUE(add(gone, cut, "d", row("宏达机械（杭州）有限公司", "13800000001")));
    }
    ASSERT_EQ(write(go[1], "g", 1), 1);
    SearchId live = 0;
    ASSERT_EQ(read(stored[0], &live, sizeof live), static_cast<ssize_t>(sizeof live));
    keysOfRowsStored += CompanyKeyHashes("e", e).size();
    EXPECT_EQ(StateOf(journal, live), SearchState::kRunning);
    const std::vector<Lead> whileLive = {lead("c"), lead("d"), lead("e"), lead("f")};
    EXPECT_EQ(journal.KnownBefore(whileLive), (std::vector<bool>{true, true, true, false}));
    EXPECT_EQ(keysInTheFile(), keysOfRowsStored) << "the interrupted and the running search's";

    // The other program keys only "f" at its end: a row keyed twice would fail it.
    keysOfRowsStored += CompanyKeyHashes("f", f).size();
    ASSERT_EQ(write(go[1], "g", 1), 1);
    EXPECT_EQ(ExitStatusOf(other), 0);
    close(go[1]);
    close(stored[0]);
    // A resumed search goes on after its keyed rows.
    ASSERT_EQ(journal.ResumeSearch(cut), ResumeOutcome::kResumed);
    ASSERT_TRUE(add(journal, cut, "b", row("", "")));
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
    constexpr int kRows = 300;
    // Both wait at a gate and then start on a file that does not exist yet, so they also race
    // to make it.
    int gate[2];
    ASSERT_EQ(pipe(gate), 0);
    const auto writer = [&] {
        close(gate[1]);
        char none = 0;
        if (read(gate[0], &none, 1) != 0) return 1;
        Journal journal(path_);
        const std::optional<SearchId> id =
            journal.BeginSearch("w", "http://site", SearchOrigin::kCli);
        for (int i = 1; id && i <= kRows; ++i) {
            if (!journal.AddRow(*id, "l", Cells(std::to_string(i)))) return 1;
        }
        return id && journal.EndSearch(*id, SearchState::kFinished) ? 0 : 1;
    };
    const pid_t first = StartChild(writer);
    const pid_t second = StartChild(writer);
    close(gate[0]);
    close(gate[1]);
    EXPECT_EQ(ExitStatusOf(first), 0);
    EXPECT_EQ(ExitStatusOf(second), 0);

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

    // Nothing can be written, nothing is read.
    static void ExpectInert(Journal& journal) {
        EXPECT_FALSE(journal.BeginSearch("k", "s", SearchOrigin::kCli));
        EXPECT_TRUE(journal.History().empty());
        EXPECT_EQ(journal.ResumeSearch(1), ResumeOutcome::kFault);
        EXPECT_EQ(journal.ForgetAll().forgotten, 0);
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
         [](const std::string& path) { std::ofstream(path) << std::string(5000, '\x5A'); },
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
        fs::remove(path_);
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
    const auto openAsUser = [&] {
        return InChild([&] {
            if (geteuid() == 0 && (setgid(kNobody) != 0 || setuid(kNobody) != 0)) return 100;
            Journal journal(path_);
            ExpectInert(journal);
            return static_cast<int>(journal.fault());
        });
    };
    ASSERT_EQ(chmod(folder_.c_str(), 0555), 0);
    EXPECT_EQ(openAsUser(), static_cast<int>(JournalFault::kReadOnly)) << "folder";
    EXPECT_FALSE(fs::exists(path_));

    ASSERT_EQ(chmod(folder_.c_str(), 0755), 0);
    SearchId id = 0;
    {
        Journal journal(path_);
        id = StoreSearch(journal, "kept", 2, SearchState::kFinished);
    }
    // The lock file stays open to the user, so that the journal's own refusal is what counts.
    ASSERT_EQ(chmod(path_.c_str(), 0444), 0);
    ASSERT_EQ(chmod((path_ + "-running").c_str(), 0666), 0);
    const std::size_t before = Snapshot();
    EXPECT_EQ(openAsUser(), static_cast<int>(JournalFault::kReadOnly)) << "file";
    EXPECT_EQ(Snapshot(), before);
    ASSERT_EQ(chmod(path_.c_str(), 0600), 0);
    Journal journal(path_);
    EXPECT_EQ(journal.Rows(id).size(), 2u);
}

TEST_F(JournalFaultTest, AFullDiskStopsTheWritingAndKeepsWhatWasStored) {
    constexpr int kRows = 5;
    SearchId id = 0;
    {
        Journal journal(path_);
        id = StoreSearch(journal, "before", kRows, SearchState::kFinished);
    }
    // Files may not grow past this: the journal is there already; the next rows fill it.
    constexpr rlim_t kFileLimit = 64 * 1024;
    const int fault = InChild([&] {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{kFileLimit, kFileLimit};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 100;
        Journal journal(path_);
        const std::optional<SearchId> search = journal.BeginSearch("full", "s", SearchOrigin::kCli);
        for (int i = 0; search && i < 100000; ++i) {
            if (!journal.AddRow(*search, "l", Cells(std::string(2000, 'f')))) break;
        }
        const JournalFault latched = journal.fault();
        ExpectInert(journal);
        return static_cast<int>(latched);
    });
    EXPECT_EQ(fault, static_cast<int>(JournalFault::kFull));

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
