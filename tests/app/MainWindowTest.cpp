// The Qt window as the user meets it: controls, texts and geometry as drawn, a window that
// grows, the popup menu built from the form, events reaching the behaviour, how writes from
// other threads reach the window, and Qt's own dialogs as the window shows them. What the
// window does with its events is window_behaviour_test's.

#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>
#include <thread>

#include "TestWindow.h"
#include "app/ResultListModel.h"
#include "app/StartUp.h"
#include "journal/Journal.h"
#include "text/CodePage.h"

using namespace velmora;
using velmora::test::DialogRecorder;
using velmora::test::TestWindow;

namespace {

QString Utf8(const char* text) {
    return QString::fromUtf8(text);
}

QString ElapsedCaption(int hours, int minutes, int seconds) {
    return Utf8("已运行:%1小时%2分钟%3秒").arg(hours).arg(minutes).arg(seconds);
}

// A text that Qt would draw as markup if it were taken for it.
const char* const kMarkupLike = "<font color=red size=6>7</font> <b>甲</b>";

// The text a label shows, as assistive tools read it: markup drawn, not its source.
QString ShownText(QWidget* label) {
    return QAccessible::queryAccessibleInterface(label)->text(QAccessible::Name);
}

// The tooltip on screen, if one is.
QLabel* ShownTooltip() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->inherits("QTipLabel") && widget->isVisible())
            return qobject_cast<QLabel*>(widget);
    }
    return nullptr;
}

// Runs `act` on the dialog of kind Dialog that the next modal call opens, once it shows.
template <typename Dialog>
void WhenShown(std::function<void(Dialog*)> act) {
    QTimer::singleShot(0, qApp, [act = std::move(act)] {
        if (auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget())) act(dialog);
    });
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<DialogRecorder> dialogs;
    std::unique_ptr<TestWindow> test;
    MainWindow* window = nullptr;

