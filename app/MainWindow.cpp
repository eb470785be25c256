#include "app/MainWindow.h"

#include <QClipboard>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QStatusBar>
#include <QTableView>
#include <QTimer>
#include <algorithm>

#include "app/MessageBox.h"
#include "app/ResultListModel.h"
#include "app/ShellOpen.h"
#include "app/SkinEngine.h"
#include "platform/NamedMutex.h"
#include "platform/UserDirectories.h"
#include "results/Frontend.h"
#include "text/CodePage.h"

namespace velmora {
namespace {

// A notice longer than its field is drawn this much smaller at most, so that a tip shows whole
// whatever font the locale brings (a Chinese one is wider); beyond that it is cut, and its
// tooltip holds it whole.
constexpr qreal kSmallestNoticeScale = 0.8;
constexpr qreal kNoticeScaleStep = 0.05;

QString Utf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QRect ToQRect(Rect rect) {
    return {rect.left, rect.top, rect.width, rect.height};
}

// The user's desktop as the desktop environment names it (~/桌面 under a Chinese one); the
// program's folder when there is none.
Text DesktopFolder() {
    QString desktop = QString::fromStdString(UserDesktopDirectory());
    if (desktop.isEmpty() || !QFileInfo(desktop).isDir()) {
        desktop = QCoreApplication::applicationDirPath();
    }
    return Utf8ToSystem((QDir(desktop).absolutePath() + QLatin1Char('/')).toStdString());
}

// Room for text inside a label, as QLabel lays it out: its frame and, for a framed label, an
// indent of half an "x" on each side.
int TextRoom(const QLabel* label, const QFontMetrics& metrics) {
    const int frame = label->frameWidth();
    const int indent = label->indent() >= 0 ? label->indent()
                       : frame > 0          ? metrics.horizontalAdvance(u'x') / 2
                                            : 0;
    return label->width() - 2 * frame - 2 * indent;
}

// Draws a label's text smaller, down to kSmallestNoticeScale, when it would not fit whole.
void FitTextToWidth(QLabel* label) {
    QFont font = label->parentWidget()->font();
    const qreal designed = font.pointSizeF();
    for (qreal scale = 1.0; scale > kSmallestNoticeScale - kNoticeScaleStep / 2;
         scale -= kNoticeScaleStep) {
        font.setPointSizeF(designed * scale);
        const QFontMetrics metrics(font);
        if (metrics.boundingRect(label->text()).right() + 1 <= TextRoom(label, metrics)) break;
    }
    label->setFont(font);
    label->setToolTip(label->text());
}

template <typename Widget>
Widget* Place(QWidget* parent, Control control) {
    const ControlForm& form = FormOf(control);
    auto* widget = new Widget(parent);
    widget->setObjectName(Utf8(form.name));
    widget->setGeometry(ToQRect(form.rect));
    return widget;
}

// Label texts may come from the site: never markup, and one line.
QLabel* PlaceLabel(QWidget* parent, Control control) {
    auto* label = Place<QLabel>(parent, control);
    label->setTextFormat(Qt::PlainText);
    label->setText(Utf8(FormOf(control).text));
    return label;
}

QPushButton* PlaceButton(QWidget* parent, Control control) {
    auto* button = Place<QPushButton>(parent, control);
    button->setText(Utf8(FormOf(control).text));
    button->setAutoDefault(false);
    return button;
}

}  // namespace

MainWindow::MainWindow(WindowPort& port, SearchSession& session, SkinEngine& skin, QWidget* parent)
    : QWidget(parent), port_(port), skin_(skin), behaviour_(*this, session, DesktopFolder()) {
    setObjectName(QStringLiteral("MainWindow"));
    setWindowTitle(Utf8(kMainWindowCaption));
    setWindowIcon(QIcon(QStringLiteral(":/velmora.svg")));
    const QSize clientSize(kClientSize.width, kClientSize.height);
    setMinimumSize(clientSize);
    resize(clientSize);
    move(kWindowPosition.x, kWindowPosition.y);
    BuildControls();
    程序菜单 = new QMenu(this);
    程序菜单->setObjectName(QStringLiteral("程序菜单"));
    BuildMenu(程序菜单, kProgramMenu);
    // Queued even from the window's own thread: every write keeps its place in the port's queue.
    port_.AttachWindow(this, [this] {
        QMetaObject::invokeMethod(
            this, [this] { port_.DrainPosted(); }, Qt::QueuedConnection);
    });
    编辑框_搜索内容->setFocus();
    behaviour_.OnMainWindowCreated({width(), height()});
}

MainWindow::~MainWindow() {
    port_.AttachWindow(nullptr, {});
}

void MainWindow::BuildControls() {
    标签1 = PlaceLabel(this, Control::标签1);
    编辑框_搜索内容 = Place<QLineEdit>(this, Control::编辑框_搜索内容);
    按钮_开始 = PlaceButton(this, Control::按钮_开始);
    按钮_暂停搜索 = PlaceButton(this, Control::按钮_暂停搜索);
    按钮_继续搜索 = PlaceButton(this, Control::按钮_继续搜索);
    按钮_停止搜索 = PlaceButton(this, Control::按钮_停止搜索);
    按钮_联系作者 = PlaceButton(this, Control::按钮_联系作者);
    标签2 = PlaceLabel(this, Control::标签2);

    超级列表框1 = Place<QTableView>(this, Control::超级列表框1);
    model_ = new ResultListModel(port_.Rows(), this);
    超级列表框1->setModel(model_);
    超级列表框1->verticalHeader()->hide();
    超级列表框1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    超级列表框1->verticalHeader()->setDefaultSectionSize(超级列表框1->fontMetrics().height() + 6);
    超级列表框1->setSelectionBehavior(QAbstractItemView::SelectRows);
    超级列表框1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    超级列表框1->setWordWrap(false);
    超级列表框1->setAlternatingRowColors(true);
    // A right click reaches the rows (the viewport), the menu key and Shift+F10 the list.
    超级列表框1->installEventFilter(this);
    超级列表框1->viewport()->installEventFilter(this);
    for (QWidget* named :
         {static_cast<QWidget*>(编辑框_搜索内容), static_cast<QWidget*>(超级列表框1)})
        named->setAccessibleName(Utf8(AccessibleName(*ControlOf(named))));
    QHeaderView* header = 超级列表框1->horizontalHeader();
    header->setHighlightSections(false);
    for (int column = 0; column < kResultColumnCount; ++column)
        header->resizeSection(column, kListColumns[column].width);
    header->setStretchLastSection(false);

    状态条1 = Place<QStatusBar>(this, Control::状态条1);
    状态条1->setSizeGripEnabled(false);
    // The fields are placed side by side without the status bar's own spacing, which would
    // push the last one past the right edge.
    for (int part = 0; part < kStatusPartCount; ++part) {
        auto* label = new QLabel(状态条1);
        label->setTextFormat(Qt::PlainText);
        label->setFrameStyle(QFrame::Panel |
                             (kStatusParts[part].raised ? QFrame::Raised : QFrame::Sunken));
        statusParts[part] = label;
    }
    journalField = PlaceLabel(this, Control::journalField);
    journalField->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    journalField->hide();

    时钟1 = new QTimer(this);
    时钟1->setObjectName(QStringLiteral("时钟1"));

    connect(编辑框_搜索内容, &QLineEdit::textChanged, this,
            [this](const QString& keyword) { behaviour_.OnKeywordEdited(keyword.toStdString()); });
    for (QPushButton* button :
         {按钮_开始, 按钮_暂停搜索, 按钮_继续搜索, 按钮_停止搜索, 按钮_联系作者}) {
        connect(button, &QPushButton::clicked, this,
                [this, control = *ControlOf(button)] { behaviour_.OnButtonClicked(control); });
    }
    connect(时钟1, &QTimer::timeout, this, [this] { behaviour_.OnElapsedTick(); });
}

std::optional<Control> MainWindow::ControlOf(const QWidget* widget) const {
    for (const ControlForm& form : kControls) {
        if (widget != nullptr && widget->parentWidget() == this &&
            widget->objectName() == Utf8(form.name))
            return form.control;
    }
    return std::nullopt;
}

// Enter comes here from the keyword box, the buttons and the list, which leave it to the window.
void MainWindow::keyPressEvent(QKeyEvent* event) {
    const std::optional<Control> focused = ControlOf(focusWidget());
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && focused) {
        behaviour_.OnEnterPressed(*focused);
        return;
    }
    QWidget::keyPressEvent(event);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    const bool shiftF10 = event->type() == QEvent::KeyPress &&
                          static_cast<QKeyEvent*>(event)->key() == Qt::Key_F10 &&
                          static_cast<QKeyEvent*>(event)->modifiers() == Qt::ShiftModifier;
    if (event->type() != QEvent::ContextMenu && !shiftF10)
        return QWidget::eventFilter(watched, event);
    if (event->type() == QEvent::ContextMenu &&
        static_cast<QContextMenuEvent*>(event)->reason() == QContextMenuEvent::Mouse) {
        behaviour_.ShowListMenu();
        return true;
    }
    const QRect rows = 超级列表框1->viewport()->geometry();
    std::optional<Rect> selectedRow;
    const QModelIndexList selected = 超级列表框1->selectionModel()->selectedRows();
    if (!selected.isEmpty()) {
        const QRect row = 超级列表框1->visualRect(selected.front()).translated(rows.topLeft());
        selectedRow = Rect{row.left(), row.top(), row.width(), row.height()};
    }
    behaviour_.ShowListMenuFromKeyboard(selectedRow,
                                        {rows.left(), rows.top(), rows.width(), rows.height()});
    return true;
}

