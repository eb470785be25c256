// velmora.exe as a user drives it: its own process against the sample site, its window found
// and worked through window messages from here, as another program on the desktop would.

#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>
#include <gtest/gtest.h>
#include <oleacc.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <set>
#include <span>
#include <string>

#include "SavedWorkbook.h"
#include "journal/Journal.h"
#include "journal/JournalFiles.h"
#include "platform/ChildProcess.h"
#include "platform/ReadOnly.h"
#include "platform/Utf8Path.h"
#include "platform/VerifiedLibrary.h"
#include "search/SearchTexts.h"
#include "tests/ChildMode.h"
#include "tests/ScratchFolder.h"
#include "tests/WriteProbe.h"
#include "tests/win/RunningWindow.h"
#include "tools/SampleSite.h"
#include "tools/SiteContent.h"
#include "win/MainWindow.h"
#include "win/SkinEngine.h"
#include "win/WideText.h"

namespace velmora {
namespace {

using test::RunningWindow;
using test::Send;
using test::WaitUntil;
using test::WindowText;

std::string FileBytes(const std::filesystem::path& file) {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(file, error);
    if (error) return {};
    std::string bytes(size, '\0');
    std::ifstream(file, std::ios::binary)
        .read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

// The machine a program is built for (IMAGE_FILE_MACHINE_*), as its PE header says; 0 when the
// file is no program.
unsigned ProgramMachine(const std::filesystem::path& file) {
    const std::string bytes = FileBytes(file);
    const auto at = [&](std::size_t offset, std::size_t size) {
        unsigned value = 0;
        for (std::size_t i = size; i-- > 0 && offset + size <= bytes.size();)
            value = value << 8 | static_cast<unsigned char>(bytes[offset + i]);
        return value;
    };
    const unsigned header = at(0x3C, 4);                     // IMAGE_DOS_HEADER's e_lfanew
    return at(header, 4) == 0x4550 ? at(header + 4, 2) : 0;  // after "PE\0\0"
}

// Holds the file it is given open as a spreadsheet application holds the workbook it shows,
// sharing it with nobody, and says "held" once it does; lets go when its standard input ends.
int HoldOpen(const std::vector<std::string>& arguments) {
    const HANDLE file =
        CreateFileW(PathFromUtf8(arguments.at(0)).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    std::fputs("held\n", stdout);
    std::fflush(stdout);
    while (std::fgetc(stdin) != EOF) continue;
    CloseHandle(file);
    return 0;
}
const testing::ChildMode kHoldOpen("hold-open", HoldOpen);

// A value of the program's uninstall entry; empty when there is none.
std::string UninstallEntry(const wchar_t* name) {
    wchar_t value[MAX_PATH] = {};
    DWORD bytes = sizeof value;
    if (RegGetValueW(HKEY_CURRENT_USER,
                     L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Velmora", name,
                     RRF_RT_REG_SZ, nullptr, value, &bytes) != ERROR_SUCCESS)
        return {};
    return Utf8(value);
}

// A control's rectangle in its parent's client area.
RECT PlaceOf(HWND control) {
    RECT rect{};
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

class WinWindowTest : public ::testing::Test {
protected:
    // A site of two result pages of three companies each, answering at once unless `options`
    // hold answers back.
    void StartSite(site::SiteOptions options = {}) {
        options.pages = 2;
        options.linksPerPage = 3;
        options.companyPageBytes = 3000;
        site_ = std::make_unique<site::SampleSite>(options);
        ASSERT_TRUE(site_->Start()) << site_->Error();
    }
    int RowsPerSearch() const { return site_->Options().pages * site_->Options().linksPerPage; }
    // Types the keyword, starts the search and answers the box that ends it: the box's text.
    static std::string SearchToTheEnd(const RunningWindow& window, const char* keyword) {
        window.TypeKeyword(keyword);
        window.Click(Control::按钮_开始);
        return window.AnswerMessageBox();
    }

    test::ScratchFolder home_{"velmora-window"};
    std::unique_ptr<site::SampleSite> site_;
};

TEST_F(WinWindowTest, BuildsTheFormAndSearchesOnAClick) {
    StartSite();
    RunningWindow window(VELMORA_PATH, site_->BaseUrl(), home_.path());
    ASSERT_TRUE(window.Opened());
    EXPECT_EQ(WindowText(window.Handle()), kMainWindowCaption);
    for (const ControlForm& form : kControls) {
        if (form.kind == ControlKind::kButton || form.kind == ControlKind::kLabel) {
            EXPECT_EQ(WindowText(window.ControlHandle(form.control)), form.text) << form.name;
        }
    }
    HWND list = window.ControlHandle(Control::超级列表框1);
    EXPECT_EQ(Send(reinterpret_cast<HWND>(Send(list, LVM_GETHEADER)), HDM_GETITEMCOUNT),
              kResultColumnCount);
    for (int column = 0; column < kResultColumnCount; ++column)
        EXPECT_EQ(Send(list, LVM_GETCOLUMNWIDTH, column), kListColumns[column].width);
    EXPECT_EQ(Send(window.ControlHandle(Control::状态条1), SB_GETPARTS), kStatusPartCount);
    // The skin engine is written beside the program, loaded from there, and paints the list.
    const std::filesystem::path engine =
        std::filesystem::path(VELMORA_PATH).parent_path() / "hrttp.dll";
    EXPECT_EQ(FileBytes(engine), FileBytes(VELMORA_SKIN_ENGINE_PATH));
    EXPECT_TRUE(window.HasLoaded(engine));
    EXPECT_NE(static_cast<COLORREF>(Send(list, LVM_GETBKCOLOR)), GetSysColor(COLOR_WINDOW));
    for (int part = 0; part < kStatusPartCount; ++part)
        EXPECT_EQ(window.StatusPart(part), kStatusParts[part].initialText) << part;
    // Screen readers name the keyword box and the list (the box after its label).
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    for (const Control control : {Control::编辑框_搜索内容, Control::超级列表框1}) {
        IAccessible* accessible = nullptr;
        ASSERT_EQ(AccessibleObjectFromWindow(window.ControlHandle(control), OBJID_CLIENT,
                                             __uuidof(IAccessible),
                                             reinterpret_cast<void**>(&accessible)),
                  S_OK);
        BSTR name = nullptr;
        EXPECT_EQ(
            accessible->get_accName(VARIANT{{{VT_I4, 0, 0, 0, {.lVal = CHILDID_SELF}}}}, &name),
            S_OK);
        EXPECT_EQ(Utf8(name != nullptr ? name : L""), AccessibleName(control));
        SysFreeString(name);
        accessible->Release();
    }
    CoUninitialize();

    EXPECT_EQ(SearchToTheEnd(window, "机械"), "搜索完毕！");
    ASSERT_EQ(window.RowCount(), RowsPerSearch());
    std::vector<std::string> shown;
    std::vector<std::string> expected;
    for (int row = 0; row < RowsPerSearch(); ++row) {
        shown.push_back(window.CellText(row, 0) + "|" +
                        window.CellText(row, kResultColumnCount - 1));
        const site::CompanyRecord company =
            site::GenerateCompany(site::KeywordSeed("机械"), row + 1);
        expected.push_back(company.companyName + "|" + company.address);
    }
    std::sort(shown.begin(), shown.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(shown, expected);
    EXPECT_EQ(window.StatusPart(2), "成功获取：" + std::to_string(RowsPerSearch()) + "条");

    const ChildExit exit = window.Close();
    EXPECT_TRUE(exit.exited);
    EXPECT_EQ(exit.code, 0);
}

// Keys as the user presses them: Tab and Shift+Tab in the form's order with the focus shown,
// Enter in the keyword box and on a button, Space on a button, a harmless Escape, the focus kept
// across message boxes, and the list's menu by Shift+F10 and the menu key at the selected row.
TEST_F(WinWindowTest, WorksByKeyboardAlone) {
    StartSite();
    RunningWindow window(VELMORA_PATH, site_->BaseUrl(), home_.path());
    ASSERT_TRUE(window.Opened());
    std::vector<HWND> order;
    for (const ControlForm& form : kControls)
        if (TakesFocus(form.kind)) order.push_back(window.ControlHandle(form.control));
    const auto focusMovesTo = [&](std::initializer_list<WORD> keys, HWND expected) {
        window.PressKeys(keys);
        return WaitUntil([&] { return window.Focused() == expected; });
    };
    ASSERT_EQ(window.Focused(), order.front());
    for (std::size_t step = 1; step <= order.size(); ++step)
        ASSERT_TRUE(focusMovesTo({VK_TAB}, order[step % order.size()])) << step;
    ASSERT_TRUE(focusMovesTo({VK_SHIFT, VK_TAB}, order.back()));
    EXPECT_EQ(Send(window.Handle(), WM_QUERYUISTATE) & UISF_HIDEFOCUS, 0u);

    ASSERT_TRUE(focusMovesTo({VK_TAB}, order.front()));
    window.TypeKeyword("机械");
    HWND start = window.ControlHandle(Control::按钮_开始);
    // Escape closes nothing and starts nothing: each press after it is one search.
    for (const auto& [focused, press] :
         {std::pair<HWND, WORD>{order.front(), VK_RETURN}, {start, VK_SPACE}, {start, VK_RETURN}}) {
        window.BringToFront();  // as the user's click does after a message box
        ASSERT_TRUE(focused == window.Focused() || focusMovesTo({VK_TAB}, focused));
        window.PressKeys({VK_ESCAPE});
        window.PressKeys({press});
        EXPECT_EQ(window.AnswerMessageBox(), "搜索完毕！") << press;
    }
    EXPECT_EQ(window.RowCount(), 3 * RowsPerSearch());

    HWND list = window.ControlHandle(Control::超级列表框1);
    ASSERT_TRUE(focusMovesTo({VK_SHIFT, VK_TAB}, order.front()));
    ASSERT_TRUE(focusMovesTo({VK_SHIFT, VK_TAB}, list));
    window.PressKeys({VK_END});
    const int last = window.RowCount() - 1;
    ASSERT_TRUE(WaitUntil([&] { return Send(list, LVM_GETNEXTITEM, -1, LVNI_SELECTED) == last; }));
    RECT row{LVIR_BOUNDS, 0, 0, 0};
    window.SendWithData(list, LVM_GETITEMRECT, last, &row, sizeof row);
    POINT expected{kMenuOffset.x, row.top + kMenuOffset.y};
    ClientToScreen(list, &expected);
    for (const auto keys : {std::initializer_list<WORD>{VK_SHIFT, VK_F10}, {VK_APPS}}) {
        window.PressKeys(keys);
        HWND menu = window.WaitForMenu();
        RECT shown{};
        ASSERT_TRUE(GetWindowRect(menu, &shown)) << keys.size();
        EXPECT_EQ(std::pair(shown.left, shown.top), std::pair(expected.x, expected.y))
            << keys.size();
        window.PressKeys({VK_ESCAPE});
        EXPECT_TRUE(WaitUntil([&] { return !IsWindowVisible(menu); }));
    }
    EXPECT_EQ(window.Close().code, 0);
}

// A page the pattern does not read goes whole onto the clipboard; a real right click on the list
// opens the menu beside the cursor, and its entry runs.
TEST_F(WinWindowTest, PutsAnUnreadablePageOnTheClipboardAndOpensTheMenuByARightClick) {
    site::SiteOptions options;
    options.faults = {{site::FaultKind::NoMatch, site::FaultScope::Company, {2}}};
    StartSite(options);
    RunningWindow window(VELMORA_PATH, site_->BaseUrl(), home_.path());
    ASSERT_TRUE(window.Opened());
    window.TypeKeyword("机械");
    window.Click(Control::按钮_开始);
    ASSERT_EQ(window.AnswerMessageBox(), "搜索完毕！");
    site::CompanyPageParams unreadable{.seed = site::KeywordSeed("机械"), .number = 2};
    unreadable.minimumBytes = site_->Options().companyPageBytes;
    unreadable.markup = site::Markup::Changed;
    ASSERT_TRUE(OpenClipboard(nullptr));
    HANDLE clipboard = GetClipboardData(CF_UNICODETEXT);
    ASSERT_NE(clipboard, nullptr);
    EXPECT_EQ(Utf8(static_cast<const wchar_t*>(GlobalLock(clipboard))),
              site::RenderCompanyPage(unreadable));
    GlobalUnlock(clipboard);
    CloseClipboard();

    POINT click{100, 100};
    ClientToScreen(window.ControlHandle(Control::超级列表框1), &click);
    window.RightClick(click);
    RECT shown{};
    ASSERT_TRUE(GetWindowRect(window.WaitForMenu(), &shown));
    EXPECT_EQ(std::pair(shown.left, shown.top), std::pair(click.x + 3, click.y + 3));
    window.PressKeys({VK_UP});  // the last entry, "关于", with no search to resume
    window.PressKeys({VK_RETURN});
    EXPECT_TRUE(window.AnswerMessageBox(IDNO).starts_with("软件只是一时兴起"));
    EXPECT_EQ(window.Close().code, 0);
}

// At 144 dots per inch from the start (Wine takes the system's from the registry at a program's
// start), then moved to a monitor of 192 while a long export shows its progress: every control,
// column, status part and the progress box scaled, none past the window's edges.
TEST_F(WinWindowTest, FollowsTheResolutionAtStartAndOnAChange) {
    StartSite();
    // Rows enough for an export to outlast the delay before its progress shows, put back from
    // an interrupted search at the start.
    constexpr int kRows = 10000;
    {
        Journal journal(Utf8FromPath(home_.path() / "velmora" / kJournalFileName));
        const auto search = journal.BeginSearch("k", "site", SearchOrigin::kWindow);
        ASSERT_TRUE(search.has_value());
        std::vector<StoredRow> rows(kRows);
        for (int n = 0; n < kRows; ++n) rows[n].row.companyName = "c" + std::to_string(n);
        ASSERT_TRUE(journal.AddRows(*search, rows));
    }
    const DWORD startDpi = 144;
    ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", L"LogPixels", REG_DWORD,
                              &startDpi, sizeof startDpi),
              ERROR_SUCCESS);
    RunningWindow window(VELMORA_PATH, site_->BaseUrl(), home_.path());
    RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", L"LogPixels");
    ASSERT_TRUE(window.Opened());
    HWND list = window.ControlHandle(Control::超级列表框1);
    ASSERT_TRUE(WaitUntil([&] { return window.RowCount() == kRows; }));
    // The journal's notice comes after the rows, and the list makes room for it.
    ASSERT_TRUE(
        WaitUntil([&] { return IsWindowVisible(window.ControlHandle(Control::journalField)); }));
    std::array<int, kResultColumnCount> columns{};
    for (int column = 0; column < kResultColumnCount; ++column)
        columns[column] = MulDiv(kListColumns[column].width, 144, 96);
    const auto expectScaled = [&](int dpi) {
        SCOPED_TRACE(dpi);
        const auto scaled = [dpi](int pixels) { return MulDiv(pixels, dpi, 96); };
        RECT client{};
        GetClientRect(window.Handle(), &client);
        const MainWindowLayout layout =
            LayOutMainWindow({client.right * 96 / dpi, client.bottom * 96 / dpi}, true);
        const std::pair<Control, Rect> laidOut[] = {{Control::超级列表框1, layout.list},
                                                    {Control::journalField, layout.journalField},
                                                    {Control::状态条1, layout.statusBar},
                                                    {Control::标签2, layout.elapsedLabel}};
        for (const ControlForm& form : kControls) {
            Rect r = form.rect;
            for (const auto& [control, rect] : laidOut) r = control == form.control ? rect : r;
            const RECT expected{scaled(r.left), scaled(r.top), scaled(r.left) + scaled(r.width),
                                scaled(r.top) + scaled(r.height)};
            const RECT placed = PlaceOf(window.ControlHandle(form.control));
            EXPECT_TRUE(EqualRect(&placed, &expected)) << form.name;
            // Only the elapsed-time label reaches past the right edge, as the form has it.
            EXPECT_LE(placed.right,
                      client.right + (form.control == Control::标签2 ? scaled(12) : 0));
            EXPECT_LE(placed.bottom, client.bottom) << form.name;
        }
        columns[kAddressColumn] = scaled(layout.widenedColumn.width);
        for (int column = 0; column < kResultColumnCount; ++column)
            EXPECT_EQ(Send(list, LVM_GETCOLUMNWIDTH, column), columns[column]) << column;
        int edges[kStatusPartCount] = {};
        window.SendWithData(window.ControlHandle(Control::状态条1), SB_GETPARTS, kStatusPartCount,
                            edges, sizeof edges);
        for (int part = 0, right = 0; part < kStatusPartCount; ++part)
            EXPECT_EQ(edges[part], right += scaled(layout.statusPartWidths[part])) << part;
        EXPECT_LE(edges[kStatusPartCount - 1], client.right);
    };
    RECT client{};
    GetClientRect(window.Handle(), &client);
    EXPECT_EQ(client.right, MulDiv(kClientSize.width, 144, 96));
    expectScaled(144);

    PostMessageW(window.Handle(), WM_COMMAND, kFirstMenuId + 0, 0);
    ASSERT_TRUE(window.AnswerSaveDialog(Utf8FromPath(home_.path() / "all.xlsx")));
    HWND progress = nullptr;
    ASSERT_TRUE(WaitUntil([&] {
        return (progress = FindWindowW(WC_STATICW, Wide(kDefaultMessageCaption).c_str())) &&
               IsWindowVisible(progress);
    }));
    const auto expectProgressBox = [&](int dpi) {
        RECT box{};
        GetWindowRect(progress, &box);
        EXPECT_EQ(box.right - box.left, MulDiv(320, dpi, 96));
        EXPECT_EQ(box.bottom - box.top, MulDiv(110, dpi, 96));
    };
    expectProgressBox(144);
    RECT suggested{};
    GetWindowRect(window.Handle(), &suggested);
    suggested.right = suggested.left + MulDiv(suggested.right - suggested.left, 192, 144);
    suggested.bottom = suggested.top + MulDiv(suggested.bottom - suggested.top, 192, 144);
    window.SendWithData(window.Handle(), WM_DPICHANGED, MAKEWPARAM(192, 192), &suggested,
                        sizeof suggested);
    expectProgressBox(192);
    EXPECT_EQ(window.AnswerMessageBox(),
              "数据导出成功! 共：" + std::to_string(kRows) + " 行记录！！");
    for (int& width : columns) width = MulDiv(width, 192, 144);
    expectScaled(192);
    EXPECT_EQ(window.Close().code, 0);
}

TEST_F(WinWindowTest, PutsBackTheRowsOfASearchKilledMidway) {
    // Slow answers leave seconds between the second row and the search's end. A row shown whole
    // (its last cell, the address, written) is in the journal.
    site::SiteOptions options;
    options.latencyMs = 1000;
    StartSite(options);
    for (int number = 1; number <= RowsPerSearch(); ++number)
        ASSERT_NE(site::GenerateCompany(site::KeywordSeed("机械"), number).address, "");
    const auto wholeRows = [](const RunningWindow& window) {
        int whole = 0;
        for (int row = 0; row < window.RowCount(); ++row)
            whole += window.CellText(row, kResultColumnCount - 1).empty() ? 0 : 1;
        return whole;
    };
    int shownWhole = 0;
    {
        RunningWindow window(VELMORA_PATH, site_->BaseUrl(), home_.path());
        ASSERT_TRUE(window.Opened());
        window.TypeKeyword("机械");
        window.Click(Control::按钮_开始);
        ASSERT_TRUE(WaitUntil([&] { return (shownWhole = wholeRows(window)) >= 2; }));
        window.Kill();
    }
    RunningWindow restarted(VELMORA_PATH, site_->BaseUrl(), home_.path());
    ASSERT_TRUE(restarted.Opened());
    HWND notice = restarted.ControlHandle(Control::journalField);
    ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(notice); }));
    const int restored = restarted.RowCount();
    EXPECT_GE(restored, shownWhole);
    EXPECT_LT(restored, RowsPerSearch());
    EXPECT_EQ(wholeRows(restarted), restored);
    EXPECT_NE(WindowText(notice).find(std::to_string(restored)), std::string::npos)
        << WindowText(notice);
    EXPECT_EQ(restarted.Close().code, 0);
}

TEST_F(WinWindowTest, PausesResumesStopsAndClosesDuringABatch) {
    // No company's answer comes: every search stands in its first batch.
    site::SiteOptions options;
    site::FaultRule hold{site::FaultKind::Hold, site::FaultScope::Company, {}};
    hold.from = 1;
    options.faults = {hold};
    StartSite(options);
    RunningWindow window(VELMORA_PATH, site_->BaseUrl(), home_.path());
    ASSERT_TRUE(window.Opened());
    // A company page is asked for once its batch runs (its workers take turns).
    const auto batchRuns = [&] {
        site_->ClearRequests();
        window.Click(Control::按钮_开始);
        return WaitUntil([&] {
            const std::vector<site::RecordedRequest> requests = site_->Requests();
            return std::any_of(requests.begin(), requests.end(), [](const auto& request) {
                return request.fault == site::FaultKind::Hold;
            });
        });
    };
    window.TypeKeyword("机械");
    ASSERT_TRUE(batchRuns());
    const struct {
        Control button;
        const char* status;
    } steps[] = {
        {Control::按钮_暂停搜索, search_text::kStatusPaused},
        {Control::按钮_继续搜索, search_text::kStatusResumed},
        {Control::按钮_停止搜索, search_text::kStatusEnding},
    };
    for (const auto& step : steps) {
        window.Click(step.button);
        EXPECT_TRUE(WaitUntil([&] { return window.StatusPart(0) == step.status; }))
            << step.status << " " << window.StatusPart(0);
    }

    ASSERT_TRUE(batchRuns());
    window.AskToClose();
    EXPECT_EQ(window.AnswerMessageBox(), "欢迎使用！");
    const ChildExit exit = window.Wait();
    EXPECT_TRUE(exit.exited);
    EXPECT_EQ(exit.code, 0);
    EXPECT_EQ(window.RowCount(), 0);
}

TEST_F(WinWindowTest, ExportsTheListThroughTheSaveDialog) {
    StartSite();
    RunningWindow window(VELMORA_PATH, site_->BaseUrl(), home_.path());
    ASSERT_TRUE(window.Opened());
    ASSERT_EQ(SearchToTheEnd(window, "机械"), "搜索完毕！");
    const struct {
        MenuCommand command;
        const char* typed;  // without an extension: the dialog's chosen entry gives it
        const char* saved;
        const char* header;
        std::string site::CompanyRecord::*field;
    } exports[] = {
        {0, "全部.xlsx", "全部.xlsx", "公司名", &site::CompanyRecord::companyName},
        {1, "公司名", "公司名.xlsx", "公司名", &site::CompanyRecord::companyName},
        {2, "手机号.xlsx", "手机号.xlsx", "手机号", &site::CompanyRecord::mobile},
        {3, "邮箱.xlsx", "邮箱.xlsx", "邮箱", &site::CompanyRecord::email},
    };
    for (const auto& entry : exports) {
        SCOPED_TRACE(entry.saved);
        // The list's column as the site gave it, and as the saved sheet has it under its header.
        std::multiset<std::string> listed;
        for (int number = 1; number <= RowsPerSearch(); ++number) {
            std::string cell =
                site::GenerateCompany(site::KeywordSeed("机械"), number).*entry.field;
            if (!cell.empty()) listed.insert(std::move(cell));
        }
        PostMessageW(window.Handle(), WM_COMMAND, static_cast<WPARAM>(kFirstMenuId + entry.command),
                     0);
        ASSERT_TRUE(
            window.AnswerSaveDialog(Utf8FromPath(home_.path() / PathFromUtf8(entry.typed))));
        EXPECT_EQ(window.AnswerMessageBox(),
                  "数据导出成功! 共：" + std::to_string(listed.size()) + " 行记录！！");
        const auto saved = test::ReadSavedWorkbook(home_.path() / PathFromUtf8(entry.saved));
        ASSERT_TRUE(saved.has_value()) << home_.Listing();
        EXPECT_EQ(saved->Text("A1"), entry.header);
        std::multiset<std::string> column;
        for (int row = 2; row <= 1 + RowsPerSearch() + 1; ++row) {
            std::string cell = saved->Text("A" + std::to_string(row));
            if (!cell.empty()) column.insert(std::move(cell));
        }
        EXPECT_EQ(column, listed);
    }
    EXPECT_EQ(window.Close().code, 0);
}

TEST_F(WinWindowTest, ExportOntoAFileHeldOpenIsToldAndLosesNothing) {
    StartSite();
    RunningWindow window(VELMORA_PATH, site_->BaseUrl(), home_.path());
    ASSERT_TRUE(window.Opened());
    ASSERT_EQ(SearchToTheEnd(window, "机械"), "搜索完毕！");
    const std::filesystem::path file = home_.path() / PathFromUtf8("客户名单.xlsx");
    const std::string kept = "the workbook as another program shows it";
    std::ofstream(file, std::ios::binary) << kept;
    const auto exportAll = [&] {
        PostMessageW(window.Handle(), WM_COMMAND, static_cast<WPARAM>(kFirstMenuId), 0);
        EXPECT_TRUE(window.AnswerSaveDialog(Utf8FromPath(file)));
        return window.AnswerMessageBox();
    };
    ChildProcess holder;
    ChildOptions holding;
    holding.input = ChildStream::kPipe;
    holding.output = ChildStream::kPipe;
    ASSERT_TRUE(kHoldOpen.Start(holder, {Utf8FromPath(file)}, holding)) << holder.error();
    std::optional<ChildOutput> said = holder.ReadOutput();
    ASSERT_TRUE(said && said->bytes.starts_with("held")) << (said ? said->bytes : "");
    EXPECT_EQ(exportAll(), "数据导出失败! 文件“" + Utf8FromPath(file) +
                               "”被其他程序占用：请在那个程序里关闭它，然后重新保存。");
    EXPECT_EQ(window.RowCount(), RowsPerSearch());
    holder.CloseInput();
    EXPECT_EQ(holder.Wait().code, 0);
    EXPECT_EQ(FileBytes(file), kept);
    EXPECT_EQ(exportAll(), "数据导出成功! 共：" + std::to_string(RowsPerSearch()) + " 行记录！！")
        << "saved again at once";
    EXPECT_EQ(home_.Listing(), "velmora 客户名单.xlsx") << "no fresh file is left behind";
    EXPECT_EQ(window.Close().code, 0);
}

// Past MAX_PATH the program's file calls get the form that every Windows takes (the export's
// test saves under such a path); Wine takes the plain one too, so only the form shows what
// Windows would need.
TEST(LongPathTest, PathsPastMaxPathTakeTheFormEveryWindowsTakes) {
    const std::string folder = "C:\\users\\" + std::string(250, 'f');
    EXPECT_EQ(PathFromUtf8(folder).native(), L"\\\\?\\" + Wide(folder));
    EXPECT_EQ(Utf8FromPath(PathFromUtf8(folder)), folder);
    const std::string share = "\\\\server\\share\\" + std::string(250, 's');
    EXPECT_EQ(PathFromUtf8(share).native(), L"\\\\?\\UNC\\" + Wide(share.substr(2)));
    EXPECT_EQ(PathFromUtf8("C:\\users\\short").native(), L"C:\\users\\short");
}

// A copy of the program in a folder its user cannot write, as in Program Files or on a
// read-only share, with the user's folders under a Chinese name.
TEST_F(WinWindowTest, StartsFromAReadOnlyFolderWithTheUsersFilesUnderAChineseName) {
    namespace fs = std::filesystem;
    StartSite();
    const fs::path user = PathFromUtf8("C:\\users\\张三");
    struct Removed {
        fs::path path;
        ~Removed() {
            std::error_code ignored;
            fs::remove_all(path, ignored);
        }
    } removed{user};
    const fs::path own = user / "velmora";
    fs::create_directories(own);
    // The site comes from the settings file there, not from the environment.
    std::ofstream(own / "velmora.conf", std::ios::binary) << "site=" << site_->BaseUrl() << "\n";
    const fs::path programs = home_.path() / PathFromUtf8("只读程序");
    fs::create_directory(programs);
    const fs::path program = programs / "velmora.exe";
    fs::copy_file(VELMORA_PATH, program);
    const std::string image = FileBytes(VELMORA_SKIN_ENGINE_PATH);
    const fs::path beside = programs / kSkinEngineFileName;
    const fs::path ownCopy = own / kSkinEngineFileName;
    std::ofstream(beside, std::ios::binary) << image;
    ASSERT_EQ(SetReadOnly(programs, true), 0);
    if (test::ChildCanWrite(programs, {})) GTEST_SKIP() << test::kReadOnlyBindsNothing;

    {
        SCOPED_TRACE("an identical library beside the program is loaded as it is");
        RunningWindow window(program, "", user);
        ASSERT_TRUE(window.Opened());
        EXPECT_TRUE(window.HasLoaded(beside));
        EXPECT_FALSE(fs::exists(ownCopy));
        EXPECT_EQ(window.Close().code, 0);
    }
    ASSERT_EQ(SetReadOnly(programs, false), 0);
    fs::remove(beside);
    ASSERT_EQ(SetReadOnly(programs, true), 0);
    {
        SCOPED_TRACE("the library goes to the user's folder");
        RunningWindow window(program, "", user);
        ASSERT_TRUE(window.Opened());
        EXPECT_FALSE(fs::exists(beside));
        EXPECT_EQ(FileBytes(ownCopy), image);
        EXPECT_TRUE(window.HasLoaded(ownCopy));
        EXPECT_EQ(SearchToTheEnd(window, "机械"), "搜索完毕！");
        EXPECT_EQ(window.RowCount(), RowsPerSearch());
        EXPECT_EQ(window.Close().code, 0);
        EXPECT_TRUE(fs::exists(own / kJournalFileName));
    }
    {
        SCOPED_TRACE("no folder takes the library: the fatal report");
        fs::remove(ownCopy);
        ASSERT_EQ(SetReadOnly(own, true), 0);
        RunningWindow window(program, "", user);
        const std::string report = window.AnswerMessageBox();
        EXPECT_TRUE(report.starts_with("运行时出错!")) << report;
        EXPECT_NE(report.find("无法找到指定DLL库文件“" + Utf8FromPath(beside) + "”"),
                  std::string::npos)
            << report;
        const ChildExit exit = window.Wait();
        EXPECT_TRUE(exit.exited && exit.code == -1) << exit.code;
        ASSERT_EQ(SetReadOnly(own, false), 0);
    }
    ASSERT_EQ(SetReadOnly(programs, false), 0);
}

// The one installer of both builds, which scripts/test-windows makes once both are built.
TEST_F(WinWindowTest, InstallsForTheUserRunsAndUninstallsLeavingTheJournal) {
    const char* installer = std::getenv("VELMORA_SETUP");
    if (installer == nullptr) GTEST_SKIP() << "VELMORA_SETUP names no installer";
    StartSite();
    const std::filesystem::path folder = home_.path() / "Programs" / "Velmora";
    ChildProcess setup;
    ASSERT_TRUE(setup.Start(PathFromUtf8(installer), {"/S", "/D=" + Utf8FromPath(folder)}));
    ASSERT_EQ(setup.Wait().code, 0);
    for (const char* file : {"velmora.exe", "velmora-cli.exe", "README.txt", "uninstall.exe"})
        EXPECT_TRUE(std::filesystem::exists(folder / file)) << file;
    // The Windows this test runs on is of its own architecture (a 32-bit Wine prefix for the
    // 32-bit build), and the programs installed must be of that one too.
    constexpr unsigned kThisMachine =
        sizeof(void*) == 8 ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386;
    for (const char* program : {"velmora.exe", "velmora-cli.exe"})
        EXPECT_EQ(ProgramMachine(folder / program), kThisMachine) << program;
    EXPECT_EQ(UninstallEntry(L"InstallLocation"), Utf8FromPath(folder));

    ChildOptions cliOptions;
    cliOptions.environment = {std::string(kJournalVariable),
                              "APPDATA=" + Utf8FromPath(home_.path()),
                              "LOCALAPPDATA=" + Utf8FromPath(home_.path())};
    cliOptions.output = ChildStream::kDiscard;
    cliOptions.error = ChildStream::kDiscard;
    ChildProcess cli;
    ASSERT_TRUE(
        cli.Start(folder / "velmora-cli.exe", {"--site", site_->BaseUrl(), "机械"}, cliOptions));
    EXPECT_EQ(cli.Wait().code, 0);
    const std::filesystem::path journal = home_.path() / "velmora" / kJournalFileName;
    EXPECT_TRUE(std::filesystem::exists(journal));
    {
        RunningWindow window(folder / "velmora.exe", site_->BaseUrl(), home_.path());
        ASSERT_TRUE(window.Opened());
        EXPECT_EQ(window.Close().code, 0);
    }

    ChildProcess uninstall;
    ASSERT_TRUE(uninstall.Start(folder / "uninstall.exe", {"/S"}));
    uninstall.Wait();
    // The uninstaller runs on from a copy of itself, which removes the folder at its end.
    EXPECT_TRUE(WaitUntil([&] { return !std::filesystem::exists(folder); }));
    EXPECT_TRUE(std::filesystem::exists(journal));
    EXPECT_EQ(UninstallEntry(L"InstallLocation"), "");
}

TEST(VerifiedLibraryTest, LoadsTheFileOnlyWhenItIsTheImage) {
    const std::string built = FileBytes(VELMORA_SKIN_ENGINE_PATH);
    ASSERT_FALSE(built.empty());
    const std::span image(reinterpret_cast<const unsigned char*>(built.data()), built.size());
    std::string changed = built;
    changed[changed.size() / 2] ^= 1;
    const struct {
        const char* name;
        std::string written;
        bool loads;
    } cases[] = {
        {"same.dll", built, true},
        {"changed.dll", changed, false},
        {"short.dll", built.substr(0, built.size() - 1), false},
    };
    // Loaded libraries keep their files: the folder outlives the cases.
    static const test::ScratchFolder folder("velmora-library");
    for (const auto& c : cases) {
        const std::filesystem::path file = folder.path() / c.name;
        std::ofstream(file, std::ios::binary) << c.written;
        void* library = LoadVerifiedLibrary(file, image);
        EXPECT_EQ(library != nullptr, c.loads) << c.name;
        if (library == nullptr) continue;
        EXPECT_NE(LibraryFunction(library, "SkinH_AttachEx"), nullptr);
        EXPECT_EQ(LibraryFunction(library, "SkinH_Missing"), nullptr);
        // Open and unchangeable while loaded.
        EXPECT_FALSE(std::ofstream(file, std::ios::binary | std::ios::app).is_open());
    }
}

}  // namespace
}  // namespace velmora