private slots:
    void initTestCase() {
        velmora::test::UsePrivateTemporaryDirectory();
        QVERIFY(InstallQtTranslations());  // as start-up does
    }

    void init() {
        dialogs = std::make_unique<DialogRecorder>();
        test = std::make_unique<TestWindow>();
        window = test->window.get();
    }

    void cleanup() {
        test.reset();
        dialogs.reset();
    }

    void windowFrame() {
        QCOMPARE(window->windowTitle(), Utf8("Velmora1.1 By【Velmora 开发组】"));
        QCOMPARE(window->pos(), QPoint(50, 50));
        // 719 x 469 outside, less the 3-pixel borders and the 25-pixel caption.
        QCOMPARE(window->size(), QSize(713, 441));
        QVERIFY(window->findChildren<QMenuBar*>().isEmpty());
        QVERIFY(!window->程序菜单->isVisible());
        QVERIFY(!window->windowIcon().isNull());
        QVERIFY2(!window->windowIcon().pixmap(32).isNull(), "the icon can be drawn");
        QCOMPARE(window->focusWidget(), window->编辑框_搜索内容);
    }

    // The desktop as the desktop environment names it; the program's folder without one.
    void saveDialogOpensOnTheDesktop() {
        QTemporaryDir home;
        const QString desktop = home.filePath(Utf8("桌面"));
        QVERIFY(QDir().mkpath(desktop));
        QFile dirs(home.filePath(QStringLiteral("user-dirs.dirs")));
        QVERIFY(dirs.open(QIODevice::WriteOnly));
        dirs.write(("XDG_DESKTOP_DIR=\"" + desktop + "\"\n").toUtf8());
        dirs.close();
        const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
        for (const bool withDesktop : {true, false}) {
            if (!withDesktop) QVERIFY(QDir(desktop).removeRecursively());
            qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path()));
            test = std::make_unique<TestWindow>();
            test->port.SetCell(test->port.AppendRow(), 0, Utf8ToSystem("甲公司"));
            test->window->程序菜单->actions()[0]->menu()->actions()[0]->trigger();
            qputenv("XDG_CONFIG_HOME", saved);
            QCOMPARE(dialogs->saveRequests.size(), size_t(1));
            const QString expected = withDesktop ? desktop : QCoreApplication::applicationDirPath();
            QCOMPARE(QString::fromStdString(SystemToUtf8(dialogs->saveRequests[0].initialFolder)),
                     expected + QLatin1Char('/'));
            dialogs->saveRequests.clear();
            dialogs->messages.clear();
        }
    }

    void controls_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QRect>("rectangle");
        QTest::addColumn<QString>("text");
        auto row = [](const char* name, const char* kind, QRect rectangle, const char* text) {
            QTest::newRow(name) << Utf8(name) << QString::fromLatin1(kind) << rectangle
                                << Utf8(text);
        };
        row("标签1", "QLabel", {10, 8, 44, 27}, "关键字：");
        row("编辑框_搜索内容", "QLineEdit", {54, 7, 74, 28}, "");
        row("按钮_开始", "QPushButton", {140, 5, 58, 29}, "开始搜索");
        row("按钮_暂停搜索", "QPushButton", {212, 5, 58, 29}, "暂停搜索");
        row("按钮_继续搜索", "QPushButton", {284, 5, 58, 29}, "继续搜索");
        row("按钮_停止搜索", "QPushButton", {357, 5, 58, 29}, "停止搜索");
        row("按钮_联系作者", "QPushButton", {432, 5, 58, 29}, "联系作者");
        row("标签2", "QLabel", {573, 12, 152, 24}, "已运行:0小时0分钟0秒");
        row("超级列表框1", "QTableView", {0, 40, 712, 383}, "");
        row("状态条1", "QStatusBar", {0, 421, 713, 20}, "");
    }

    void controls() {
        QFETCH(QString, name);
        QFETCH(QString, kind);
        QFETCH(QRect, rectangle);
        QFETCH(QString, text);
        auto* control = window->findChild<QWidget*>(name, Qt::FindDirectChildrenOnly);
        QVERIFY(control != nullptr);
        QCOMPARE(QString::fromLatin1(control->metaObject()->className()), kind);
        QCOMPARE(control->geometry(), rectangle);
        QVERIFY(control->isEnabled());
        QVariant shown = control->property("text");
        QCOMPARE(shown.isValid() ? shown.toString() : QString(), text);
    }

    void windowGrowsButNeverShrinks_data() {
        QTest::addColumn<QSize>("asked");
        QTest::addColumn<QSize>("given");
        QTest::newRow("designed") << QSize(713, 441) << QSize(713, 441);
        QTest::newRow("larger") << QSize(1000, 700) << QSize(1000, 700);
        QTest::newRow("smaller") << QSize(500, 300) << QSize(713, 441);
    }

    void windowGrowsButNeverShrinks() {
        QFETCH(QSize, asked);
        QFETCH(QSize, given);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        window->resize(asked);
        QTRY_COMPARE(window->size(), given);
        // Drawn where the layout puts them.
        const MainWindowLayout layout = LayOutMainWindow({given.width(), given.height()}, false);
        auto drawn = [](Rect rect) { return QRect(rect.left, rect.top, rect.width, rect.height); };
        QTRY_COMPARE(window->超级列表框1->geometry(), drawn(layout.list));
        QCOMPARE(window->状态条1->geometry(), drawn(layout.statusBar));
        QCOMPARE(window->标签2->geometry(), drawn(layout.elapsedLabel));
        QCOMPARE(window->按钮_联系作者->geometry(), QRect(432, 5, 58, 29));
        for (int column = 0; column < kResultColumnCount; ++column) {
            QCOMPARE(window->超级列表框1->horizontalHeader()->sectionSize(column),
                     column == layout.widenedColumn.column ? layout.widenedColumn.width
                                                           : kListColumns[column].width);
        }
        // The status fields side by side.
        for (int part = 0, left = 0; part < kStatusPartCount;
             left += layout.statusPartWidths[part++]) {
            QCOMPARE(window->statusParts[part]->geometry(),
                     QRect(left, 0, layout.statusPartWidths[part], 20));
        }
    }

    void labelsShowTheirTextsWhole_data() {
        QTest::addColumn<QString>("label");  // a name, or a status field's number
        QTest::addColumn<QString>("text");   // none: the label's own
        auto row = [](const char* label, const QString& text) {
            QTest::newRow(qPrintable(Utf8(label) + QLatin1Char(' ') + text)) << Utf8(label) << text;
        };
        row("标签1", {});
        row("标签2", ElapsedCaption(9, 59, 59));
        row("0", Utf8("状态：运行中"));
        row("0", Utf8("状态：连接失败"));
        row("1", Utf8("搜索结果：99999条"));
        row("2", Utf8("成功获取：99999条"));
        row("3", {});
        row("3", Utf8("温馨提醒：【推荐在网速较好的时候使用，速度以后再慢慢优化！】"));
        row("3", Utf8("温馨提醒：【鼠标右键表格，可以弹出菜单！发现bug欢迎联系！】"));
    }

    // At the designed size and the default font: on one line and within what the window shows.
    void labelsShowTheirTextsWhole() {
        QFETCH(QString, label);
        QFETCH(QString, text);
        bool isField = false;
        int part = label.toInt(&isField);
        QLabel* shown = isField ? window->statusParts[part] : window->findChild<QLabel*>(label);
        QVERIFY(shown != nullptr);
        if (!text.isEmpty()) shown->setText(text);
        QVERIFY(!shown->wordWrap());
        const QRect visible = shown->geometry() & shown->parentWidget()->rect();
        const int frame = shown->frameWidth();
        const int indent = shown->indent() >= 0 ? shown->indent()
                           : frame > 0          ? shown->fontMetrics().horizontalAdvance(u'x') / 2
                                                : 0;
        const QRect ink = shown->fontMetrics().boundingRect(shown->text());
        QVERIFY2(
            ink.right() + 1 <= visible.width() - 2 * frame - indent,
            qPrintable(
                QStringLiteral("%1 px of text in %2").arg(ink.right() + 1).arg(visible.width())));
        QVERIFY(shown->fontMetrics().height() <= visible.height() - 2 * frame);
    }

    // Tab through the form's order; Enter in the keyword box searches, Enter and Space press a
    // button, Escape does nothing; Shift+F10 opens the list's menu at its corner.
    void worksByKeyboard() {
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QList<QWidget*> order;
        for (const ControlForm& form : kControls)
            if (TakesFocus(form.kind)) order << window->findChild<QWidget*>(Utf8(form.name));
        for (int step = 1; step <= order.size(); ++step) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), order[step % order.size()]);
        }
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ShiftModifier);
        QCOMPARE(QApplication::focusWidget(), window->超级列表框1);
        window->按钮_联系作者->setFocus();
        for (const Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Space})
            QTest::keyClick(window->按钮_联系作者, key);
        QCOMPARE(dialogs->openedLinks.size(), size_t(2));
        QVERIFY(window->isVisible());
        QTest::keyClick(window->超级列表框1, Qt::Key_F10, Qt::ShiftModifier);
        QTRY_VERIFY(window->程序菜单->isVisible());
        QCOMPARE(window->程序菜单->pos(),
                 window->超级列表框1->mapToGlobal(
                     window->超级列表框1->viewport()->geometry().topLeft() + QPoint(3, 3)));
        window->程序菜单->hide();
        window->编辑框_搜索内容->setFocus();
        const QString statusBefore = window->statusParts[0]->text();
        QTest::keyClick(window->编辑框_搜索内容, Qt::Key_Enter);
        WaitForSearchEnd(test->session);
        QTRY_VERIFY(window->statusParts[0]->text() != statusBefore);
    }

    void nonVisualComponents() {
        QVERIFY(window->findChild<QTimer*>(Utf8("时钟1")) == window->时钟1);
        QVERIFY(!window->时钟1->isActive());
        QCOMPARE(window->程序菜单->objectName(), Utf8("程序菜单"));
    }

    void columns_data() {
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("title");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("alignment");
        const int left = Qt::AlignLeft | Qt::AlignVCenter;
        const int centre = Qt::AlignCenter;
        QTest::newRow("公司名") << 0 << Utf8("公司名") << 150 << left;
        QTest::newRow("联系人") << 1 << Utf8("联系人") << 50 << left;
        QTest::newRow("电话") << 2 << Utf8("电话") << 84 << centre;
        QTest::newRow("手机") << 3 << Utf8("手机") << 78 << centre;
        QTest::newRow("传真") << 4 << Utf8("传真") << 84 << left;
        QTest::newRow("邮箱") << 5 << Utf8("邮箱") << 115 << left;
        QTest::newRow("地址") << 6 << Utf8("地址") << 130 << left;
    }

    void columns() {
        QFETCH(int, column);
        QFETCH(QString, title);
        QFETCH(int, width);
        QFETCH(int, alignment);
        QAbstractItemModel* model = window->超级列表框1->model();
        QCOMPARE(model->columnCount(), 7);
        QCOMPARE(model->rowCount(), 0);
        QCOMPARE(model->headerData(column, Qt::Horizontal).toString(), title);
        QCOMPARE(window->超级列表框1->horizontalHeader()->sectionSize(column), width);
        // A cell of the column carries the column's alignment.
        int row = test->port.AppendRow();
        test->port.SetCell(row, column, Utf8ToSystem("x"));
        QTRY_COMPARE(model->rowCount(), 1);
        QCOMPARE(model->index(row, column).data(Qt::TextAlignmentRole).toInt(), alignment);
    }

    void statusParts_data() {
        QTest::addColumn<int>("part");
        QTest::addColumn<int>("width");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("shadow");
        QTest::newRow("0") << 0 << 90 << Utf8("状态：") << int(QFrame::Sunken);
        QTest::newRow("1") << 1 << 120 << Utf8("搜索结果：") << int(QFrame::Sunken);
        QTest::newRow("2") << 2 << 120 << Utf8("成功获取：") << int(QFrame::Sunken);
        QTest::newRow("3") << 3 << 380 << QString() << int(QFrame::Raised);
    }

    void statusParts() {
        QFETCH(int, part);
        QFETCH(int, width);
        QFETCH(QString, text);
        QFETCH(int, shadow);
        QLabel* label = window->statusParts[part];
        QCOMPARE(label->parentWidget(), window->状态条1);
        QCOMPARE(label->width(), width);
        QCOMPARE(int(label->frameShadow()), shadow);
        if (!text.isEmpty()) {
            QCOMPARE(label->text(), text);
        } else {
            // The banner: seven arrows, a text in double brackets, seven arrows back.
            QVERIFY(label->text().startsWith(Utf8("→→→→→→→【【")));
            QVERIFY(label->text().endsWith(Utf8("】】←←←←←←←")));
            QVERIFY(!label->text().contains(Utf8("→→→→→→→→")));
        }
    }

    // Built from the form's menu; the resume entry is left out while the journal holds no search
    // to go on with, and this window keeps none.
    void popupMenuEntries() {
        QList<QAction*> top = window->程序菜单->actions();
        QCOMPARE(size_t(top.size()), std::size(kProgramMenu));
        for (size_t entry = 0; entry < std::size(kProgramMenu); ++entry) {
            QCOMPARE(top[entry]->text(), Utf8(kProgramMenu[entry].text));
            QCOMPARE(top[entry]->menu() != nullptr, !kProgramMenu[entry].submenu.empty());
        }
        QStringList exports;
        for (QAction* action : top[0]->menu()->actions()) exports << action->text();
        QStringList formExports;
        for (const MenuEntry& entry : kProgramMenu[0].submenu) formExports << Utf8(entry.text);
        QCOMPARE(exports, formExports);
        window->Behaviour().ShowListMenu();
        QVERIFY(!top[1]->isVisible());
        QVERIFY(top[2]->isVisible());
        window->程序菜单->hide();
    }

    void rightClickOnEmptyListPopsMenuBesideCursor() {
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QCursor::setPos(200, 200);
        QWidget* viewport = window->超级列表框1->viewport();
        QContextMenuEvent event(QContextMenuEvent::Mouse, {20, 20},
                                viewport->mapToGlobal(QPoint(20, 20)));
        QApplication::sendEvent(viewport, &event);
        QTRY_VERIFY(window->程序菜单->isVisible());
        QCOMPARE(window->程序菜单->pos(), QCursor::pos() + QPoint(3, 3));
        window->程序菜单->hide();
    }

    // Shown past its delay while the export works, gone before the result is shown.
    void exportProgressShowsWhileALongExportWorks() {
        window->Behaviour().exportProgressDelay = {};
        for (int row = 0; row < 60; ++row)
            test->port.SetCell(test->port.AppendRow(), 0, Utf8ToSystem("甲公司"));
        QTemporaryDir folder;
        bool shownWhileWorking = false;
        bool leftAtTheResult = true;
        FileDialog::SetAnswerer([&](const SaveDialogRequest&) {
            // Runs when the export first lets the window in.
            QTimer::singleShot(0, window, [&] {
                auto* progress = window->findChild<QProgressDialog*>();
                shownWhileWorking = progress != nullptr && progress->isVisible();
            });
            return Utf8ToSystem(folder.filePath(QStringLiteral("全部.xlsx")).toStdString());
        });
        MessageBox::SetAnswerer([&](const MessageRequest&) {
            leftAtTheResult = window->findChild<QProgressDialog*>() != nullptr;
            return kAnswerOk;
        });
        window->程序菜单->actions()[0]->menu()->actions()[0]->trigger();
        QVERIFY(shownWhileWorking);
        QVERIFY(!leftAtTheResult);
        QVERIFY(window->findChild<QProgressDialog*>() == nullptr);
    }

    void closeDuringAnExportWaitsForItsEnd() {
        test->port.SetCell(test->port.AppendRow(), 0, Utf8ToSystem("甲公司"));
        window->show();
        QTemporaryDir folder;
        bool openWhileExporting = false;
        FileDialog::SetAnswerer([&](const SaveDialogRequest&) {
            window->close();
            openWhileExporting = window->isVisible();
            return Utf8ToSystem(folder.filePath(QStringLiteral("held.xlsx")).toStdString());
        });
        window->程序菜单->actions()[0]->menu()->actions()[0]->trigger();
        FileDialog::SetAnswerer({});
        QVERIFY(openWhileExporting);
        QVERIFY(!window->isVisible());
    }

    // The about box from the menu: its flags reach the box, and Yes opens the web page.
    void aboutBoxFromTheMenu() {
        dialogs->answer = kAnswerYes;
        window->程序菜单->actions().back()->trigger();
        QCOMPARE(dialogs->messages.size(), size_t(1));
        QCOMPARE(dialogs->messages[0].caption, Utf8("爱自己是最大的帮助！"));
        QCOMPARE(dialogs->messages[0].flags, 0x80024u);
        QCOMPARE(dialogs->openedLinks, std::vector<QUrl>{QUrl(Utf8(kAuthorWebPage))});
    }

    // The contact button, on a desktop where nothing takes the link: it is said so, with the
    // address to copy.
    void contactButtonOpensTheContactLink() {
        dialogs->linksOpen = false;
        QTest::mouseClick(window->按钮_联系作者, Qt::LeftButton);
        QCOMPARE(dialogs->openedLinks, std::vector<QUrl>{QUrl(Utf8(kContactLink))});
        QCOMPARE(dialogs->messages.size(), size_t(1));
        QVERIFY(dialogs->messages[0].text.endsWith(QLatin1Char('\n') + Utf8(kContactLink)));
    }

    // 时钟1 runs and stops as the port says, and its ticks reach the elapsed-time label.
    void timerFollowsThePortAndTicksTheLabel() {
        test->port.SetTimerPeriod(1000);
        QTRY_VERIFY(window->时钟1->isActive());
        QCOMPARE(window->时钟1->interval(), 1000);
        QVERIFY(QMetaObject::invokeMethod(window->时钟1, "timeout"));
        QCOMPARE(window->标签2->text(), ElapsedCaption(0, 0, 1));
        test->port.SetTimerPeriod(0);
        QTRY_VERIFY(!window->时钟1->isActive());
    }

    void writesKeepTheirOrderAcrossThreads() {
        // The window's own write, then another thread's, then the window's again: the last
        // one made is the one shown, whichever thread made it.
        test->port.SetStatusText(0, Utf8ToSystem("甲"));
        test->port.SetTimerPeriod(1000);
        std::thread([this] {
            test->port.SetStatusText(0, Utf8ToSystem("乙"));
            test->port.SetTimerPeriod(0);
        }).join();
        test->port.SetStatusText(0, Utf8ToSystem("丙"));
        test->port.SetStatusText(9, Utf8ToSystem("nowhere"));
        QTRY_COMPARE(window->statusParts[0]->text(), Utf8("丙"));
        QCoreApplication::processEvents();
        QCOMPARE(window->statusParts[0]->text(), Utf8("丙"));
        QVERIFY(!window->时钟1->isActive());
        for (int part = 1; part < kStatusPartCount; ++part)
            QVERIFY(!window->statusParts[part]->text().contains(QLatin1String("nowhere")));
    }

    void messagesFromOtherThreadsAreShownWithoutWaiting() {
        int answer = 0;
        std::thread([this, &answer] {
            answer = test->port.ShowMessage(Utf8ToSystem("搜索完毕！"), {}, MessageBoxFlag::kOk);
        }).join();
        QCOMPARE(answer, kAnswerOk);
        QTRY_COMPARE(dialogs->messages.size(), size_t(1));
        QCOMPARE(dialogs->messages[0].text, Utf8("搜索完毕！"));
        QCOMPARE(dialogs->messages[0].caption, Utf8("信息："));
    }

    void siteTextsAreShownAsText_data() {
        QTest::addColumn<bool>("inTooltip");
        QTest::newRow("status field") << false;
        QTest::newRow("cell tooltip") << true;
    }

    void siteTextsAreShownAsText() {
        QFETCH(bool, inTooltip);
        const QString text = Utf8(kMarkupLike);
        if (!inTooltip) {
            test->port.SetStatusText(1, Utf8ToSystem(kMarkupLike));
            QTRY_COMPARE(window->statusParts[1]->text(), text);
            QCOMPARE(ShownText(window->statusParts[1]), text);
            return;
        }
        test->port.SetCell(test->port.AppendRow(), 6, Utf8ToSystem(kMarkupLike));
        QTRY_COMPARE(window->超级列表框1->model()->rowCount(), 1);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QWidget* viewport = window->超级列表框1->viewport();
        QPoint cell =
            window->超级列表框1->visualRect(window->超级列表框1->model()->index(0, 6)).center();
        QHelpEvent help(QEvent::ToolTip, cell, viewport->mapToGlobal(cell));
        QApplication::sendEvent(viewport, &help);
        QTRY_VERIFY(ShownTooltip() != nullptr);
        QCOMPARE(ShownText(ShownTooltip()), text);
    }

    // Qt's own texts in Chinese; the text as written, selectable so it can be copied.
    void messageBoxesAsShown() {
        MessageBox::SetAnswerer({});
        QStringList buttons;
        QString shown;
        Qt::TextInteractionFlags interaction;
        WhenShown<QMessageBox>([&](QMessageBox* box) {
            for (QAbstractButton* button : box->buttons()) buttons << button->text();
            auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
            shown = ShownText(label);
            interaction = label->textInteractionFlags();
            box->button(QMessageBox::No)->click();
        });
        int answer = MessageBox::Show(Utf8(kMarkupLike), {},
                                      MessageBoxFlag::kYesNo | MessageBoxFlag::kIconQuestion);
        QCOMPARE(answer, kAnswerNo);
        buttons.sort();
        QCOMPARE(buttons, QStringList({Utf8("否(&N)"), Utf8("是(&Y)")}));
        QCOMPARE(shown, Utf8(kMarkupLike));
        QVERIFY(interaction.testFlag(Qt::TextSelectableByMouse));
    }

    // Both kinds of file are listed, the classic first; an existing file is replaced without a
    // question.
    void saveDialogAsShown() {
        FileDialog::SetAnswerer({});
        QTemporaryDir folder;
        const QString existing = folder.filePath(Utf8("名单.xlsx"));
        QFile(existing).open(QIODevice::WriteOnly);
        QStringList filters;
        auto questions = std::make_shared<int>(0);
        WhenShown<QFileDialog>([&, questions](QFileDialog* dialog) {
            filters = dialog->nameFilters();
            WhenShown<QMessageBox>([questions](QMessageBox* question) {
                ++*questions;
                question->button(QMessageBox::Yes)->click();
            });
            dialog->selectFile(existing);
            static_cast<QDialog*>(dialog)->accept();  // as its Save button does
        });
        Text chosen = window->通用对话框1.AskSaveFileName(
            {Utf8ToSystem("默认保存为 office Excel文件(*.xls)|*.xls|Excel 工作簿(*.xlsx)|*.xlsx|"
                          "CSV 文件(*.csv)|*.csv"),
             Utf8ToSystem("名单"), Utf8ToSystem((folder.path() + QLatin1Char('/')).toStdString())});
        QCOMPARE(QString::fromStdString(SystemToUtf8(chosen)), existing);
        QCOMPARE(*questions, 0);
        QCOMPARE(filters, QStringList({Utf8("默认保存为 office Excel文件(*.xls)"),
                                       Utf8("Excel 工作簿(*.xlsx)"), Utf8("CSV 文件(*.csv)")}));
    }

    void theSearchIsForTheEditBoxsTextAtTheStart() {
        const std::string journal =
            (QDir::tempPath() + QStringLiteral("/typed.sqlite3")).toStdString();
        test.reset();
        test = std::make_unique<TestWindow>("http://127.0.0.1:9",
                                            JournalSettings{journal, SearchOrigin::kWindow});
        window = test->window.get();
        window->编辑框_搜索内容->setText(Utf8("机械 𠀀"));
        window->按钮_开始->click();
        window->编辑框_搜索内容->setText(Utf8("别的"));
        WaitForSearchEnd(test->session);
        QCOMPARE(Journal(journal).History().back().keyword, Utf8ToSystem("机械 𠀀"));
    }

    void skinIsAttachedOnCreationAndDetachedOnClose() {
        QByteArray skin = CarriedSkin(kMainWindowSkin);
        QCOMPARE(qApp->styleSheet().toUtf8(), skin.mid(5));
        QFile written(QDir::tempPath() + QStringLiteral("/1.she"));
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll(), skin);
        window->close();
        QCOMPARE(qApp->styleSheet(), QString());
        QVERIFY(written.exists());
    }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