void MainWindow::BuildMenu(QMenu* menu, std::span<const MenuEntry> entries) {
    for (const MenuEntry& entry : entries) {
        if (!entry.submenu.empty()) {
            BuildMenu(menu->addMenu(Utf8(entry.text)), entry.submenu);
            continue;
        }
        QAction* action = menu->addAction(Utf8(entry.text), this, [this, command = entry.command] {
            behaviour_.OnMenuCommand(command);
        });
        menuActions_.emplace_back(entry.command, action);
    }
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    behaviour_.OnResized({width(), height()});
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (!behaviour_.OnCloseRequested()) {
        event->ignore();
        return;
    }
    event->accept();
}

void MainWindow::SetControlText(Control control, std::string_view text) {
    if (control == Control::编辑框_搜索内容) {
        编辑框_搜索内容->setText(Utf8(text));
    } else if (control == Control::标签1) {
        标签1->setText(Utf8(text));
    } else if (control == Control::标签2) {
        标签2->setText(Utf8(text));
    }
}

void MainWindow::SetStatusPartText(int part, std::string_view text) {
    statusParts[part]->setText(Utf8(text));
    if (part == kNoticeStatusField) FitTextToWidth(statusParts[part]);
}

void MainWindow::ShowJournalField(std::string_view text) {
    journalField->setText(Utf8(text));
    journalField->setToolTip(journalField->text());
    journalField->show();
}

