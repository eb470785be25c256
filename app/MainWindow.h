#pragma once
// MainWindow: the program's only window, a Qt view over MainWindowBehaviour. It builds the
// form's controls under the names the rest of the system uses for them, hands their events to
// the behaviour and carries out what the behaviour asks of a view. What stays here is Qt's:
// widgets, geometry as drawn, notices drawn small enough to fit, the real dialogs.

#include <QWidget>
#include <optional>
#include <vector>

#include "app/FileDialog.h"
#include "window/MainWindowBehaviour.h"
#include "window/WindowPort.h"

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

class ResultListModel;
class SearchSession;
class SkinEngine;

class MainWindow final : public QWidget, private MainWindowView, private PortWindow {
    Q_OBJECT
public:
    // The port, the session and the skin engine outlive the window.
    MainWindow(WindowPort& port, SearchSession& session, SkinEngine& skin,
               QWidget* parent = nullptr);
    ~MainWindow() override;

    // Tests drive it as the events do; the port hands it the posted writes.
    MainWindowBehaviour& Behaviour() override { return behaviour_; }

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
    QLabel* journalField;
    QTimer* 时钟1;
    FileDialog 通用对话框1;
    QMenu* 程序菜单;

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The form's control that `widget` is, if it is one.
    std::optional<Control> ControlOf(const QWidget* widget) const;
    void BuildControls();
    void BuildMenu(QMenu* menu, std::span<const MenuEntry> entries);

    void SetControlText(Control control, std::string_view text) override;
    void SetStatusPartText(int part, std::string_view text) override;
    void ShowJournalField(std::string_view text) override;
    void HideJournalField() override;
    void PlaceControls(const MainWindowLayout& layout) override;
    void RunTimer(int periodMs) override;
    void StopTimer() override;
    void PopUpMenu(MenuPlace place, std::span<const MenuCommand> hidden) override;
    int ShowMessage(std::string_view text, std::string_view caption, unsigned flags) override;
    Text AskSaveFileName(const SaveDialogRequest& request) override;
    void OpenWithShell(std::string_view link, std::function<void()> whenNothingOpensIt) override;
    void ShowExportProgress(std::string_view label, int done, int total) override;
    void EndExportProgress() override;
    void AttachSkin(int number) override;
    void DetachSkin() override;
    void Close() override;
    void ProcessPendingEvents() override;

    // PortWindow (AskSaveFileName and ProcessPendingEvents serve both)
    int ShowMessageBox(const Text& text, const Text& caption, unsigned flags) override;
    bool PutOnClipboard(const Text& text) override;

    WindowPort& port_;
    SkinEngine& skin_;
    ResultListModel* model_ = nullptr;
    QProgressDialog* exportProgress_ = nullptr;  // while an export past its delay runs
    std::vector<std::pair<MenuCommand, QAction*>> menuActions_;
    MainWindowBehaviour behaviour_;
};

}  // namespace velmora
