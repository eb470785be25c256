#pragma once
// MainWindow: the program's only window. Controls carry the names the rest of the system uses
// for them; nothing is enabled or hidden at run time, and only a larger window moves anything
// (the list and the status bar take the room, the elapsed-time label stays at the right).
// Handlers are public so that tests drive them exactly as the events do.

#include <QElapsedTimer>
#include <QWidget>

#include "app/FileDialog.h"
#include "export/Export.h"

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressDialog;
class QPushButton;
class QStatusBar;
class QTableView;
class QTimer;

namespace velmora {

class MainWindowPort;
class ResultListModel;
class SearchSession;
class SkinEngine;

// What the window names but does not decide: the credit, the banner, the links.
inline constexpr const char* kMainWindowCaption = "Velmora1.1 By【Velmora 开发组】";
inline constexpr const char* kAuthorCredit = "Velmora 开发组";
inline constexpr const char* kContactLink = "xmpp:author@velmora.example?message";
inline constexpr const char* kAuthorWebPage = "https://velmora.example/";
inline constexpr int kStatusPartCount = 4;
// The popup menu's entry that goes on with the journal's latest unfinished search.
inline constexpr const char* kResumeMenuText = "续抓未完成的搜索";

class MainWindow final : public QWidget {
    Q_OBJECT
public:
    // The port, the session and the skin engine outlive the window.
    MainWindow(MainWindowPort& port, SearchSession& session, SkinEngine& skin,
               QWidget* parent = nullptr);
    ~MainWindow() override;

    void OnMainWindowCreated();
    // Runs once, however often the window is asked to close. The close is never refused; one
    // asked for while an export runs takes effect when the export returns.
    void OnMainWindowClosing();
    void OnElapsedTick();
    void ShowListMenu();
    void ShowAbout();
    void ContactAuthor();
    // The popup menu's resume: the journal's latest incomplete, stopped or interrupted search
    // goes on, its keyword in the keyword box; its rows are shown first unless the list shows
    // them already.
    void ResumeUnfinishedSearch();

    QLabel* 标签1;
    QLineEdit* 编辑框_搜索内容;
    QPushButton* 按钮_开始;
    QPushButton* 按钮_暂停搜索;
    QPushButton* 按钮_继续搜索;
    QPushButton* 按钮_停止搜索;
    QPushButton* 按钮_联系作者;
    QLabel* 标签2;
    QTableView* 超级列表框1;
    QStatusBar* 状态条1;
    QLabel* statusParts[kStatusPartCount];
    // kJournalField, hidden until the journal has something to say, and again when a search
    // starts.
    QLabel* journalField;
    QTimer* 时钟1;
    FileDialog 通用对话框1;
    QMenu* 程序菜单;

    int elapsedHours = 0;
    int elapsedMinutes = 0;
    int elapsedSeconds = 0;

    // How long an export runs before its progress is shown.
    int exportProgressDelayMs = 400;

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void BuildControls();
    void BuildMenu();
    void LayOut();
    void LayOutStatusParts();
    void ConnectPort();
    void SetTimerPeriod(int milliseconds);
    void ShowJournalText(const QString& text);
    void HideJournalText();
    bool HasResumableSearch() const;
    void RunExport(ExportResult (Exporter::*variant)());
    void ShowExportProgress(ExportPhase phase, int done, int total);
    void EndExportProgress();

    MainWindowPort& port_;
    SearchSession& session_;
    SkinEngine& skin_;
    ResultListModel* model_;
    Exporter exporter_;                          // holds Excel程序1 and Excel工作簿1
    QElapsedTimer exportClock_;                  // from the running export's first report
    QProgressDialog* exportProgress_ = nullptr;  // while an export past the delay runs
    QAction* resumeAction_ = nullptr;            // shown while there is a search to resume
    bool closing_ = false;
    bool closeHeldForExport_ = false;
};

}  // namespace velmora
