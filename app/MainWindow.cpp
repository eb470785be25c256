#include "app/MainWindow.h"

#include <QClipboard>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressDialog>
#include <QPushButton>
#include <QStatusBar>
#include <QTableView>
#include <QTimer>
#include <algorithm>

#include "app/MainWindowPort.h"
#include "app/MessageBox.h"
#include "app/ResultListModel.h"
#include "app/ShellOpen.h"
#include "app/SkinEngine.h"
#include "platform/NamedMutex.h"
#include "platform/UserDirectories.h"
#include "results/Frontend.h"
#include "search/SearchSession.h"
#include "text/CodePage.h"

namespace velmora {
namespace {

// The client area left inside the window's 719 x 469 outer size by the classic frame
// (3 pixels each side, 25 for the caption), which the control rectangles are laid out in. The
// window opens at this size and cannot be made smaller.
constexpr QSize kClientSize{713, 441};
constexpr QPoint kWindowPosition{50, 50};
// At the designed size. A larger window gives its extra room to the list and the status bar;
// the elapsed-time label keeps its distance from the right edge, the other controls their
// places.
constexpr QRect kListRect{0, 40, 712, 383};
constexpr QRect kStatusBarRect{0, 421, 713, 20};
constexpr QRect kElapsedLabelRect{573, 12, 152, 24};
// The journal's field, while it has something to say, is a line of its own above the status
// bar, whose fields all stay as they are; the list gives up this much of its height for it.
constexpr QRect kJournalFieldRect{0, 401, 713, 20};
constexpr int kListHeightForJournalField = kStatusBarRect.top() - kJournalFieldRect.top();
// The popup menu opens this far right of and below the cursor.
constexpr QPoint kMenuOffset{3, 3};

struct StatusPart {
    int width;
    const char* initialText;
};
constexpr StatusPart kStatusParts[kStatusPartCount] = {
    {90, "状态："},
    {120, "搜索结果："},
    {120, "成功获取："},
    {380, "→→→→→→→【【输入关键字，一键找齐联系方式】】←←←←←←←"},
};
// The status bar's last field is drawn raised, the others sunken; it takes the room a larger
// window gives the status bar.
constexpr int kRaisedStatusPart = 3;
// A notice longer than its field is drawn this much smaller at most, so that a tip shows whole
// whatever font the locale brings (a Chinese one is wider); beyond that it is cut, and its
// tooltip holds it whole.
constexpr qreal kSmallestNoticeScale = 0.8;
constexpr qreal kNoticeScaleStep = 0.05;

constexpr const char* kAboutCaption = "爱自己是最大的帮助！";
constexpr const char* kNoContactHandlerMessage =
    "这台电脑上没有能打开联系方式的程序，请复制下面的地址联系作者：\n";
constexpr unsigned kAboutFlags =
    MessageBoxFlag::kYesNo | MessageBoxFlag::kIconQuestion | MessageBoxFlag::kRightAligned;

QString Utf8(const char* text) {
    return QString::fromUtf8(text);
}

QString ElapsedText(int hours, int minutes, int seconds) {
    return Utf8("已运行:%1小时%2分钟%3秒").arg(hours).arg(minutes).arg(seconds);
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

template <typename Control>
Control* Place(QWidget* parent, const char* name, QRect rectangle) {
    auto* control = new Control(parent);
    control->setObjectName(Utf8(name));
    control->setGeometry(rectangle);
    return control;
}

// Label texts may come from the site: never markup, and one line.
QLabel* PlaceLabel(QWidget* parent, const char* name, QRect rectangle, const QString& text) {
    auto* label = Place<QLabel>(parent, name, rectangle);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    return label;
}

QPushButton* PlaceButton(QWidget* parent, const char* name, QRect rectangle, const char* caption) {
    auto* button = Place<QPushButton>(parent, name, rectangle);
    button->setText(Utf8(caption));
    button->setAutoDefault(false);
    return button;
}

}  // namespace

MainWindow::MainWindow(MainWindowPort& port, SearchSession& session, SkinEngine& skin,
                       QWidget* parent)
    : QWidget(parent),
      port_(port),
      session_(session),
      skin_(skin),
      exporter_(port, DesktopFolder(), LocalDateTimeNow,
                [this](ExportPhase phase, int done, int total) {
                    ShowExportProgress(phase, done, total);
                }) {
    setObjectName(QStringLiteral("MainWindow"));
    setWindowTitle(Utf8(kMainWindowCaption));
    setWindowIcon(QIcon(QStringLiteral(":/velmora.svg")));
    setMinimumSize(kClientSize);
    resize(kClientSize);
    move(kWindowPosition);
    BuildControls();
    BuildMenu();
    ConnectPort();
    port_.AttachWindow(this);
    编辑框_搜索内容->setFocus();
    OnMainWindowCreated();
}

MainWindow::~MainWindow() {
    port_.AttachWindow(nullptr);
}

void MainWindow::BuildControls() {
    // Reaches the keyword box, so that its text fits on one line at the usual font.
    标签1 = PlaceLabel(this, "标签1", {10, 8, 44, 27}, Utf8("关键字："));
    编辑框_搜索内容 = Place<QLineEdit>(this, "编辑框_搜索内容", {54, 7, 74, 28});
    按钮_开始 = PlaceButton(this, "按钮_开始", {140, 5, 58, 29}, "开始搜索");
    按钮_暂停搜索 = PlaceButton(this, "按钮_暂停搜索", {212, 5, 58, 29}, "暂停搜索");
    按钮_继续搜索 = PlaceButton(this, "按钮_继续搜索", {284, 5, 58, 29}, "继续搜索");
    按钮_停止搜索 = PlaceButton(this, "按钮_停止搜索", {357, 5, 58, 29}, "停止搜索");
    按钮_联系作者 = PlaceButton(this, "按钮_联系作者", {432, 5, 58, 29}, "联系作者");
    标签2 = PlaceLabel(this, "标签2", kElapsedLabelRect,
                       ElapsedText(elapsedHours, elapsedMinutes, elapsedSeconds));

    超级列表框1 = Place<QTableView>(this, "超级列表框1", kListRect);
    model_ = new ResultListModel(port_.Rows(), this);
    超级列表框1->setModel(model_);
    超级列表框1->verticalHeader()->hide();
    超级列表框1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    超级列表框1->verticalHeader()->setDefaultSectionSize(超级列表框1->fontMetrics().height() + 6);
    超级列表框1->setSelectionBehavior(QAbstractItemView::SelectRows);
    超级列表框1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    超级列表框1->setWordWrap(false);
    超级列表框1->setAlternatingRowColors(true);
    超级列表框1->setContextMenuPolicy(Qt::CustomContextMenu);
    QHeaderView* header = 超级列表框1->horizontalHeader();
    header->setHighlightSections(false);
    for (int column = 0; column < kResultColumnCount; ++column)
        header->resizeSection(column, ResultListModel::kColumns[column].width);
    header->setStretchLastSection(false);

    状态条1 = Place<QStatusBar>(this, "状态条1", kStatusBarRect);
    状态条1->setSizeGripEnabled(false);
    // The fields are placed side by side without the status bar's own spacing, which would
    // push the last one past the right edge.
    for (int part = 0; part < kStatusPartCount; ++part) {
        QLabel* label = PlaceLabel(状态条1, "", {}, Utf8(kStatusParts[part].initialText));
        label->setFrameStyle(QFrame::Panel |
                             (part == kRaisedStatusPart ? QFrame::Raised : QFrame::Sunken));
        statusParts[part] = label;
    }
    journalField = PlaceLabel(this, "journalField", kJournalFieldRect, {});
    journalField->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    journalField->hide();
    LayOutStatusParts();

    时钟1 = new QTimer(this);
    时钟1->setObjectName(Utf8("时钟1"));

    connect(编辑框_搜索内容, &QLineEdit::textChanged, this, [this](const QString& keyword) {
        port_.SetKeywordCopy(Utf8ToSystem(keyword.toStdString()));
    });
    connect(编辑框_搜索内容, &QLineEdit::returnPressed, 按钮_开始, &QPushButton::click);
    connect(按钮_开始, &QPushButton::clicked, this, [this] {
        HideJournalText();
        StartSearch(session_);
    });
    connect(按钮_暂停搜索, &QPushButton::clicked, this, [this] { PauseSearch(session_); });
    connect(按钮_继续搜索, &QPushButton::clicked, this, [this] { ResumeSearch(session_); });
    connect(按钮_停止搜索, &QPushButton::clicked, this, [this] { StopSearch(session_); });
    connect(按钮_联系作者, &QPushButton::clicked, this, &MainWindow::ContactAuthor);
    connect(时钟1, &QTimer::timeout, this, &MainWindow::OnElapsedTick);
    connect(超级列表框1, &QWidget::customContextMenuRequested, this, &MainWindow::ShowListMenu);
}

void MainWindow::BuildMenu() {
    程序菜单 = new QMenu(this);
    程序菜单->setObjectName(Utf8("程序菜单"));
    QMenu* exportMenu = 程序菜单->addMenu(Utf8("导出excel"));
    const std::pair<const char*, ExportResult (Exporter::*)()> exports[] = {
        {"全部", &Exporter::ExportAll},
        {"公司名", &Exporter::ExportCompanyNames},
        {"手机号", &Exporter::ExportMobiles},
        {"邮箱", &Exporter::ExportEmails},
    };
    for (const auto& [title, variant] : exports) {
        exportMenu->addAction(Utf8(title), this,
                              [this, exporting = variant] { RunExport(exporting); });
    }
    resumeAction_ =
        程序菜单->addAction(Utf8(kResumeMenuText), this, &MainWindow::ResumeUnfinishedSearch);
    resumeAction_->setVisible(false);
    程序菜单->addAction(Utf8("关于"), this, &MainWindow::ShowAbout);
}

void MainWindow::ConnectPort() {
    // Queued even from the window's own thread: every write keeps its place in one queue.
    connect(
        &port_, &MainWindowPort::StatusTextPosted, this,
        [this](int part, const QString& text) {
            if (part >= 0 && part < kStatusPartCount) statusParts[part]->setText(text);
            if (part == kRaisedStatusPart) FitTextToWidth(statusParts[part]);
            if (part == kJournalField) ShowJournalText(text);
        },
        Qt::QueuedConnection);
    connect(&port_, &MainWindowPort::TimerPeriodPosted, this, &MainWindow::SetTimerPeriod,
            Qt::QueuedConnection);
    connect(
        &port_, &MainWindowPort::MessagePosted, this,
        [](const QString& text, const QString& caption, unsigned flags) {
            MessageBox::Show(text, caption, flags);
        },
        Qt::QueuedConnection);
    connect(
        &port_, &MainWindowPort::ClipboardTextPosted, this,
        [](const QString& text) {
            if (QClipboard* clipboard = QGuiApplication::clipboard()) clipboard->setText(text);
        },
        Qt::QueuedConnection);
}

void MainWindow::SetTimerPeriod(int milliseconds) {
    if (milliseconds <= 0) {
        时钟1->stop();
        return;
    }
    时钟1->start(milliseconds);
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    LayOut();
}

void MainWindow::LayOut() {
    const QSize extra = size() - kClientSize;
    const int journalHeight = journalField->isHidden() ? 0 : kListHeightForJournalField;
    超级列表框1->setGeometry(
        kListRect.adjusted(0, 0, extra.width(), extra.height() - journalHeight));
    // The address takes the room a wider window gives; the other columns keep their widths.
    超级列表框1->horizontalHeader()->resizeSection(
        kAddressColumn, ResultListModel::kColumns[kAddressColumn].width + extra.width());
    journalField->setGeometry(
        kJournalFieldRect.translated(0, extra.height()).adjusted(0, 0, extra.width(), 0));
    状态条1->setGeometry(
        kStatusBarRect.translated(0, extra.height()).adjusted(0, 0, extra.width(), 0));
    标签2->setGeometry(kElapsedLabelRect.translated(extra.width(), 0));
    LayOutStatusParts();
}

void MainWindow::LayOutStatusParts() {
    const int extra = 状态条1->width() - kStatusBarRect.width();
    int left = 0;
    for (int part = 0; part < kStatusPartCount; ++part) {
        int width = kStatusParts[part].width + (part == kRaisedStatusPart ? extra : 0);
        statusParts[part]->setGeometry(left, 0, width, 状态条1->height());
        left += width;
    }
    FitTextToWidth(statusParts[kRaisedStatusPart]);
}

void MainWindow::ShowJournalText(const QString& text) {
    journalField->setText(text);
    journalField->setToolTip(text);
    if (!journalField->isHidden()) return;
    journalField->show();
    LayOut();
}

void MainWindow::HideJournalText() {
    if (journalField->isHidden()) return;
    journalField->hide();
    LayOut();
}

void MainWindow::OnMainWindowCreated() {
    AttachSkin(skin_, kMainWindowSkin,
               {QDir::tempPath(), QFile::decodeName(UserRuntimeDirectory().c_str())});
    RestoreInterruptedSearch(session_);
}

void MainWindow::OnMainWindowClosing() {
    if (closing_) return;
    closing_ = true;
    if (StopSearch(session_)) MessageBox::Show(Utf8("欢迎使用！"), {}, MessageBoxFlag::kOk);
    NoteWindowClosed(session_);
    skin_.Detach();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // The export runs on this thread and lets events in; a close asked for meanwhile is held
    // until it returns rather than pulling the window from under it.
    if (exporter_.IsRunning()) {
        closeHeldForExport_ = true;
        event->ignore();
        return;
    }
    OnMainWindowClosing();
    event->accept();
}

void MainWindow::OnElapsedTick() {
    constexpr int kPerUnit = 60;
    if (++elapsedSeconds == kPerUnit) {
        elapsedSeconds = 0;
        ++elapsedMinutes;
    }
    if (elapsedMinutes == kPerUnit) {
        elapsedMinutes = 0;
        ++elapsedHours;
    }
    标签2->setText(ElapsedText(elapsedHours, elapsedMinutes, elapsedSeconds));
}

void MainWindow::ShowListMenu() {
    resumeAction_->setVisible(HasResumableSearch());
    程序菜单->popup(QCursor::pos() + kMenuOffset);
}

bool MainWindow::HasResumableSearch() const {
    if (session_.journal.path.empty()) return false;
    Journal journal(session_.journal.path);
    return journal.LatestResumableSearch().has_value();
}

void MainWindow::ResumeUnfinishedSearch() {
    std::optional<TakenOverSearch> taken = TakeOverLatestSearch(session_);
    if (!taken) return;  // resumed or forgotten meanwhile, by another program
    HideJournalText();
    // The search goes on with the keyword it was started with, shown where every search's is.
    编辑框_搜索内容->setText(QString::fromStdString(SystemToUtf8(taken->search.keyword)));
    ContinueSearch(session_, std::move(taken->journal), taken->search.id);
}

void MainWindow::ShowAbout() {
    QString text = Utf8("软件只是一时兴起，有什么bug空间留言！\r\n") + Utf8(kAuthorCredit) +
                   Utf8("于 2014-11-09");
    if (MessageBox::Show(text, Utf8(kAboutCaption), kAboutFlags) == kAnswerYes)
        ShellOpen(QUrl(Utf8(kAuthorWebPage)));
}

void MainWindow::ContactAuthor() {
    ShellOpen(QUrl(Utf8(kContactLink)), [] {
        MessageBox::Show(Utf8(kNoContactHandlerMessage) + Utf8(kContactLink), {},
                         MessageBoxFlag::kIconInformation);
    });
}

void MainWindow::RunExport(ExportResult (Exporter::*variant)()) {
    (exporter_.*variant)();
    // A second export asked for meanwhile returns at once; the first one's progress stays.
    if (!exporter_.IsRunning()) EndExportProgress();
    QCoreApplication::processEvents();
    if (closeHeldForExport_ && !exporter_.IsRunning()) {
        closeHeldForExport_ = false;
        close();
    }
}

// An export still running after the delay shows where it stands until its work is over; a
// short one never opens the dialog.
void MainWindow::ShowExportProgress(ExportPhase phase, int done, int total) {
    if (phase == ExportPhase::kSaving && done >= total) {
        EndExportProgress();  // saved: only the result is left to show
        return;
    }
    if (!exportProgress_) {
        if (!exportClock_.isValid()) exportClock_.start();
        if (exportClock_.elapsed() < exportProgressDelayMs) return;
        exportProgress_ = new QProgressDialog(this);
        exportProgress_->setWindowTitle(Utf8(kDefaultMessageCaption));
        exportProgress_->setCancelButton(nullptr);  // an export runs to its end
        exportProgress_->setMinimumDuration(0);
        exportProgress_->setAutoClose(false);
        exportProgress_->setAutoReset(false);
        exportProgress_->show();
    }
    static constexpr const char* kPhaseLabels[] = {"正在写入表格…", "正在核对表格…",
                                                   "正在保存文件…"};
    exportProgress_->setLabelText(Utf8(kPhaseLabels[static_cast<int>(phase)]));
    exportProgress_->setMaximum(std::max(total, 1));
    exportProgress_->setValue(std::min(done, std::max(total, 1)));
}

void MainWindow::EndExportProgress() {
    exportClock_.invalidate();
    delete exportProgress_;
    exportProgress_ = nullptr;
}

}  // namespace velmora
