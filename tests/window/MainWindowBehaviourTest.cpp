// What the main window does, seen through a recording view: start-up and close rules, the
// elapsed time, the engine's writes and the journal's line, the popup menu with its exports and
// their progress, the about box and the contact link, and the resume of an unfinished search.
// Searches run for real against the sample site on loopback.

#include <algorithm>
#include <filesystem>
#include <memory>
#include <thread>

#include "RecordingView.h"
#include "SavedCsv.h"
#include "tests/ScratchFolder.h"
#include "tests/search/SearchFixture.h"
#include "text/CodePage.h"
#include "tools/SiteContent.h"
#include "tools/SiteFaults.h"
#include "window/MainWindowBehaviour.h"

namespace velmora::testing {
namespace {

using namespace std::chrono_literals;

constexpr auto kSearchPatience = 60s;
// The mock clock moves this much at each look.
constexpr auto kClockStep = 100ms;

class MainWindowBehaviourTest : public SearchFixture {
protected:
    // A session over the sample site and a window created over it at `client`, once its
    // start-up has read the journal.
    void OpenWindow(site::SiteOptions options = SmallSite(1, 2), JournalSettings journal = {},
                    Size client = kClientSize) {
        Open(std::move(options), std::move(journal));
        view_.onKeyword = [this](const std::string& keyword) {
            behaviour_->OnKeywordEdited(keyword);
        };
        behaviour_ = std::make_unique<MainWindowBehaviour>(
            view_, *session_, Utf8ToSystem("/desktop/"), [this] { return now_ += kClockStep; });
        behaviour_->OnKeywordEdited(kKeyword);
        behaviour_->OnMainWindowCreated(client);
        EndSearchThreads(*session_);
    }

    void TearDown() override {
        behaviour_.reset();
        SearchFixture::TearDown();
    }

    void AddRows(int count) {
        for (int n = 0; n < count; ++n)
            window_.SetCell(window_.AppendRow(), kCompanyNameColumn, Utf8ToSystem("甲公司"));
    }

    std::string JournalPath() const { return (folder_.path() / "j.sqlite3").string(); }

    Text SavePath(const char* name) const { return Utf8ToSystem((folder_.path() / name).string()); }

    bool ResumeShown() {
        behaviour_->ShowListMenu();
        const std::vector<MenuCommand>& hidden = view_.popups.back().hidden;
        return std::find(hidden.begin(), hidden.end(), kResumeCommand) == hidden.end();
    }

    // Waits until `reached` holds, which threads of the search bring about.
    static bool WaitUntil(const std::function<bool()>& reached) {
        const auto deadline = std::chrono::steady_clock::now() + kSearchPatience;
        while (!reached()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::yield();
        }
        return true;
    }

