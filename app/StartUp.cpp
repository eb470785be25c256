#include "app/StartUp.h"

#include <QApplication>
#include <QDir>
#include <QThread>
#include <cstdio>
#include <memory>
#include <stdexcept>

#include "app/MainWindow.h"
#include "app/MainWindowPort.h"
#include "app/MessageBox.h"
#include "app/SkinEngine.h"
#include "http/HttpClient.h"
#include "platform/FatalError.h"
#include "search/DirectorySite.h"
#include "search/SearchSession.h"
#include "text/CodePage.h"

namespace velmora {

// Members are freed in reverse order: the session (joining its threads) before the client and
// the port that the threads use.
struct AppGlobals {
    MainWindowPort port;
    HttpClient httpClient;
    DirectorySite site = FindDirectorySite();
    std::unique_ptr<SearchSession> session;
    SkinEngine skinEngine;

    explicit AppGlobals(const QString& runDirectory)
        : skinEngine(runDirectory + QLatin1Char('/') + QLatin1String(kSkinEngineFileName)) {
        httpClient.Open(Text(kDefaultUserAgent));
        session = std::make_unique<SearchSession>(port, httpClient, site.baseUrl);
    }
};

namespace {

std::unique_ptr<AppGlobals>& Globals() {
    static std::unique_ptr<AppGlobals> globals;
    return globals;
}

}  // namespace

MainWindowPort& GlobalPort() {
    return Globals()->port;
}
SearchSession& GlobalSession() {
    return *Globals()->session;
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
    EndSearchThreads(*globals->session);
    globals.reset();
}

void InstallFatalErrorPresenter() {
    SetFatalErrorPresenter([](const Text& report) {
        std::string utf8 = SystemToUtf8(report);
        // A box needs the window's thread; another thread must not wait for it, so it writes.
        if (qApp != nullptr && QThread::currentThread() == qApp->thread()) {
            MessageBox::Show(QString::fromStdString(utf8), {},
                             MessageBoxFlag::kOk | MessageBoxFlag::kIconError);
        } else {
            std::fputs(utf8.c_str(), stderr);
        }
    });
}

int StartUp(int& argc, char** argv) {
    InstallAsTextFatalHandler();
    QApplication application(argc, argv);
    QDir::setCurrent(QCoreApplication::applicationDirPath());
    InstallFatalErrorPresenter();
    InitGlobals();
    // ExitCleanup is registered to run at the end, however StartUp is left, and before the
    // application object goes, since the port it frees is one of its objects.
    struct CleanupAtEnd {
        ~CleanupAtEnd() { ExitCleanup(); }
    } cleanupAtEnd;
    InstallSkinEngine(QCoreApplication::applicationDirPath());

    std::unique_ptr<MainWindow> window;
    try {
        window = std::make_unique<MainWindow>(GlobalPort(), GlobalSession(), GlobalSkinEngine());
    } catch (const std::exception&) {
        ReportFatalError(Utf8ToSystem("载入启动窗口失败"));
    }
    window->show();
    // Once the window listens: a settings file whose site is not used is told in the notice
    // field, which the first result page then takes over.
    const Text& settingsProblem = Globals()->site.settingsProblem;
    if (!settingsProblem.empty()) GlobalPort().SetStatusText(kNoticeStatusField, settingsProblem);
    int exitCode = QApplication::exec();
    window.reset();
    return exitCode;
}

}  // namespace velmora
