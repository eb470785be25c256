#pragma once
// The main window's form: its controls with their rectangles and first texts, the list's
// columns, the status bar's parts, the popup menu, the caption and the links. Every view of the
// window builds itself from this data, so the Qt and the Win32 windows cannot drift apart.
// Texts are UTF-8; rectangles are client coordinates in pixels at the designed size.

#include <array>
#include <span>

#include "export/Export.h"
#include "results/Frontend.h"
#include "results/ResultRow.h"

namespace velmora {

struct Point {
    int x = 0;
    int y = 0;
    bool operator==(const Point&) const = default;
};

struct Size {
    int width = 0;
    int height = 0;
    bool operator==(const Size&) const = default;
};

struct Rect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    bool operator==(const Rect&) const = default;
};

// What the window names but does not decide: the credit, the banner, the links.
inline constexpr const char* kMainWindowCaption = "Velmora1.1 By【Velmora 开发组】";
inline constexpr const char* kAuthorCredit = "Velmora 开发组";
inline constexpr const char* kContactLink = "xmpp:author@velmora.example?message";
inline constexpr const char* kAuthorWebPage = "https://velmora.example/";

// The client area left inside the window's 719 x 469 outer size by the classic frame (3 pixels
// each side, 25 for the caption), which the control rectangles are laid out in. The window opens
// at this size and cannot be made smaller.
inline constexpr Size kOuterSize{719, 469};
inline constexpr Size kClientSize{713, 441};
inline constexpr Point kWindowPosition{50, 50};
inline constexpr int kMainWindowSkin = 19;
// The popup menu opens this far right of and below the cursor, or of the place in the list the
// keyboard opened it at.
inline constexpr Point kMenuOffset{3, 3};

// A control of the form, by its place in kControls. (Constants rather than an enumeration:
// Qt's moc, which reads this header through the Qt window's, cannot parse enumerators that are
// not ASCII.)
struct Control {
    int index;
    bool operator==(const Control&) const = default;

    static const Control 标签1;
    static const Control 编辑框_搜索内容;
    static const Control 按钮_开始;
    static const Control 按钮_暂停搜索;
    static const Control 按钮_继续搜索;
    static const Control 按钮_停止搜索;
    static const Control 按钮_联系作者;
    static const Control 标签2;
    static const Control 超级列表框1;
    static const Control 状态条1;
    // What the journal has to say (kJournalField): a sunken line of its own above the status
    // bar, hidden until then, and again when a search starts.
    static const Control journalField;
};
inline constexpr Control Control::标签1{0};
inline constexpr Control Control::编辑框_搜索内容{1};
inline constexpr Control Control::按钮_开始{2};
inline constexpr Control Control::按钮_暂停搜索{3};
inline constexpr Control Control::按钮_继续搜索{4};
inline constexpr Control Control::按钮_停止搜索{5};
inline constexpr Control Control::按钮_联系作者{6};
inline constexpr Control Control::标签2{7};
inline constexpr Control Control::超级列表框1{8};
inline constexpr Control Control::状态条1{9};
inline constexpr Control Control::journalField{10};

enum class ControlKind { kLabel, kEditBox, kButton, kList, kStatusBar, kNoticeLine };

struct ControlForm {
    Control control;
    const char* name;
    ControlKind kind;
    Rect rect;
    const char* text;
};

inline constexpr ControlForm kControls[] = {
    // Reaches the keyword box, so that its text fits on one line at the usual font.
    {Control::标签1, "标签1", ControlKind::kLabel, {10, 8, 44, 27}, "关键字："},
    {Control::编辑框_搜索内容, "编辑框_搜索内容", ControlKind::kEditBox, {54, 7, 74, 28}, ""},
    {Control::按钮_开始, "按钮_开始", ControlKind::kButton, {140, 5, 58, 29}, "开始搜索"},
    {Control::按钮_暂停搜索, "按钮_暂停搜索", ControlKind::kButton, {212, 5, 58, 29}, "暂停搜索"},
    {Control::按钮_继续搜索, "按钮_继续搜索", ControlKind::kButton, {284, 5, 58, 29}, "继续搜索"},
    {Control::按钮_停止搜索, "按钮_停止搜索", ControlKind::kButton, {357, 5, 58, 29}, "停止搜索"},
    {Control::按钮_联系作者, "按钮_联系作者", ControlKind::kButton, {432, 5, 58, 29}, "联系作者"},
    {Control::标签2, "标签2", ControlKind::kLabel, {573, 12, 152, 24}, "已运行:0小时0分钟0秒"},
    {Control::超级列表框1, "超级列表框1", ControlKind::kList, {0, 40, 712, 383}, ""},
    {Control::状态条1, "状态条1", ControlKind::kStatusBar, {0, 421, 713, 20}, ""},
    {Control::journalField, "journalField", ControlKind::kNoticeLine, {0, 401, 713, 20}, ""},
};

