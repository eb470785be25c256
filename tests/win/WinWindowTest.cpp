// velmora.exe as a user drives it: its own process against the sample site, its window found
// and worked through window messages from here, as another program on the desktop would.

#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "journal/JournalFiles.h"
#include "platform/ChildProcess.h"
#include "platform/Utf8Path.h"
#include "tests/ScratchFolder.h"
#include "tools/SampleSite.h"
#include "win/MainWindow.h"
#include "win/WideText.h"

namespace velmora {
namespace {

// Wine starts a window's process in about a second; a loaded machine takes many times that.
constexpr auto kPatience = std::chrono::seconds(120);
// How often a wait looks at the window again.
constexpr auto kPollInterval = std::chrono::milliseconds(20);
constexpr DWORD kSendTimeoutMs = 30000;
// A message box's text control, as the system builds the box.
constexpr int kMessageBoxTextId = 0xFFFF;

// Polls `reached` until it holds or the patience runs out.
bool WaitUntil(const std::function<bool()>& reached) {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (!reached()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(kPollInterval);
    }
    return true;
}

LRESULT Send(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, kSendTimeoutMs, &result);
    return static_cast<LRESULT>(result);
}

std::string WindowText(HWND window) {
    wchar_t text[512] = {};
    Send(window, WM_GETTEXT, std::size(text), reinterpret_cast<LPARAM>(text));
    return Utf8(text);
}

// The top-level windows of class `className` that belong to `process`.
std::vector<HWND> WindowsOf(DWORD process, const wchar_t* className) {
    struct Search {
        DWORD process;
        const wchar_t* className;
        std::vector<HWND> found;
    } search{process, className, {}};
    EnumWindows(
        [](HWND window, LPARAM data) -> BOOL {
            auto& wanted = *reinterpret_cast<Search*>(data);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            wchar_t name[64] = {};
            GetClassNameW(window, name, static_cast<int>(std::size(name)));
            if (owner == wanted.process && std::wstring_view(name) == wanted.className)
                wanted.found.push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Memory in another process, for the messages whose answers the system does not carry between
// processes.
class RemoteMemory {
public:
    RemoteMemory(DWORD process, std::size_t bytes)
        : process_(OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE,
                               process)),
          address_(VirtualAllocEx(process_, nullptr, bytes, MEM_COMMIT, PAGE_READWRITE)) {}
    ~RemoteMemory() {
        VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
        CloseHandle(process_);
    }
    RemoteMemory(const RemoteMemory&) = delete;
    RemoteMemory& operator=(const RemoteMemory&) = delete;

    void* Address() const { return address_; }
    void Write(const void* bytes, std::size_t size) const {
        WriteProcessMemory(process_, address_, bytes, size, nullptr);
    }
    void Read(void* bytes, std::size_t size) const {
        ReadProcessMemory(process_, address_, bytes, size, nullptr);
    }

private:
    HANDLE process_;
    void* address_;
};

// velmora.exe running with its settings and journal in `home` (%APPDATA%\velmora and
// %LOCALAPPDATA%\velmora there), searching `site`.
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

class RunningWindow {
public:
    RunningWindow(const std::filesystem::path& program, const std::string& site,
                  const std::filesystem::path& home) {
        ChildOptions options;
        options.environment = {"VELMORA_SITE=" + site, std::string(kJournalVariable),
                               "APPDATA=" + Utf8FromPath(home),
                               "LOCALAPPDATA=" + Utf8FromPath(home)};
        if (!child_.Start(program, {}, options)) return;
        process_ = static_cast<DWORD>(child_.Id());
        WaitUntil([&] {
            const std::vector<HWND> windows = WindowsOf(process_, kMainWindowClass);
            window_ = windows.empty() ? nullptr : windows.front();
            return window_ != nullptr && IsWindowVisible(window_);
        });
    }

    bool Opened() const { return window_ != nullptr; }
    std::string Caption() const { return WindowText(window_); }
    HWND Control(velmora::Control control) const {
        return GetDlgItem(window_, kFirstControlId + control.index);
    }
    int RowCount() const {
        return static_cast<int>(Send(Control(Control::超级列表框1), LVM_GETITEMCOUNT));
    }
    // A cell as the list view shows it.
    std::string CellText(int row, int column) const {
        struct Request {
            LVITEMW item;
            wchar_t text[512];
        } request{};
        RemoteMemory remote(process_, sizeof request);
        request.item.iSubItem = column;
        request.item.cchTextMax = static_cast<int>(std::size(request.text));
        request.item.pszText = static_cast<Request*>(remote.Address())->text;
        remote.Write(&request, sizeof request);
        Send(Control(Control::超级列表框1), LVM_GETITEMTEXTW, static_cast<WPARAM>(row),
             reinterpret_cast<LPARAM>(remote.Address()));
        remote.Read(&request, sizeof request);
        return Utf8(request.text);
    }
    std::string StatusPart(int part) const {
        wchar_t text[512] = {};
        RemoteMemory remote(process_, sizeof text);
        remote.Write(text, sizeof text);
        Send(Control(Control::状态条1), SB_GETTEXTW, static_cast<WPARAM>(part),
             reinterpret_cast<LPARAM>(remote.Address()));
        remote.Read(text, sizeof text);
        return Utf8(text);
    }
    void Click(velmora::Control button) const { Send(Control(button), BM_CLICK); }
    void TypeKeyword(const char* keyword) const {
        Send(Control(Control::编辑框_搜索内容), WM_SETTEXT, 0,
             reinterpret_cast<LPARAM>(Wide(keyword).c_str()));
    }
    void PressEnterInKeywordBox() const {
        Send(Control(Control::编辑框_搜索内容), WM_KEYDOWN, VK_RETURN);
    }
    // Waits for a message box of the program and answers it with `answer`; its text, or
    // nothing when none came.
    std::string AnswerMessageBox(int answer = IDOK) const {
        HWND box = nullptr;
        std::string text;
        // The box is found as soon as it exists, before its text is in place.
        if (!WaitUntil([&] {
                const std::vector<HWND> boxes = WindowsOf(process_, L"#32770");
                box = boxes.empty() ? nullptr : boxes.front();
                text = box == nullptr ? "" : WindowText(GetDlgItem(box, kMessageBoxTextId));
                return !text.empty() && IsWindowVisible(box);
            }))
            return {};
        PostMessageW(box, WM_COMMAND, static_cast<WPARAM>(answer), 0);
        WaitUntil([&] { return !IsWindow(box); });
        return text;
    }
    ChildExit Close() {
        PostMessageW(window_, WM_CLOSE, 0, 0);
        return child_.Wait();
    }
    void Kill() { child_.Kill(); }

private:
    ChildProcess child_;
    HWND window_ = nullptr;
    DWORD process_ = 0;
};

class WinWindowTest : public testing::Test {
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

    test::ScratchFolder home_{"velmora-window"};
    std::unique_ptr<site::SampleSite> site_;
};

TEST_F(WinWindowTest, BuildsTheFormAndSearchesOnAClickAndOnEnter) {
    StartSite();
    RunningWindow window(VELMORA_PATH, site_->BaseUrl(), home_.path());
    ASSERT_TRUE(window.Opened());
    EXPECT_EQ(window.Caption(), kMainWindowCaption);
    for (const ControlForm& form : kControls) {
        if (form.kind == ControlKind::kButton || form.kind == ControlKind::kLabel) {
            EXPECT_EQ(WindowText(window.Control(form.control)), form.text) << form.name;
        }
    }
    HWND list = window.Control(Control::超级列表框1);
    EXPECT_EQ(Send(reinterpret_cast<HWND>(Send(list, LVM_GETHEADER)), HDM_GETITEMCOUNT),
              kResultColumnCount);
    for (int column = 0; column < kResultColumnCount; ++column)
        EXPECT_EQ(Send(list, LVM_GETCOLUMNWIDTH, column), kListColumns[column].width);
    EXPECT_EQ(Send(window.Control(Control::状态条1), SB_GETPARTS), kStatusPartCount);
    EXPECT_EQ(window.StatusPart(0), kStatusParts[0].initialText);

    window.TypeKeyword("机械");
    window.Click(Control::按钮_开始);
    EXPECT_EQ(window.AnswerMessageBox(), "搜索完毕！");
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
    window.TypeKeyword("电子");
    window.PressEnterInKeywordBox();
    EXPECT_EQ(window.AnswerMessageBox(), "搜索完毕！");
    EXPECT_EQ(window.RowCount(), 2 * RowsPerSearch());
    EXPECT_EQ(window.StatusPart(2), "成功获取：" + std::to_string(RowsPerSearch()) + "条");

    const ChildExit exit = window.Close();
    EXPECT_TRUE(exit.exited);
    EXPECT_EQ(exit.code, 0);
}

TEST_F(WinWindowTest, PutsBackTheRowsOfASearchKilledMidway) {
    // No company's answer from the third on comes: the search stands after two rows, and a row
    // shown whole is in the journal.
    constexpr int kKeptRows = 2;
    site::SiteOptions options;
    site::FaultRule hold{site::FaultKind::Hold, site::FaultScope::Company, {}};
    hold.from = kKeptRows + 1;
    options.faults = {hold};
    StartSite(options);
    {
        RunningWindow window(VELMORA_PATH, site_->BaseUrl(), home_.path());
        ASSERT_TRUE(window.Opened());
        window.TypeKeyword("机械");
        window.Click(Control::按钮_开始);
        ASSERT_TRUE(WaitUntil([&] {
            if (window.RowCount() != kKeptRows) return false;
            for (int row = 0; row < kKeptRows; ++row) {
                if (window.CellText(row, kResultColumnCount - 1).empty()) return false;
            }
            return true;
        }));
        window.Kill();
    }
    RunningWindow restarted(VELMORA_PATH, site_->BaseUrl(), home_.path());
    ASSERT_TRUE(restarted.Opened());
    HWND notice = restarted.Control(Control::journalField);
    ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(notice); }));
    EXPECT_NE(WindowText(notice).find(std::to_string(kKeptRows)), std::string::npos)
        << WindowText(notice);
    EXPECT_EQ(restarted.RowCount(), kKeptRows);
    site_->ReleaseHeld();
    EXPECT_EQ(restarted.Close().code, 0);
}

TEST_F(WinWindowTest, InstallsForTheUserRunsAndUninstallsLeavingTheJournal) {
    StartSite();
    const std::filesystem::path folder = home_.path() / "Programs" / "Velmora";
    ChildProcess setup;
    ASSERT_TRUE(setup.Start(VELMORA_SETUP_PATH, {"/S", "/D=" + Utf8FromPath(folder)}));
    ASSERT_EQ(setup.Wait().code, 0);
    for (const char* file : {"velmora.exe", "velmora-cli.exe", "README.txt", "uninstall.exe"})
        EXPECT_TRUE(std::filesystem::exists(folder / file)) << file;
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

}  // namespace
}  // namespace velmora
