// The main window as the user meets it: layout and texts, the popup menu, the about box and
// the contact link, the elapsed-time display, and how writes from other threads reach it.

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QStatusBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <thread>

#include "TestWindow.h"
#include "app/ResultListModel.h"
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

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<DialogRecorder> dialogs;
    std::unique_ptr<TestWindow> test;
    MainWindow* window = nullptr;

private slots:
    void initTestCase() { velmora::test::UsePrivateTemporaryDirectory(); }

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
        row("标签1", "QLabel", {10, 8, 40, 27}, "关键字：");
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

    void popupMenuEntries() {
        QList<QAction*> top = window->程序菜单->actions();
        QCOMPARE(top.size(), 2);
        QCOMPARE(top[0]->text(), Utf8("导出excel"));
        QVERIFY(top[0]->menu() != nullptr);
        QCOMPARE(top[1]->text(), Utf8("关于"));
        QStringList exports;
        for (QAction* action : top[0]->menu()->actions()) exports << action->text();
        QCOMPARE(exports,
                 QStringList({Utf8("全部"), Utf8("公司名"), Utf8("手机号"), Utf8("邮箱")}));
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

    void exportOfEmptyListIsRefusedFromTheMenu() {
        QAction* all = window->程序菜单->actions()[0]->menu()->actions()[0];
        all->trigger();
        // The export refuses with a message of its own and asks for no file name.
        QCOMPARE(dialogs->messages.size(), size_t(1));
        QVERIFY(dialogs->saveRequests.empty());
    }

    void exportFromTheMenuSavesUnderTheNameChosenInTheDialog() {
        test->port.SetCell(test->port.AppendRow(), 0, Utf8ToSystem("甲公司"));
        test->port.SetCell(test->port.AppendRow(), 0, Utf8ToSystem("乙公司"));
        QTemporaryDir folder;
        QString chosen = folder.filePath(Utf8("名单.xlsx"));
        dialogs->saveAs = Utf8ToSystem(chosen.toStdString());
        QAction* companyNames = window->程序菜单->actions()[0]->menu()->actions()[1];
        QCOMPARE(companyNames->text(), Utf8("公司名"));
        companyNames->trigger();
        QCOMPARE(dialogs->saveRequests.size(), size_t(1));
        QCOMPARE(dialogs->saveRequests[0].filter,
                 Utf8ToSystem("默认保存为 office Excel文件(*.xls)|*.xls"));
        QVERIFY(QFile::exists(chosen));
        QCOMPARE(dialogs->messages.size(), size_t(1));  // the count of rows saved
        // The export reported its progress to the window, which closed the dialog at the end.
        auto* progress = window->findChild<QProgressDialog*>();
        QVERIFY(progress);
        QVERIFY(!progress->isVisible());
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
        QVERIFY(QFile::exists(folder.filePath(QStringLiteral("held.xlsx"))));
        QVERIFY(!window->isVisible());
        QCOMPARE(qApp->styleSheet(), QString());  // the close ran, skin detached
    }

    void aboutBox_data() {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("opensWebPage");
        QTest::newRow("yes") << kAnswerYes << true;
        QTest::newRow("no") << kAnswerNo << false;
    }

    void aboutBox() {
        QFETCH(int, answer);
        QFETCH(bool, opensWebPage);
        dialogs->answer = answer;
        window->程序菜单->actions()[1]->trigger();
        QCOMPARE(dialogs->messages.size(), size_t(1));
        const MessageRequest& box = dialogs->messages[0];
        QCOMPARE(box.caption, Utf8("爱自己是最大的帮助！"));
        QCOMPARE(box.flags, 0x80024u);
        QCOMPARE(box.text,
                 Utf8("软件只是一时兴起，有什么bug空间留言！\r\nVelmora 开发组于 2014-11-09"));
        if (opensWebPage) {
            QCOMPARE(dialogs->openedLinks.size(), size_t(1));
            QCOMPARE(dialogs->openedLinks[0], QUrl(Utf8(kAuthorWebPage)));
        } else {
            QVERIFY(dialogs->openedLinks.empty());
        }
    }

    void contactButtonOpensTheContactLink() {
        QTest::mouseClick(window->按钮_联系作者, Qt::LeftButton);
        QCOMPARE(dialogs->openedLinks.size(), size_t(1));
        QCOMPARE(dialogs->openedLinks[0], QUrl(Utf8(kContactLink)));
        QVERIFY(dialogs->messages.empty());
    }

    void elapsedTicks_data() {
        QTest::addColumn<int>("ticks");
        QTest::addColumn<QString>("caption");
        QTest::newRow("first") << 1 << ElapsedCaption(0, 0, 1);
        QTest::newRow("59th") << 59 << ElapsedCaption(0, 0, 59);
        QTest::newRow("60th") << 60 << ElapsedCaption(0, 1, 0);
        QTest::newRow("61st") << 61 << ElapsedCaption(0, 1, 1);
        QTest::newRow("3599th") << 3599 << ElapsedCaption(0, 59, 59);
        QTest::newRow("3600th") << 3600 << ElapsedCaption(1, 0, 0);
        QTest::newRow("3661st") << 3661 << ElapsedCaption(1, 1, 1);
        QTest::newRow("a day") << 86400 << ElapsedCaption(24, 0, 0);
    }

    void elapsedTicks() {
        QFETCH(int, ticks);
        QFETCH(QString, caption);
        for (int tick = 0; tick < ticks; ++tick) window->OnElapsedTick();
        QCOMPARE(window->标签2->text(), caption);
    }

    void elapsedTimeContinuesAcrossSearches() {
        // The timer is started and stopped through the port, as searches do; the count is never
        // reset in between.
        test->port.SetTimerPeriod(1000);
        QTRY_VERIFY(window->时钟1->isActive());
        QCOMPARE(window->时钟1->interval(), 1000);
        for (int tick = 0; tick < 59; ++tick) window->OnElapsedTick();
        test->port.SetTimerPeriod(0);
        QTRY_VERIFY(!window->时钟1->isActive());
        QCOMPARE(window->标签2->text(), ElapsedCaption(0, 0, 59));
        test->port.SetTimerPeriod(1000);
        QTRY_VERIFY(window->时钟1->isActive());
        window->OnElapsedTick();
        QCOMPARE(window->标签2->text(), ElapsedCaption(0, 1, 0));
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

    void keywordIsReadFromTheEditBox() {
        window->编辑框_搜索内容->setText(Utf8("机械 𠀀"));
        Text keyword;
        std::thread([this, &keyword] { keyword = test->port.ReadKeyword(); }).join();
        QCOMPARE(keyword, Utf8ToSystem("机械 𠀀"));
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
        // Closing without a search running shows nothing.
        QVERIFY(dialogs->messages.empty());
    }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
