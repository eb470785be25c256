// velmora-cli: its command line, its lines, and whole runs of the program against the sample site.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "CliRun.h"
#include "SavedWorkbook.h"
#include "cli/CliOptions.h"
#include "cli/CliWindow.h"
#include "platform/ReadOnly.h"
#include "platform/UserDirectories.h"
#include "platform/Utf8Path.h"
#include "tests/ScopedVariable.h"
#include "tests/WriteProbe.h"
#include "text/CodePage.h"
#include "tools/SampleSite.h"
#include "tools/SiteContent.h"

namespace velmora::cli {
namespace {

struct OptionsCase {
    std::vector<std::string_view> args;
    bool valid;
    std::string keyword;
    std::string site;
    std::string exportFile;
    Command command = Command::kSearch;
    std::int64_t searchId = 0;
    bool noJournal = false;
    bool clean = false;
    bool dedupe = false;
    bool onlyNew = false;
};

void PrintTo(const OptionsCase& c, std::ostream* out) {
    for (std::string_view arg : c.args) *out << '[' << arg << ']';
}

class ParseOptionsTest : public ::testing::TestWithParam<OptionsCase> {};

TEST_P(ParseOptionsTest, ReadsOrRefusesTheCommandLine) {
    const OptionsCase& c = GetParam();
    const ParseResult result = ParseOptions(c.args);
    ASSERT_EQ(result.options.has_value(), c.valid) << result.error;
    if (!c.valid) {
        EXPECT_FALSE(result.error.empty());
        return;
    }
    EXPECT_EQ(result.options->keyword, c.keyword);
    EXPECT_EQ(result.options->site.value_or(""), c.site);
    EXPECT_EQ(result.options->exportFile.value_or(""), c.exportFile);
    EXPECT_EQ(result.options->command, c.command);
    EXPECT_EQ(result.options->searchId, c.searchId);
    EXPECT_EQ(result.options->noJournal, c.noJournal);
    EXPECT_EQ(result.options->clean, c.clean);
    EXPECT_EQ(result.options->dedupe, c.dedupe);
    EXPECT_EQ(result.options->onlyNew, c.onlyNew);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseOptionsTest,
    ::testing::Values(
        OptionsCase{{"机械"}, true, "机械", "", ""},
        OptionsCase{{"--site", "http://h:1", "机械"}, true, "机械", "http://h:1", ""},
        OptionsCase{{"机械", "--site=http://h:1", "--export", "a.xlsx"},
                    true,
                    "机械",
                    "http://h:1",
                    "a.xlsx"},
        OptionsCase{{"--", "-x"}, true, "-x", "", ""},     // a keyword beginning with "-"
        OptionsCase{{""}, true, "", "", ""},               // an empty box is not refused
        OptionsCase{{}, false, "", "", ""},                // no keyword
        OptionsCase{{"a", "b"}, false, "", "", ""},        // two keywords
        OptionsCase{{"--site"}, false, "", "", ""},        // value missing
        OptionsCase{{"--site=", "a"}, false, "", "", ""},  // value empty
        OptionsCase{{"--site", "u", "--site", "v", "a"}, false, "", "", ""},
        OptionsCase{{"--sites", "a"}, false, "", "", ""},  // unknown option
        OptionsCase{{"-v", "a"}, false, "", "", ""},
        OptionsCase{{"--no-journal", "a"}, true, "a", "", "", Command::kSearch, 0, true},
        OptionsCase{{"--history"}, true, "", "", "", Command::kHistory},
        OptionsCase{{"--rows=12", "--export", "f"}, true, "", "", "f", Command::kRows, 12},
        OptionsCase{{"--resume", "7", "--site", "u"}, true, "", "u", "", Command::kResume, 7},
        OptionsCase{{"--forget", "all"}, true, "", "", "", Command::kForget, 0},
        OptionsCase{{"--forget", "3"}, true, "", "", "", Command::kForget, 3},
        OptionsCase{{"--rows", "all"}, false, "", "", ""},  // all: --forget only
        OptionsCase{{"--resume", "0"}, false, "", "", ""},  // not an ID
        OptionsCase{{"--rows", "-1"}, false, "", "", ""},
        OptionsCase{{"--rows", "1x"}, false, "", "", ""},
        OptionsCase{{"--rows", "1234567890123456789"}, false, "", "", ""},
        OptionsCase{{"--history", "a"}, false, "", "", ""},  // two commands
        OptionsCase{{"--rows", "1", "--resume", "1"}, false, "", "", ""},
        OptionsCase{{"--rows", "1", "--site", "u"}, false, "", "", ""},
        OptionsCase{{"--resume", "1", "--no-journal"}, false, "", "", ""},
        OptionsCase{{"--forget", "1", "--export", "f"}, false, "", "", ""},
        OptionsCase{{"--clean", "a"}, true, "a", "", "", Command::kSearch, 0, false, true},
        OptionsCase{{"--rows", "2", "--only-new", "--dedupe"},
                    true,
                    "",
                    "",
                    "",
                    Command::kRows,
                    2,
                    false,
                    false,
                    true,
                    true},
        OptionsCase{{"--resume", "2", "--only-new"},
                    true,
                    "",
                    "",
                    "",
                    Command::kResume,
                    2,
                    false,
                    false,
                    false,
                    true},
        OptionsCase{{"--history", "--only-new"}, false, "", "", ""},
        OptionsCase{{"--forget", "1", "--clean"}, false, "", "", ""}));

TEST(ParseOptionsTest, HelpNeedsNoKeyword) {
    const ParseResult result = ParseOptions({"--help"});
    ASSERT_TRUE(result.options);
    EXPECT_TRUE(result.options->help);
}

// Reads EscapeField's output back, as a program reading velmora-cli's lines would.
std::string Unescape(std::string_view escaped) {
    std::string text;
    for (std::size_t i = 0; i < escaped.size(); ++i) {
        if (escaped[i] != '\\' || i + 1 == escaped.size()) {
            text += escaped[i];
            continue;
        }
        const char kind = escaped[++i];
        if (kind == 'x' || kind == 'u') {
            const std::size_t digits = kind == 'x' ? 2 : 4;
            const auto code = std::stoul(std::string(escaped.substr(i + 1, digits)), nullptr, 16);
            i += digits;
            text += kind == 'x' ? std::string(1, static_cast<char>(code))
                                : SystemToUtf8(Utf8ToSystem(std::string{static_cast<char>(0xC2),
                                                                        static_cast<char>(code)}));
        } else {
            text += kind == 't' ? '\t' : kind == 'r' ? '\r' : kind == 'n' ? '\n' : kind;
        }
    }
    return text;
}

// No byte a terminal would act on: C0 controls but the tab between fields, DEL, and the
// two-byte forms of U+0080..U+009F.
bool TerminalSafe(std::string_view line) {
    for (std::size_t i = 0; i < line.size(); ++i) {
        const auto byte = static_cast<unsigned char>(line[i]);
        const auto next = i + 1 < line.size() ? static_cast<unsigned char>(line[i + 1]) : 0;
        if ((byte < 0x20 && byte != '\t') || byte == 0x7F ||
            (byte == 0xC2 && next >= 0x80 && next <= 0x9F)) {
            return false;
        }
    }
    return true;
}

TEST(EscapeFieldTest, WritesNoControlCharacterAndReadsBackUnchanged) {
    using namespace std::string_literals;
    const struct {
        std::string text;
        std::string escaped;
    } cases[] = {
        {"a\\b\tc\rd\ne", "a\\\\b\\tc\\rd\\ne"},
        {"\\t", "\\\\t"},  // a written escape stays apart from a real tab
        {"中文 plain", "中文 plain"},
        {"", ""},
        {"\0\x07\x08\x0c\x1b[31m\x1f\x7f"s, "\\x00\\x07\\x08\\x0c\\x1b[31m\\x1f\\x7f"},
        {"\u0080\u0085\u009b2J\u009f\u00a0é", "\\u0080\\u0085\\u009b2J\\u009f\u00a0é"},
        {"\x1b]0;owned\x07", "\\x1b]0;owned\\x07"},
    };
    for (const auto& c : cases) {
        const std::string escaped = EscapeField(c.text);
        EXPECT_EQ(escaped, c.escaped);
        EXPECT_TRUE(TerminalSafe(escaped) && escaped.find('\t') == std::string::npos) << escaped;
        EXPECT_EQ(Unescape(escaped), c.text) << escaped;
    }
}

TEST(CliWindowTest, PrintsARowOnceWhenItsLastCellArrives) {
    std::ostringstream rows;
    std::ostringstream messages;
    CliWindow window(rows, messages);
    const int first = window.AppendRow();
    const int second = window.AppendRow();
    for (int column = 0; column < kAddressColumn; ++column) window.SetCell(second, column, "x");
    for (int column = 0; column < kResultColumnCount; ++column) {
        window.SetCell(first, column, Utf8ToSystem(column == kAddressColumn ? "路\r\n1号" : "名"));
    }
    window.SetCell(first, kAddressColumn, "again");  // a rewrite does not print the row twice
    EXPECT_EQ(rows.str(), "名\t名\t名\t名\t名\t名\t路\\r\\n1号\n")
        << "the unfinished row is not shown";
    EXPECT_EQ(window.RowCount(), 2);
    EXPECT_EQ(window.ReadCell(first, kAddressColumn), "again");
    EXPECT_EQ(window.ReadCell(5, 0), "");

    window.SetStatusText(2, Utf8ToSystem("成功获取：4条"));
    window.SetTimerPeriod(0);
    EXPECT_EQ(window.ShowMessage(Utf8ToSystem("搜索完毕！"), {}, MessageBoxFlag::kOk), kAnswerOk);
    EXPECT_TRUE(window.SetClipboardText(Utf8ToSystem("页")));
    EXPECT_EQ(messages.str(),
              "status[2]: 成功获取：4条\ntimer: 0\nmessage: 搜索完毕！\nclipboard: 2 bytes\n");
}

TEST(VelmoraCliTest, PrintsEveryRowAndWhatTheWindowWouldShow) {
    site::SiteOptions options;
    options.pages = 2;
    options.linksPerPage = 3;
    options.companyPageBytes = 3000;
    site::SampleSite site(options);
    ASSERT_TRUE(site.Start()) << site.Error();
    const CliRun run = RunCli({"--site", site.BaseUrl() + "/", "机械"});
    EXPECT_EQ(run.exitCode, 0) << run.err;

    std::vector<std::string> rows = Lines(run.out);
    std::vector<std::string> expected;
    for (int number = 1; number <= 6; ++number) {
        expected.push_back(RowLine(site::GenerateCompany(site::KeywordSeed("机械"), number)));
    }
    std::sort(rows.begin(), rows.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(rows, expected);
    const std::vector<std::string> shown{
        "timer: 1000",
        "status[0]: 状态：运行中",
        "status[1]: 搜索结果：6条",
        "status[3]: 温馨提醒：【鼠标右键表格，可以弹出菜单！发现bug欢迎联系！】",
        "status[3]: 温馨提醒：【鼠标右键表格，可以弹出菜单！发现bug欢迎联系！】",
        "status[2]: 成功获取：6条",
        "timer: 0",
        "message: 搜索完毕！"};
    EXPECT_EQ(Lines(run.err), shown);
}

TEST(VelmoraCliTest, SiteComesFromTheSettingsFileUnlessNamedAndAnUnreachableOneEndsWithThree) {
    site::SiteOptions options;
    options.pages = 1;
    options.linksPerPage = 1;
    options.companyPageBytes = 3000;
    site::SampleSite site(options);
    ASSERT_TRUE(site.Start()) << site.Error();
    site::SampleSite gone(options);
    ASSERT_TRUE(gone.Start()) << gone.Error();
    const std::string goneBase = gone.BaseUrl();
    gone.Stop();
    test::ScratchFolder folder;
    std::filesystem::create_directory(folder.path() / "velmora");
    std::ofstream(folder.path() / "velmora" / "velmora.conf")
        << "# the team's mirror\nsite=" << site.BaseUrl() << "\n";
    const testing::ScopedVariable config(kConfigFolderVariable,
                                         Utf8FromPath(folder.path()).c_str());
    const testing::ScopedVariable variable("VELMORA_SITE", nullptr);
    const CliRun fromSettings = RunCli({"机械"});
    const CliRun unreachable = RunCli({"--site", goneBase, "机械"});

    EXPECT_EQ(fromSettings.exitCode, 0) << fromSettings.err;
    EXPECT_EQ(
        Lines(fromSettings.out),
        std::vector<std::string>{RowLine(site::GenerateCompany(site::KeywordSeed("机械"), 1))});
    EXPECT_EQ(unreachable.exitCode, 3) << unreachable.err;
    EXPECT_EQ(unreachable.out, "");
    const std::vector<std::string> shown{
        "timer: 1000", "status[0]: 状态：运行中", "timer: 0", "status[0]: 状态：连接失败",
        "message: 无法连接到目录网站：" + goneBase + "（对方拒绝连接）"};
    EXPECT_EQ(Lines(unreachable.err), shown);
}

TEST(VelmoraCliTest, ControlCharactersFromTheSiteReachTheTerminalEscaped) {
    site::SiteOptions options;
    options.pages = 1;
    options.linksPerPage = 3;
    options.companyPageBytes = 3000;
    options.faults = {*site::ParseFaultRule("control")};
    site::SampleSite site(options);
    ASSERT_TRUE(site.Start()) << site.Error();
    const CliRun run = RunCli({"--site", site.BaseUrl(), "机械"});
    EXPECT_EQ(run.exitCode, 0) << run.err;

    std::vector<std::string> rows = Lines(run.out);
    std::vector<std::string> expected;
    for (int number = 1; number <= 3; ++number) {
        expected.push_back(RowLine(
            site::WithControlBytes(site::GenerateCompany(site::KeywordSeed("机械"), number))));
    }
    std::sort(rows.begin(), rows.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(rows, expected);
    const std::vector<std::string> shown = Lines(run.err);
    EXPECT_NE(std::find(shown.begin(), shown.end(),
                        "status[1]: 搜索结果：" +
                            EscapeField("<b>3</b>" + std::string(site::kTerminalEscapes)) + "条"),
              shown.end());
    for (const std::string& line : Lines(run.out + run.err)) {
        EXPECT_TRUE(TerminalSafe(line)) << line;
    }
    const CliRun refused = RunCli({"--\x1b[31m", "a"});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(TerminalSafe(Lines(refused.err).front())) << refused.err;
}

TEST(VelmoraCliTest, RefusesABadCommandLineWithTheUsage) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{}, {"--bogus", "a"}, {"a", "b"}, {"a", "--export"}}) {
        const CliRun run = RunCli(args);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_TRUE(run.out.empty());
        EXPECT_FALSE(run.err.empty());
    }
    const CliRun help = RunCli({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.out, Usage());
}

TEST(VelmoraCliTest, ExportSavesTheSearchsRowsAndReportsOnStandardError) {
    site::SiteOptions options;
    options.pages = 2;
    options.linksPerPage = 3;
    site::SampleSite site(options);
    ASSERT_TRUE(site.Start()) << site.Error();
    test::ScratchFolder folder;
    const CliRun run = RunCli({"--site", site.BaseUrl(), "--export",
                               Utf8FromPath(folder.path() / PathFromUtf8("机械")), "机械"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    ASSERT_FALSE(Lines(run.err).empty());
    EXPECT_EQ(Lines(run.err).back(), "message: 数据导出成功! 共：6 行记录！！");

    const auto saved = test::ReadSavedWorkbook(folder.path() / PathFromUtf8("机械.xlsx"));
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->Text("F1"), "邮件");
    std::vector<std::string> exported = SavedRowLines(*saved, 2, 7);
    std::vector<std::string> printed = Lines(run.out);
    std::sort(exported.begin(), exported.end());
    std::sort(printed.begin(), printed.end());
    EXPECT_EQ(exported, printed) << "the file holds the rows the search printed";

    // A file that cannot be written: the rows are printed all the same, standard error names
    // the file and why, and the status is the export's own.
    namespace fs = std::filesystem;
    // The other user may enter the folder but not add to it.
    fs::permissions(folder.path(), static_cast<fs::perms>(0755));
    const fs::path closed = folder.path() / "closed";
    fs::create_directory(closed);
    ASSERT_EQ(SetReadOnly(closed, true), 0);
    ChildLimits tinyFiles;
    tinyFiles.fileBytes = 256;
    ChildLimits asNobody;
    asNobody.unprivileged = true;
    const struct {
        fs::path target;
        ChildLimits limits;
        std::string reason;
    } cases[] = {
        {folder.path() / "missing" / "x.xlsx", {}, "”所在的文件夹不存在"},
        {folder.path() / "full.csv", tinyFiles, "磁盘已满，文件“"},
        {closed / "x.xlsx", asNobody, "没有权限在文件“"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        // Skipped where read-only binds nobody (kReadOnlyBindsNothing) or no limit holds.
        if (c.limits.unprivileged && test::ChildCanWrite(closed, c.limits)) continue;
        CliSpawn spawn;
        spawn.limits = c.limits;
        const CliRun failed =
            RunCli({"--site", site.BaseUrl(), "--export", Utf8FromPath(c.target), "机械"}, spawn);
        if (failed.startError == ChildStartError::kLimitNotEnforced) continue;
        EXPECT_EQ(failed.exitCode, 6) << failed.err;
        EXPECT_EQ(Lines(failed.out).size(), 6u);
        const std::string told = Lines(failed.err).back();
        EXPECT_TRUE(told.starts_with("message: 数据导出失败! ")) << told;
        EXPECT_NE(told.find(EscapeField(Utf8FromPath(c.target))), std::string::npos) << told;
        EXPECT_NE(told.find(c.reason), std::string::npos) << told;
        EXPECT_FALSE(fs::exists(c.target));
    }
    ASSERT_EQ(SetReadOnly(closed, false), 0);
    // The journal kept the rows of the search whose export failed, as of the one that saved.
    const std::string history = RunCli({"--history"}).out;
    const std::string kept = "\tfinished\t6\t机械\t";
    EXPECT_NE(history.find(kept, history.find(kept) + 1), std::string::npos) << history;
}

TEST(VelmoraCliTest, InterruptEndsTheSearchAndKeepsTheRowsSoFar) {
    site::SiteOptions options;
    options.pages = 1;
    options.linksPerPage = 3;
    options.companyPageBytes = 3000;
    options.faults = {{site::FaultKind::Hold, site::FaultScope::Company, {2}}};
    std::promise<void> held;
    std::atomic<bool> seen{false};
    const std::string heldTarget = site::CompanyTarget(site::KeywordSeed("机械"), 2);
    options.onRequest = [&](const site::RecordedRequest& request) {
        if (request.target == heldTarget && !seen.exchange(true)) held.set_value();
    };
    site::SampleSite site(options);
    ASSERT_TRUE(site.Start()) << site.Error();
    test::ScratchFolder folder;
    CliSpawn spawn;
    spawn.environment = {"VELMORA_JOURNAL=" + Utf8FromPath(folder.path() / "journal.sqlite3")};
    spawn.whileRunning = [&](ChildProcess& child) {
        if (held.get_future().wait_for(std::chrono::seconds(60)) == std::future_status::ready) {
            EXPECT_TRUE(child.Interrupt());
        }
    };
    const CliRun run = RunCli({"--site", site.BaseUrl(), "机械"}, spawn);
    site.ReleaseHeld();
    EXPECT_EQ(run.exitCode, 130) << run.err;
    const std::vector<std::string> shown = Lines(run.err);
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.back(), "status[0]: 状态：结束中");
    EXPECT_EQ(std::count(shown.begin(), shown.end(), "message: 搜索完毕！"), 0);
    // The rows answered before the held page, and nothing after it; the journal keeps them.
    const std::size_t answered = site.RequestCount() - 4;
    EXPECT_EQ(Lines(run.out).size(), answered);
    std::vector<std::string> printed = Lines(run.out);
    CliSpawn inJournal;
    inJournal.environment = spawn.environment;
    std::vector<std::string> kept = Lines(RunCli({"--rows", "1"}, inJournal).out);
    std::sort(printed.begin(), printed.end());
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(kept, printed);
    const std::vector<std::string> history = Lines(RunCli({"--history"}, inJournal).out);
    ASSERT_EQ(history.size(), 1u);
    EXPECT_NE(history[0].find("\tstopped\t"), std::string::npos) << history[0];
}

}  // namespace
}  // namespace velmora::cli
