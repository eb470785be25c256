#pragma once
// What the main window does, whatever toolkit draws it: its event handlers, the elapsed time,
// the popup menu and its exports with their progress, the close rules, the journal's line. A
// view (MainWindowView) maps its controls and events onto it; everything here runs on the
// window's thread.
//
// The engine reaches the window through its own front end (the session's), which posts every
// write to the window's thread and never waits for it; the view hands the posted status texts
// and timer periods back here in the order they were made.

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>

#include "export/Export.h"
#include "window/MainWindowLayout.h"
#include "window/MainWindowView.h"

namespace velmora {

class SearchSession;

// How long an export runs before its progress is shown.
inline constexpr std::chrono::milliseconds kExportProgressDelay{400};

class MainWindowBehaviour {
public:
    using MonotonicClock = std::function<std::chrono::steady_clock::time_point()>;

    // The view and the session outlive the behaviour. The save dialog opens in desktopFolder
    // (system code page, ending in a path separator).
    MainWindowBehaviour(MainWindowView& view, SearchSession& session, Text desktopFolder,
                        MonotonicClock monotonicNow = std::chrono::steady_clock::now);
    ~MainWindowBehaviour();
    MainWindowBehaviour(const MainWindowBehaviour&) = delete;
    MainWindowBehaviour& operator=(const MainWindowBehaviour&) = delete;

    // The window exists, at that client size: controls placed, the skin attached, a search that
    // an abnormal end cut short put back.
    void OnMainWindowCreated(Size client);
    void OnResized(Size client);
    // Whether the window may go now. An export lets events in while it runs; a close asked for
    // meanwhile is held (false) and asked for again once the export returns. Otherwise the
    // closing rules run, once however often this is asked, and the close is never refused.
    [[nodiscard]] bool OnCloseRequested();
    void OnElapsedTick();

    // 编辑框_搜索内容's text changed, by the user or by SetControlText (UTF-8).
    void OnKeywordEdited(std::string_view keyword);
    // 按钮_开始, 按钮_暂停搜索, 按钮_继续搜索, 按钮_停止搜索, 按钮_联系作者. Start searches for
    // the keyword the box holds at the press.
    void OnStartClicked();
    void OnPauseClicked();
    void OnResumeClicked();
    void OnStopClicked();
    void ContactAuthor();
    // A press of any of the buttons above, by the mouse or the keyboard.
    void OnButtonClicked(Control button);
    // Enter with `focused` holding the focus: in the keyword box it starts a search, on a button
    // it presses that button, elsewhere it does nothing.
    void OnEnterPressed(Control focused);

    // A right click in 超级列表框1, then the entry chosen from the menu.
    void ShowListMenu();
    // The menu key or Shift+F10 in 超级列表框1: the menu opens at the selected row while that
    // shows among the list's `rows`, else at their top left corner. List coordinates in the
    // form's pixels.
    void ShowListMenuFromKeyboard(std::optional<Rect> selectedRow, Rect rows);
    void OnMenuCommand(MenuCommand command);

    // The engine's writes, handed over on the window's thread in the order they were made.
    void OnStatusTextPosted(int field, std::string_view text);
    void OnTimerPeriodPosted(int milliseconds);

    std::chrono::milliseconds exportProgressDelay = kExportProgressDelay;

private:
    class ExportWindow;

    void OnMainWindowClosing();
    void ShowAbout();
    void ResumeUnfinishedSearch();
    [[nodiscard]] bool HasResumableSearch() const;
    void RunExport(ExportResult (Exporter::*run)());
    void OnExportProgress(ExportPhase phase, int done, int total);
    void EndExportProgress();
    void ShowJournalField(std::string_view text);
    void HideJournalField();
    void PlaceControls();
    void PopUpListMenu(MenuPlace place);

    MainWindowView& view_;
    SearchSession& session_;
    MonotonicClock monotonicNow_;
    std::unique_ptr<ExportWindow> exportWindow_;
    Exporter exporter_;  // holds Excel程序1 and Excel工作簿1

    Size client_ = kClientSize;
    Text keyword_;  // 编辑框_搜索内容's text, system code page
    bool journalFieldShown_ = false;
    // Never reset: a search goes on counting from where the last one left off.
    int elapsedHours_ = 0;
    int elapsedMinutes_ = 0;
    int elapsedSeconds_ = 0;
    // From the running export's first report; the progress is shown once the delay has passed.
    std::optional<std::chrono::steady_clock::time_point> exportStarted_;
    bool exportProgressShown_ = false;
    bool closing_ = false;
    bool closeHeldForExport_ = false;
};

}  // namespace velmora
