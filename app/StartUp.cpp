#include "app/StartUp.h"

#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QLibraryInfo>
#include <QLocale>
#include <QThread>
#include <QTranslator>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <utility>

#include "app/MainWindow.h"
#include "app/MessageBox.h"
#include "app/SkinEngine.h"
#include "journal/JournalFiles.h"
#include "platform/FatalError.h"
#include "platform/ThreadStack.h"
#include "search/Engine.h"
#include "text/CodePage.h"
#include "window/WindowPort.h"

namespace velmora {

// Members are freed in reverse order: the engine (joining its threads) before the port that the
// threads write through.
struct AppGlobals {
    WindowPort port;
    Engine engine{port, {JournalPath(), SearchOrigin::kWindow}};
    SkinEngine skinEngine;

    // The skin engine's library is installed last, after the search state.
    explicit AppGlobals(const QString& runDirectory)
        : skinEngine(InstallSkinEngine(runDirectory)) {}
};

namespace {

// A report handed to the window's thread that has not been taken up by then finds it blocked
// (it may be waiting for the very thread that reports), and goes to standard error instead.
constexpr auto kFatalReportPickUpTime = std::chrono::seconds(10);

std::unique_ptr<AppGlobals>& Globals() {
    static std::unique_ptr<AppGlobals> globals;
    return globals;
}

// The report as the conventions give it: a plain box with the default caption.
void ShowFatalReport(const QString& report) {
    MessageBox::Show(report, {}, MessageBoxFlag::kOk);
}

struct FatalReportHandover {
    std::mutex mutex;
    std::condition_variable changed;
    bool shown = false;
    bool closed = false;

    void Mark(bool FatalReportHandover::*flag) {
        {
            std::lock_guard lock(mutex);
            this->*flag = true;
        }
        changed.notify_all();
    }
};

// A report on its way to the window's thread. Once posted it belongs to that thread alone, which
// shows it and frees it; the reporting thread keeps only the handover. (A queued functor would
// not do: the posting thread drops its own hold on the functor after posting, so it may free it
// after the window's thread has run it, and the thread sanitizer cannot see Qt's reference count
// that orders the two.)
class FatalReportEvent final : public QEvent {
public:
    FatalReportEvent(std::shared_ptr<FatalReportHandover> handover, QString report)
        : QEvent(Kind()), handover_(std::move(handover)), report_(std::move(report)) {}

    static QEvent::Type Kind() {
        static const auto kind = static_cast<QEvent::Type>(QEvent::registerEventType());
        return kind;
    }

    void Show() const {
        handover_->Mark(&FatalReportHandover::shown);
        ShowFatalReport(report_);
        handover_->Mark(&FatalReportHandover::closed);
    }

private:
    std::shared_ptr<FatalReportHandover> handover_;
    QString report_;
};

// Lives on the window's thread, as a child of the application object, and shows the reports
// posted to it.
class FatalReportDesk final : public QObject {
public:
    using QObject::QObject;

protected:
    void customEvent(QEvent* event) override {
        if (event->type() == FatalReportEvent::Kind())
            static_cast<FatalReportEvent*>(event)->Show();
    }
};

// Shows the report on the window's thread while the calling thread waits for the box to close.
// False when the window's thread did not take it up in time.
bool ShowFatalReportOnWindowThread(FatalReportDesk* desk, const QString& report) {
    auto handover = std::make_shared<FatalReportHandover>();
    QCoreApplication::postEvent(desk, new FatalReportEvent(handover, report));
    std::unique_lock lock(handover->mutex);
    if (!handover->changed.wait_for(lock, kFatalReportPickUpTime, [&] { return handover->shown; }))
        return false;
    handover->changed.wait(lock, [&] { return handover->closed; });
    return true;
}

}  // namespace

WindowPort& GlobalPort() {
    return Globals()->port;
}
SearchSession& GlobalSession() {
    return Globals()->engine.session;
}
SkinEngine& GlobalSkinEngine() {
    return Globals()->skinEngine;
}

void InitGlobals() {
    Globals() = std::make_unique<AppGlobals>(QCoreApplication::applicationDirPath());
}

void ExitCleanup() {
    std::unique_ptr<AppGlobals>& globals = Globals();
    if (!globals) return;
    EndSearchThreads(globals->engine.session);
    globals.reset();
}

void InstallFatalErrorPresenter() {
    // The desk goes with the application object, after qApp no longer names it.
    auto* desk = new FatalReportDesk(qApp);
    SetFatalErrorPresenter([desk](const Text& report) {
        std::string utf8 = SystemToUtf8(report);
        QString text = QString::fromStdString(utf8);
        if (qApp != nullptr && QThread::currentThread() == qApp->thread()) {
            ShowFatalReport(text);
            return;
        }
        if (qApp == nullptr || !ShowFatalReportOnWindowThread(desk, text))
            std::fputs(utf8.c_str(), stderr);
    });
}

bool InstallQtTranslations() {
    // The program speaks Chinese whatever the system's language; Qt's own texts follow.
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(QStringLiteral("qtbase_zh_CN"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

int StartUp(int& argc, char** argv) {
    // Before any thread starts; without it the threads keep the system's stack size.
    static_cast<void>(UseThreadStackSize());
    InstallAsTextFatalHandler();
    QApplication application(argc, argv);
    QDir::setCurrent(QCoreApplication::applicationDirPath());
    InstallFatalErrorPresenter();
    (void)InstallQtTranslations();  // without them Qt's texts stay English
    InitGlobals();
    // ExitCleanup is registered to run at the end, however StartUp is left, and before the
    // application object goes, since the port it frees is one of its objects.
    struct CleanupAtEnd {
        ~CleanupAtEnd() { ExitCleanup(); }
    } cleanupAtEnd;

    std::unique_ptr<MainWindow> window;
    try {
        window = std::make_unique<MainWindow>(GlobalPort(), GlobalSession(), GlobalSkinEngine());
    } catch (const std::exception&) {
        ReportFatalError(Utf8ToSystem("载入启动窗口失败"));
    }
    window->show();
    int exitCode = QApplication::exec();
    window.reset();
    return exitCode;
}

}  // namespace velmora
