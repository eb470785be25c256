// Searches run from the window against the sample site on loopback: a search filling the
// list, and the window closed during a batch or left to the program's end, which must end every
// search thread without waiting on the window and without a second "欢迎使用！". (At which
// stages a close stops the search is window_behaviour_test's.)

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "TestWindow.h"
#include "app/StartUp.h"
#include "text/CodePage.h"
#include "tools/SampleSite.h"

using namespace velmora;
using namespace std::chrono_literals;
using velmora::test::DialogRecorder;
using velmora::test::TestWindow;

namespace {

QString Utf8(const char* text) {
    return QString::fromUtf8(text);
}

constexpr auto kPatience = 60s;

// Counts events that happen on other threads, so the test can wait for the n-th.
class EventCounter {
public:
    void Arrive() {
        std::lock_guard lock(mutex_);
        ++count_;
        arrived_.notify_all();
    }
    bool WaitFor(int count) {
        std::unique_lock lock(mutex_);
        return arrived_.wait_for(lock, kPatience, [&] { return count_ >= count; });
    }

private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    int count_ = 0;
};

struct Search {
    site::SampleSite site;
    EventCounter held;
    EventCounter workersStarted;
    std::unique_ptr<TestWindow> test;

    explicit Search(site::SiteOptions options) : site(WithHeldCounter(std::move(options))) {}

    site::SiteOptions WithHeldCounter(site::SiteOptions options) {
        options.onRequest = [this](const site::RecordedRequest& request) {
            if (request.fault == site::FaultKind::Hold) held.Arrive();
        };
        return options;
    }

    bool Start() {
        if (!site.Start()) return false;
        test = std::make_unique<TestWindow>(site.BaseUrl());
        ThreadStarter start = test->session.serial.startThread;
        test->session.serial.startThread = [this, start](std::function<void()> routine) {
            std::thread worker = start(std::move(routine));
            workersStarted.Arrive();
            return worker;
        };
        test->window->编辑框_搜索内容->setText(Utf8("机械"));
        QTest::mouseClick(test->window->按钮_开始, Qt::LeftButton);
        return true;
    }
};

site::FaultRule HoldAll(site::FaultScope scope) {
    site::FaultRule rule;
    rule.kind = site::FaultKind::Hold;
    rule.scope = scope;
    rule.all = true;
    return rule;
}

}  // namespace

class CloseDuringSearchTest : public QObject {
    Q_OBJECT

    std::unique_ptr<DialogRecorder> dialogs;

private slots:
    void initTestCase() { velmora::test::UsePrivateTemporaryDirectory(); }
    void init() { dialogs = std::make_unique<DialogRecorder>(); }
    void cleanup() { dialogs.reset(); }

    void aSearchFillsTheList() {
        site::SiteOptions options;
        options.pages = 3;
        options.linksPerPage = 4;
        options.companyPageBytes = 2000;
        Search search(options);
        QVERIFY(search.Start());
        MainWindow& window = *search.test->window;
        QTRY_VERIFY_WITH_TIMEOUT(!dialogs->messages.empty(), 60000);
        QCOMPARE(dialogs->messages.back().text, Utf8("搜索完毕！"));
        QTRY_COMPARE(window.超级列表框1->model()->rowCount(), 12);
        QVERIFY(!window.超级列表框1->model()->index(11, 0).data().toString().isEmpty());
        QTRY_VERIFY(!window.时钟1->isActive());
        QCOMPARE(window.statusParts[2]->text(), Utf8("成功获取：12条"));
    }

    void closeDuringABatchStopsItShowsWelcomeOnceAndEnds() {
        site::SiteOptions options;
        options.pages = 2;
        options.linksPerPage = 4;
        options.faults = {HoldAll(site::FaultScope::Company)};
        Search search(options);
        QVERIFY(search.Start());
        // Every worker of the batch is listed; one waits for its held page, the rest for it.
        QVERIFY(search.workersStarted.WaitFor(8));
        QVERIFY(search.held.WaitFor(1));
        MainWindow& window = *search.test->window;

        window.close();
        window.close();
        QCOMPARE(dialogs->messages.size(), size_t(1));
        QCOMPARE(dialogs->messages[0].text, Utf8("欢迎使用！"));
        QCOMPARE(dialogs->messages[0].caption, Utf8("信息："));
        QCOMPARE(dialogs->messages[0].flags, 0u);

        EndSearchThreads(search.test->session);
        QTRY_COMPARE(window.statusParts[0]->text(), Utf8("状态：结束中"));
        // The stop leaves the elapsed-time display counting.
        QVERIFY(window.时钟1->isActive());
        QCOMPARE(dialogs->messages.size(), size_t(1));
        search.test.reset();
    }

    void theStopButtonLeavesTheElapsedTimeCounting() {
        site::SiteOptions options;
        options.pages = 2;
        options.linksPerPage = 3;
        options.faults = {HoldAll(site::FaultScope::Company)};
        Search search(options);
        QVERIFY(search.Start());
        QVERIFY(search.workersStarted.WaitFor(6));
        QVERIFY(search.held.WaitFor(1));
        MainWindow& window = *search.test->window;
        QTRY_VERIFY(window.时钟1->isActive());

        QTest::mouseClick(window.按钮_停止搜索, Qt::LeftButton);
        QTRY_COMPARE(window.statusParts[0]->text(), Utf8("状态：结束中"));
        EndSearchThreads(search.test->session);
        QCoreApplication::processEvents();
        QVERIFY(window.时钟1->isActive());
        QCOMPARE(window.时钟1->interval(), 1000);
        QVERIFY(dialogs->messages.empty());
    }

    void theProgramsEndJoinsACrawlTheCloseLeftRunning() {
        site::SiteOptions options;
        options.pages = 3;
        options.faults = {HoldAll(site::FaultScope::ResultPage)};
        EventCounter held;
        options.onRequest = [&held](const site::RecordedRequest& request) {
            if (request.fault) held.Arrive();
        };
        site::SampleSite site(options);
        QVERIFY(site.Start());
        qputenv("VELMORA_SITE", QByteArray::fromStdString(site.BaseUrl()));

        // Start-up's own sequence, then the end: window closed and gone, then the clean-up.
        InitGlobals();
        InstallSkinEngine(QCoreApplication::applicationDirPath());
        auto window =
            std::make_unique<MainWindow>(GlobalPort(), GlobalSession(), GlobalSkinEngine());
        window->编辑框_搜索内容->setText(Utf8("模具"));
        window->按钮_开始->click();
        QVERIFY(held.WaitFor(1));
        window->close();
        window.reset();
        size_t requestsAtEnd = site.RequestCount();
        ExitCleanup();
        ExitCleanup();
        site.ReleaseHeld();
        site.Stop();
        QCOMPARE(site.RequestCount(), requestsAtEnd);
        QVERIFY(dialogs->messages.empty());
        qunsetenv("VELMORA_SITE");
    }
};

QTEST_MAIN(CloseDuringSearchTest)
#include "CloseDuringSearchTest.moc"
