// The journal seen from the window: after an abnormal end the next window puts the cut-short
// search's rows back and says how many; after a normal end it starts as it always has; a
// journal that cannot be used is told once while the search goes on.

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>

#include "TestWindow.h"
#include "journal/Journal.h"
#include "search/SearchTexts.h"
#include "text/CodePage.h"
#include "tools/SampleSite.h"

using namespace velmora;
using velmora::test::DialogRecorder;
using velmora::test::TestWindow;

namespace {

ResultRow Row(int number) {
    const Text n = std::to_string(number);
    return {Utf8ToSystem("公司") + n, "c" + n, "t" + n, "m" + n, "f" + n, "e" + n, "a" + n};
}

}  // namespace

class RestoreTest : public QObject {
    Q_OBJECT

    QTemporaryDir folder;
    std::unique_ptr<DialogRecorder> dialogs;

    std::string JournalFile() const {
        return folder.filePath(QStringLiteral("j.sqlite3")).toStdString();
    }

    // Opens a window on the journal and waits until its start-up has read the journal.
    std::unique_ptr<TestWindow> OpenWindow(const Text& site = "http://127.0.0.1:9") {
        auto test = std::make_unique<TestWindow>(
            site, JournalSettings{JournalFile(), SearchOrigin::kWindow});
        EndSearchThreads(test->session);
        QCoreApplication::processEvents();
        return test;
    }

    static int ListedRows(TestWindow& test) {
        return test.window->超级列表框1->model()->rowCount();
    }

    // A sample site of two companies, with small pages.
    static site::SiteOptions TwoCompanies() {
        site::SiteOptions options;
        options.pages = 1;
        options.linksPerPage = 2;
        options.companyPageBytes = 3000;
        return options;
    }

    static void SearchToTheEnd(TestWindow& test) {
        test.window->编辑框_搜索内容->setText(QString::fromUtf8("机械"));
        QTest::mouseClick(test.window->按钮_开始, Qt::LeftButton);
        // A new search clears what the journal had to say.
        QVERIFY(test.window->journalField->isHidden());
        QCOMPARE(test.window->超级列表框1->height(), 383);
        WaitForSearchEnd(test.session);
    }

    // Start-up exactly as without a journal: empty list, no journal field.
    static void VerifyPlainStartUp(TestWindow& test) {
        QCOMPARE(test.port.RowCount(), 0);
        QVERIFY(test.window->journalField->isHidden());
        QCOMPARE(test.window->statusParts[3]->width(), 380);
    }

private slots:
    void initTestCase() { velmora::test::UsePrivateTemporaryDirectory(); }
    void init() { dialogs = std::make_unique<DialogRecorder>(); }
    void cleanup() {
        dialogs.reset();
        QFile::remove(QString::fromStdString(JournalFile()));
    }

    void restoresTheRowsOfASearchCutShortUntilANormalEnd() {
        constexpr int kRows = 3;
        {
            // What a window that dies in mid-search leaves behind.
            Journal journal(JournalFile());
            const std::optional<SearchId> id =
                journal.BeginSearch(Utf8ToSystem("机械"), "http://site", SearchOrigin::kWindow);
            QVERIFY(id);
            for (int number = 1; number <= kRows; ++number) {
                QVERIFY(journal.AddRow(*id, "link", Row(number)));
            }
        }
        std::unique_ptr<TestWindow> test = OpenWindow();
        QTRY_COMPARE(ListedRows(*test), kRows);
        for (int row = 0; row < kRows; ++row) {
            int column = 0;
            const ResultRow stored = Row(row + 1);
            for (const Text* cell : stored.Columns()) {
                QCOMPARE(test->port.ReadCell(row, column++), *cell);
            }
        }
        QTRY_VERIFY(!test->window->journalField->isHidden());
        // Drawn where the layout puts the journal's line, with the status fields as they were.
        const MainWindowLayout layout = LayOutMainWindow(kClientSize, true);
        const Rect field = layout.journalField;
        const Rect list = layout.list;
        QCOMPARE(test->window->journalField->geometry(),
                 QRect(field.left, field.top, field.width, field.height));
        QCOMPARE(test->window->超级列表框1->geometry(),
                 QRect(list.left, list.top, list.width, list.height));
        QCOMPARE(test->window->statusParts[3]->width(), 380);
        QCOMPARE(test->window->journalField->text(),
                 QString::fromUtf8(search_text::kRowsRestoredBefore) + QString::number(kRows) +
                     QString::fromUtf8(search_text::kCountAfter));

        test.reset();  // a normal end
        test = OpenWindow();
        VerifyPlainStartUp(*test);
    }

    void startsPlainAfterASearchThatEndedNormally() {
        site::SampleSite site(TwoCompanies());
        QVERIFY2(site.Start(), site.Error().c_str());
        std::unique_ptr<TestWindow> test = OpenWindow(site.BaseUrl());
        SearchToTheEnd(*test);
        test.reset();

        test = OpenWindow();
        VerifyPlainStartUp(*test);
        const std::vector<StoredSearch> history = Journal(JournalFile()).History();
        QCOMPARE(history.size(), size_t(1));
        QCOMPARE(history[0].state, SearchState::kFinished);
        QCOMPARE(history[0].origin, SearchOrigin::kWindow);
        QCOMPARE(history[0].rowCount, std::int64_t(2));
    }

    void aJournalThatCannotBeUsedIsToldOnceAndTheSearchGoesOn() {
        std::ofstream(JournalFile()) << std::string(8192, 'Z');
        site::SampleSite site(TwoCompanies());
        QVERIFY2(site.Start(), site.Error().c_str());
        std::unique_ptr<TestWindow> test = OpenWindow(site.BaseUrl());
        VerifyPlainStartUp(*test);
        SearchToTheEnd(*test);
        QTRY_COMPARE(ListedRows(*test), 2);
        QTRY_COMPARE(test->window->journalField->text(),
                     QString::fromUtf8(search_text::kRowsNotKept));
    }
};

QTEST_MAIN(RestoreTest)
#include "RestoreTest.moc"