constexpr bool EachControlAtItsPlace() {
    for (int index = 0; index < static_cast<int>(std::size(kControls)); ++index) {
        if (kControls[index].control.index != index) return false;
    }
    return true;
}
static_assert(EachControlAtItsPlace());

// The form of one control.
constexpr const ControlForm& FormOf(Control control) {
    return kControls[control.index];
}

// Tab and Shift+Tab move through the controls of these kinds, in kControls' order.
constexpr bool TakesFocus(ControlKind kind) {
    return kind == ControlKind::kEditBox || kind == ControlKind::kButton ||
           kind == ControlKind::kList;
}

// What assistive tools call a control that shows no name of its own: the keyword box goes by
// its label's text, the list by what it holds. nullptr for the others, whose text names them.
constexpr const char* AccessibleName(Control control) {
    if (control == Control::编辑框_搜索内容) return FormOf(Control::标签1).text;
    if (control == Control::超级列表框1) return "搜索结果";
    return nullptr;
}

enum class ColumnAlignment { kLeft, kCentre };

struct ListColumnForm {
    const char* title;
    int width;
    ColumnAlignment alignment;
};

// 超级列表框1's columns, one per ResultRow field, left to right.
inline constexpr std::array<ListColumnForm, kResultColumnCount> kListColumns = {{
    {"公司名", 150, ColumnAlignment::kLeft},
    {"联系人", 50, ColumnAlignment::kLeft},
    {"电话", 84, ColumnAlignment::kCentre},
    {"手机", 78, ColumnAlignment::kCentre},
    {"传真", 84, ColumnAlignment::kLeft},
    {"邮箱", 115, ColumnAlignment::kLeft},
    {"地址", 130, ColumnAlignment::kLeft},
}};

struct StatusPartForm {
    int width;
    const char* initialText;
    bool raised;  // drawn raised (the last part), the others sunken
};

// 状态条1's parts, left to right; the notice part (kNoticeStatusField) is the raised one.
inline constexpr int kStatusPartCount = 4;
inline constexpr std::array<StatusPartForm, kStatusPartCount> kStatusParts = {{
    {90, "状态：", false},
    {120, "搜索结果：", false},
    {120, "成功获取：", false},
    {380, "→→→→→→→【【输入关键字，一键找齐联系方式】】←←←←←←←", true},
}};
static_assert(kStatusParts[kNoticeStatusField].raised);

// 程序菜单: an entry with a submenu is its title; any other runs its command when chosen. A view
// builds its menu once from kProgramMenu and hands the chosen entry's command back.
using MenuCommand = int;
inline constexpr MenuCommand kNoCommand = -1;

struct MenuEntry {
    const char* text;
    MenuCommand command;
    std::span<const MenuEntry> submenu = {};
};

// The "导出excel" submenu, one line per export; an entry's command is its index here.
struct ExportEntry {
    const char* text;
    ExportResult (Exporter::*run)();
};
inline constexpr ExportEntry kExportEntries[] = {
    {"全部", &Exporter::ExportAll},
    {"公司名", &Exporter::ExportCompanyNames},
    {"手机号", &Exporter::ExportMobiles},
    {"邮箱", &Exporter::ExportEmails},
    {"导出整理去重后的数据", &Exporter::ExportCleanedMerged},
    {"导出新增公司（以前未出现过）", &Exporter::ExportOnlyNew},
};
inline constexpr MenuCommand kExportCount = std::size(kExportEntries);
// Goes on with the journal's latest unfinished search; shown only while there is one.
inline constexpr MenuCommand kResumeCommand = kExportCount;
inline constexpr MenuCommand kAboutCommand = kResumeCommand + 1;

inline constexpr std::array<MenuEntry, kExportCount> kExportMenu = [] {
    std::array<MenuEntry, kExportCount> entries{};
    for (MenuCommand command = 0; command < kExportCount; ++command)
        entries[command] = {kExportEntries[command].text, command};
    return entries;
}();

inline constexpr MenuEntry kProgramMenu[] = {
    {"导出excel", kNoCommand, kExportMenu},
    {"续抓未完成的搜索", kResumeCommand},
    {"关于", kAboutCommand},
};

}  // namespace velmora