void MainWindow::HideJournalField() {
    journalField->hide();
}

void MainWindow::PlaceControls(const MainWindowLayout& layout) {
    超级列表框1->setGeometry(ToQRect(layout.list));
    超级列表框1->horizontalHeader()->resizeSection(layout.widenedColumn.column,
                                                   layout.widenedColumn.width);
    journalField->setGeometry(ToQRect(layout.journalField));
    状态条1->setGeometry(ToQRect(layout.statusBar));
    标签2->setGeometry(ToQRect(layout.elapsedLabel));
    int left = 0;
    for (int part = 0; part < kStatusPartCount; ++part) {
        const int width = layout.statusPartWidths[part];
        statusParts[part]->setGeometry(left, 0, width, 状态条1->height());
        left += width;
    }
    FitTextToWidth(statusParts[kNoticeStatusField]);
}

void MainWindow::RunTimer(int periodMs) {
    时钟1->start(periodMs);
}

void MainWindow::StopTimer() {
    时钟1->stop();
}

void MainWindow::PopUpMenu(MenuPlace place, std::span<const MenuCommand> hidden) {
    for (const auto& [command, action] : menuActions_)
        action->setVisible(std::find(hidden.begin(), hidden.end(), command) == hidden.end());
    const QPoint point(place.point.x, place.point.y);
    程序菜单->popup(place.from == MenuPlace::From::kCursor ? QCursor::pos() + point
                                                           : 超级列表框1->mapToGlobal(point));
}

int MainWindow::ShowMessage(std::string_view text, std::string_view caption, unsigned flags) {
    return MessageBox::Show(Utf8(text), Utf8(caption), flags);
}

Text MainWindow::AskSaveFileName(const SaveDialogRequest& request) {
    return 通用对话框1.AskSaveFileName(request);
}

void MainWindow::OpenWithShell(std::string_view link, std::function<void()> whenNothingOpensIt) {
    if (!whenNothingOpensIt) {
        ShellOpen(QUrl(Utf8(link)));
        return;
    }
    // The answer may come after the window has gone.
    ShellOpen(QUrl(Utf8(link)), [window = QPointer<MainWindow>(this),
                                 whenNothingOpensIt = std::move(whenNothingOpensIt)] {
        if (window) whenNothingOpensIt();
    });
}

void MainWindow::ShowExportProgress(std::string_view label, int done, int total) {
    if (!exportProgress_) {
        exportProgress_ = new QProgressDialog(this);
        exportProgress_->setWindowTitle(Utf8(kDefaultMessageCaption));
        exportProgress_->setCancelButton(nullptr);  // an export runs to its end
        exportProgress_->setMinimumDuration(0);
        exportProgress_->setAutoClose(false);
        exportProgress_->setAutoReset(false);
        exportProgress_->show();
    }
    exportProgress_->setLabelText(Utf8(label));
    exportProgress_->setMaximum(total);
    exportProgress_->setValue(done);
}

void MainWindow::EndExportProgress() {
    delete exportProgress_;
    exportProgress_ = nullptr;
}

void MainWindow::AttachSkin(int number) {
    velmora::AttachSkin(skin_, number,
                        {QDir::tempPath(), QFile::decodeName(UserRuntimeDirectory().c_str())});
}

void MainWindow::DetachSkin() {
    skin_.Detach();
}

void MainWindow::Close() {
    close();
}

void MainWindow::ProcessPendingEvents() {
    QCoreApplication::processEvents();
}

int MainWindow::ShowMessageBox(const Text& text, const Text& caption, unsigned flags) {
    return ShowMessage(SystemToUtf8(text), SystemToUtf8(caption), flags);
}

bool MainWindow::PutOnClipboard(const Text& text) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (clipboard == nullptr) return false;
    clipboard->setText(Utf8(SystemToUtf8(text)));
    return true;
}

}  // namespace velmora