    test::ScratchFolder folder_;
    RecordingView view_;
    std::unique_ptr<MainWindowBehaviour> behaviour_;
    std::chrono::steady_clock::time_point now_;
};

TEST(MainWindowLayoutTest, ExtraRoomGoesToTheListTheAddressAndTheNotice) {
    struct Case {
        Size client;
        bool journalField;
        MainWindowLayout expected;
    };
    const Case cases[] = {
        {{713, 441},
         false,
         {{0, 40, 712, 383},
          {0, 401, 713, 20},
          {0, 421, 713, 20},
          {573, 12, 152, 24},
          {kAddressColumn, 130},
          {90, 120, 120, 380}}},
        // The journal's line takes its height from the list, not from the status bar.
        {{800, 500},
         true,
         {{0, 40, 799, 422},
          {0, 460, 800, 20},
          {0, 480, 800, 20},
          {660, 12, 152, 24},
          {kAddressColumn, 217},
          {90, 120, 120, 467}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.client.width) + "x" + std::to_string(c.client.height) +
                     (c.journalField ? " with the journal's line" : ""));
        EXPECT_EQ(LayOutMainWindow(c.client, c.journalField), c.expected);
    }
    // Never laid out smaller than designed.
    EXPECT_EQ(LayOutMainWindow({500, 300}, false), cases[0].expected);
}

TEST_F(MainWindowBehaviourTest, CreationAttachesTheSkinAndPlacesTheControls) {
    OpenWindow(SmallSite(1, 2), {}, {800, 500});
    EXPECT_EQ(view_.attachedSkins, std::vector<int>{19});
    EXPECT_EQ(view_.layout, LayOutMainWindow({800, 500}, false));
    for (int part = 0; part < kStatusPartCount; ++part)
        EXPECT_EQ(view_.statusParts[part], kStatusParts[part].initialText) << part;
    behaviour_->OnResized({900, 600});
    EXPECT_EQ(view_.layout, LayOutMainWindow({900, 600}, false));
    EXPECT_TRUE(view_.calls.empty());
}

TEST_F(MainWindowBehaviourTest, ElapsedTimeCountsEveryTickAcrossSearches) {
    OpenWindow();
    struct Checkpoint {
        int ticks;  // since the window's creation
        const char* caption;
        int timerPeriod;  // posted by the engine before these ticks
    };
    // The timer is started and stopped as searches do; the count is never reset in between.
    const Checkpoint checkpoints[] = {
        {1, "已运行:0小时0分钟1秒", 1000},    {59, "已运行:0小时0分钟59秒", 0},
        {60, "已运行:0小时1分钟0秒", 1000},   {61, "已运行:0小时1分钟1秒", 1000},
        {3599, "已运行:0小时59分钟59秒", 0},  {3600, "已运行:1小时0分钟0秒", 1000},
        {3661, "已运行:1小时1分钟1秒", 1000}, {86400, "已运行:24小时0分钟0秒", 1000},
    };
    EXPECT_EQ(view_.Shown(Control::标签2), "已运行:0小时0分钟0秒");
    int ticks = 0;
    for (const Checkpoint& checkpoint : checkpoints) {
        behaviour_->OnTimerPeriodPosted(checkpoint.timerPeriod);
        EXPECT_EQ(view_.timerPeriod, checkpoint.timerPeriod);
        for (; ticks < checkpoint.ticks; ++ticks) behaviour_->OnElapsedTick();
        EXPECT_EQ(view_.Shown(Control::标签2), checkpoint.caption) << checkpoint.ticks;
    }
}

TEST_F(MainWindowBehaviourTest, EngineWritesReachTheirFields) {
    OpenWindow();
    behaviour_->OnStatusTextPosted(0, "状态：运行中");
    behaviour_->OnStatusTextPosted(kNoticeStatusField, "温馨提醒");
    behaviour_->OnStatusTextPosted(9, "nowhere");
    behaviour_->OnStatusTextPosted(-1, "nowhere");
    const std::string expected[kStatusPartCount] = {"状态：运行中", "搜索结果：", "成功获取：",
                                                    "温馨提醒"};
    for (int part = 0; part < kStatusPartCount; ++part)
        EXPECT_EQ(view_.statusParts[part], expected[part]) << part;
    EXPECT_FALSE(view_.journalField);
    EXPECT_EQ(view_.layout, LayOutMainWindow(kClientSize, false));

    // The journal's field is a line of its own, which the list makes room for, until a search
    // starts.
    behaviour_->OnStatusTextPosted(kJournalField, "已恢复 3 条");
    behaviour_->OnStatusTextPosted(kJournalField, "已恢复 4 条");
    EXPECT_EQ(view_.journalField, "已恢复 4 条");
    EXPECT_EQ(view_.layout, LayOutMainWindow(kClientSize, true));
    EXPECT_EQ(view_.statusParts[kNoticeStatusField], "温馨提醒");
    behaviour_->OnStartClicked();
    EXPECT_FALSE(view_.journalField);
    EXPECT_EQ(view_.layout, LayOutMainWindow(kClientSize, false));
    WaitForSearchEnd(*session_);
}

// A close stops the search only where a stop press would be taken, in a batch of two or more
// workers, and says "欢迎使用！" then; it detaches the skin in any case, once however often the
// window is asked to close.
struct CloseCase {
    const char* name;
    bool search;
    // What never answers: the first result page, or the last company listed.
    site::FaultScope held;
    int links;
    bool welcome;
};

void PrintTo(const CloseCase& c, std::ostream* out) {
    *out << c.name;
}

class CloseTest : public MainWindowBehaviourTest,
                  public ::testing::WithParamInterface<CloseCase> {};

TEST_P(CloseTest, ClosingStopsABatchWithOneWelcome) {
    const CloseCase& c = GetParam();
    site::SiteOptions options = SmallSite(1, c.links);
    const int held = c.held == site::FaultScope::Company ? c.links : 1;
    options.faults = {{site::FaultKind::Hold, c.held, {held}}};
    OpenWindow(options);
    if (c.search) {
        behaviour_->OnStartClicked();
        ASSERT_TRUE(WaitUntil([&] {
            const std::vector<site::RecordedRequest> requests = site_->Requests();
            return std::any_of(requests.begin(), requests.end(),
                               [](const site::RecordedRequest& r) { return r.fault.has_value(); });
        }));
    }
    EXPECT_TRUE(behaviour_->OnCloseRequested());
    EXPECT_TRUE(behaviour_->OnCloseRequested());
    if (!c.welcome) {
        EXPECT_EQ(view_.calls, std::vector<std::string>{"skin detached"});
        return;
    }
    EXPECT_EQ(view_.calls, (std::vector<std::string>{"message 欢迎使用！", "skin detached"}));
    EXPECT_EQ(view_.messages[0].caption, "");  // the default one
    EXPECT_EQ(view_.messages[0].flags, MessageBoxFlag::kOk);
    EXPECT_TRUE(window_.WaitForStatus(0, "状态：结束中"));
}

INSTANTIATE_TEST_SUITE_P(
    Searches, CloseTest,
    ::testing::Values(CloseCase{"NoSearch", false, site::FaultScope::Company, 2, false},
                      CloseCase{"CrawlFetchingAResultPage", true, site::FaultScope::ResultPage, 3,
                                false},
                      CloseCase{"BatchOfOneWorker", true, site::FaultScope::Company, 1, false},
                      CloseCase{"BatchOfThreeWorkers", true, site::FaultScope::Company, 3, true}),
    [](const ::testing::TestParamInfo<CloseCase>& param) { return std::string(param.param.name); });

TEST_F(MainWindowBehaviourTest, AboutBoxOpensTheWebPageOnlyOnYes) {
    OpenWindow();
    for (const int answer : {kAnswerYes, kAnswerNo}) {
        SCOPED_TRACE(answer);
        view_.messages.clear();
        view_.openedLinks.clear();
        view_.answer = answer;
        behaviour_->OnMenuCommand(kAboutCommand);
        ASSERT_EQ(view_.messages.size(), 1u);
        EXPECT_EQ(view_.messages[0].text,
                  "软件只是一时兴起，有什么bug空间留言！\r\nVelmora 开发组于 2014-11-09");
        EXPECT_EQ(view_.messages[0].caption, "爱自己是最大的帮助！");
        EXPECT_EQ(view_.messages[0].flags, 0x80024u);
        EXPECT_EQ(view_.openedLinks, answer == kAnswerYes ? std::vector<std::string>{kAuthorWebPage}
                                                          : std::vector<std::string>{});
    }
}

TEST_F(MainWindowBehaviourTest, ContactLinkIsOpenedOrGivenToCopy) {
    OpenWindow();
    for (const bool linksOpen : {true, false}) {
        SCOPED_TRACE(linksOpen);
        view_.messages.clear();
        view_.openedLinks.clear();
        view_.linksOpen = linksOpen;
        behaviour_->ContactAuthor();
        EXPECT_EQ(view_.openedLinks, std::vector<std::string>{kContactLink});
        if (linksOpen) {
            EXPECT_TRUE(view_.messages.empty());
            continue;
        }
        // With the address to copy, on a line of its own.
        ASSERT_EQ(view_.messages.size(), 1u);
        EXPECT_TRUE(view_.messages[0].text.ends_with(std::string("\n") + kContactLink));
        EXPECT_EQ(view_.messages[0].flags, MessageBoxFlag::kIconInformation);
    }
}

TEST_F(MainWindowBehaviourTest, PopupMenuOffersTheExportsTheResumeAndAbout) {
    ASSERT_EQ(std::size(kProgramMenu), 3u);
    EXPECT_STREQ(kProgramMenu[0].text, "导出excel");
    const char* const exports[] = {
        "全部", "公司名", "手机号", "邮箱", "导出整理去重后的数据", "导出新增公司（以前未出现过）"};
    ASSERT_EQ(kProgramMenu[0].submenu.size(), std::size(exports));
    for (size_t entry = 0; entry < std::size(exports); ++entry)
        EXPECT_STREQ(kProgramMenu[0].submenu[entry].text, exports[entry]);
    EXPECT_STREQ(kProgramMenu[1].text, "续抓未完成的搜索");
    EXPECT_EQ(kProgramMenu[1].command, kResumeCommand);
    EXPECT_STREQ(kProgramMenu[2].text, "关于");
    EXPECT_EQ(kProgramMenu[2].command, kAboutCommand);

    // An empty list still gets its menu beside the cursor; a window keeping no journal has no
    // search to resume.
    OpenWindow();
    behaviour_->ShowListMenu();
    ASSERT_EQ(view_.popups.size(), 1u);
    EXPECT_EQ(view_.popups[0].place, (MenuPlace{MenuPlace::From::kCursor, {3, 3}}));
    EXPECT_EQ(view_.popups[0].hidden, std::vector<MenuCommand>{kResumeCommand});

    // From the keyboard: at the selected row while it shows among the rows (20 to 120 down the
    // list), else at their corner.
    constexpr Rect kRows{0, 20, 700, 100};
    const std::pair<std::optional<Rect>, Point> keyboard[] = {
        {Rect{-40, 60, 740, 18}, {3, 63}},
        {Rect{0, 10, 700, 18}, {3, 23}},   // half under the header
        {Rect{0, 120, 700, 18}, {3, 23}},  // below the last row shown
    };
    for (const auto& [selected, expected] : keyboard) {
        behaviour_->ShowListMenuFromKeyboard(selected, kRows);
        EXPECT_EQ(view_.popups.back().place, (MenuPlace{MenuPlace::From::kList, expected}));
        EXPECT_EQ(view_.popups.back().hidden, std::vector<MenuCommand>{kResumeCommand});
    }
}

TEST_F(MainWindowBehaviourTest, ExportOfAnEmptyListIsRefusedWithoutADialog) {
    OpenWindow();
    for (MenuCommand command = 0; command < kExportCount; ++command) {
        behaviour_->OnMenuCommand(command);
        ASSERT_EQ(view_.messages.size(), static_cast<size_t>(command) + 1);
        EXPECT_EQ(view_.messages.back().text, "还没进行操作，不能导出！");
        EXPECT_EQ(view_.messages.back().flags, MessageBoxFlag::kOk);
    }
    EXPECT_TRUE(view_.saveRequests.empty());
    EXPECT_FALSE(view_.progressShown);
}

TEST_F(MainWindowBehaviourTest, ExportSavesUnderTheNameChosenInTheDialog) {
    OpenWindow();
    AddRows(2);
    view_.saveAs = SavePath("names.xlsx");
    behaviour_->OnMenuCommand(1);  // 公司名
    ASSERT_EQ(view_.saveRequests.size(), 1u);
    EXPECT_EQ(view_.saveRequests[0].filter,
              Utf8ToSystem("默认保存为 office Excel文件(*.xls)|*.xls|Excel 工作簿(*.xlsx)|*.xlsx|"
                           "CSV 文件(*.csv)|*.csv"));
    EXPECT_EQ(view_.saveRequests[0].initialFolder, Utf8ToSystem("/desktop/"));
    EXPECT_TRUE(std::filesystem::exists(folder_.path() / "names.xlsx"));
    // Both companies read back.
    ASSERT_EQ(view_.messages.size(), 1u);
    EXPECT_EQ(view_.messages[0].text, "数据导出成功! 共：2 行记录！！");
    EXPECT_EQ(view_.messages[0].flags, MessageBoxFlag::kIconInformation);
}

TEST_F(MainWindowBehaviourTest, TheLeadEntriesExportCleanedRowsAndOnlyNewCompanies) {
    constexpr MenuCommand kCleanedMerged = 4;
    constexpr MenuCommand kOnlyNew = 5;
    ASSERT_STREQ(kExportEntries[kOnlyNew].text, "导出新增公司（以前未出现过）");
    // An earlier search found the first company under another link.
    const site::CompanyRecord first = site::GenerateCompany(site::KeywordSeed(kKeyword), 1);
    {
        Journal journal(JournalPath());
        const SearchId earlier = *journal.BeginSearch("更早", "http://site", SearchOrigin::kCli);
        ASSERT_TRUE(
            journal.AddRow(earlier, "elsewhere",
                           {Utf8ToSystem(first.companyName), "", "", first.mobile, "", "", ""}));
        ASSERT_TRUE(journal.EndSearch(earlier, SearchState::kFinished));
    }
    OpenWindow(SmallSite(1, 2), {JournalPath(), SearchOrigin::kWindow});
    const std::filesystem::path csv = folder_.path() / "leads.csv";
    view_.saveAs = SavePath("leads.csv");
    const auto exportedNames = [&](MenuCommand command) {
        behaviour_->OnMenuCommand(command);
        std::vector<std::string> names;
        if (const auto saved = test::ReadSavedCsv(csv)) {
            for (std::size_t row = 1; row < saved->records.size(); ++row)
                names.push_back(saved->records[row].at(0));
        }
        std::filesystem::remove(csv);
        return names;
    };
    const std::string second = site::GenerateCompany(site::KeywordSeed(kKeyword), 2).companyName;
    // The list gathers the same companies twice: merged, each is one row.
    for (int search = 1; search <= 2; ++search) {
        SCOPED_TRACE(search);
        behaviour_->OnStartClicked();
        WaitForSearchEnd(*session_);
        EXPECT_EQ(exportedNames(kOnlyNew), std::vector<std::string>{second});
        EXPECT_EQ(exportedNames(kCleanedMerged),
                  (std::vector<std::string>{first.companyName, second}));
    }
    EXPECT_EQ(window_.RowCount(), 4);
}

TEST_F(MainWindowBehaviourTest, ExportProgressShowsOnlyWhileALongExportWorks) {
    constexpr int kRows = 60;
    OpenWindow();
    AddRows(kRows);
    view_.saveAs = SavePath("all.xlsx");
    for (const bool longExport : {false, true}) {
        SCOPED_TRACE(longExport);
        view_.messages.clear();
        view_.saveRequests.clear();
        view_.calls.clear();
        // The clock moves kClockStep at each look: the long export is past its delay within
        // its first rows, the short one never.
        behaviour_->exportProgressDelay = longExport ? 4 * kClockStep : 24h;
        bool progressAtTheResult = true;
        view_.onMessage = [&](const ShownMessage&) { progressAtTheResult = view_.progressShown; };
        // A second export asked for while the first lets events in is ignored, and leaves the
        // first one's progress as it is.
        int pending = 0;
        view_.onPendingEvents = [&] {
            if (pending++ == 10) behaviour_->OnMenuCommand(0);
        };
        behaviour_->OnMenuCommand(0);  // 全部
        EXPECT_EQ(view_.saveRequests.size(), 1u);
        ASSERT_EQ(view_.messages.size(), 1u);
        EXPECT_EQ(view_.messages[0].text,
                  "数据导出成功! 共：" + std::to_string(kRows) + " 行记录！！");
        // Gone before the result is shown: nothing is left that could still pop up.
        EXPECT_FALSE(progressAtTheResult);
        auto at = std::find(view_.calls.begin(), view_.calls.end(), "progress shown");
        ASSERT_EQ(at != view_.calls.end(), longExport);
        if (!longExport) continue;
        EXPECT_EQ(std::count(view_.calls.begin(), view_.calls.end(), "progress ended"), 1);
        const char* const phases[] = {"progress 正在写入表格… 60/60",
                                      "progress 正在核对表格… 60/60", "progress 正在保存文件… 0/1",
                                      "progress ended"};
        for (const char* phase : phases) {
            at = std::find(at, view_.calls.end(), phase);
            EXPECT_NE(at, view_.calls.end()) << phase;
        }
    }
}

TEST_F(MainWindowBehaviourTest, CloseDuringAnExportWaitsForItsEnd) {
    OpenWindow();
    AddRows(1);
    behaviour_->exportProgressDelay = 24h;  // its progress is not what is looked at here
    view_.saveAs = SavePath("held.xlsx");
    bool heldWhileExporting = false;
    view_.onSaveDialog = [&] { heldWhileExporting = !behaviour_->OnCloseRequested(); };
    behaviour_->OnMenuCommand(0);
    EXPECT_TRUE(heldWhileExporting);
    EXPECT_TRUE(std::filesystem::exists(folder_.path() / "held.xlsx"));
    // Asked for again once the export has told its result; the view's close then goes through.
    EXPECT_EQ(view_.calls,
              (std::vector<std::string>{"message 数据导出成功! 共：1 行记录！！", "close asked"}));
    EXPECT_TRUE(view_.skinAttached);
    EXPECT_TRUE(behaviour_->OnCloseRequested());
    EXPECT_FALSE(view_.skinAttached);
}

TEST_F(MainWindowBehaviourTest, TheMenuResumesTheLatestUnfinishedSearch) {
    site::SiteOptions options = SmallSite(1, 2);
    options.faults = {*site::ParseFaultRule("500:company=2:once")};
    OpenWindow(options, {JournalPath(), SearchOrigin::kWindow});
    EXPECT_FALSE(ResumeShown());
    behaviour_->OnStartClicked();
    WaitForSearchEnd(*session_);
    EXPECT_EQ(Journal(JournalPath()).History().back().state, SearchState::kIncomplete);
    EXPECT_EQ(window_.RowCount(), 2);  // the failed company's row is shown empty

    behaviour_->OnKeywordEdited("别的");  // typed meanwhile
    ASSERT_TRUE(ResumeShown());
    site_->ClearRequests();
    behaviour_->OnMenuCommand(kResumeCommand);
    EXPECT_EQ(view_.Shown(Control::编辑框_搜索内容), kKeyword);
    WaitForSearchEnd(*session_);
    // Only the failed company is asked for, the rows shown before are not shown again, and the
    // failed company's empty row is filled where it stands.
    EXPECT_EQ(Targets(), std::vector<std::string>{CompanyTarget(2)});
    EXPECT_EQ(Sorted(window_.RowsUtf8()), Sorted(ExpectedRows(1, 2)));
    const StoredSearch resumed = Journal(JournalPath()).History().back();
    EXPECT_EQ(resumed.state, SearchState::kFinished);
    EXPECT_EQ(resumed.rowCount, 2);
    EXPECT_FALSE(ResumeShown());
}

}  // namespace
}  // namespace velmora::testing
