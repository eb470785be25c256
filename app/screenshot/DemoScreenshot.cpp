// velmora-demo-screenshot KEYWORD FILE.png: starts the program's window as start-up does, runs
// one search for KEYWORD (UTF-8) against the site named by VELMORA_SITE, and when the search
// has finished saves a picture of the window. The search's closing message is answered
// unseen so that the picture shows the window alone. Exit code 0 when the picture was saved.

#include <QApplication>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <cstdio>
#include <memory>

#include "app/MainWindow.h"
#include "app/MessageBox.h"
#include "app/SkinEngine.h"
#include "app/StartUp.h"
#include "platform/FatalError.h"

namespace {

// A demo search on loopback takes seconds; past this something is wrong.
constexpr int kSearchTimeLimitMs = 120'000;

}  // namespace

int main(int argc, char** argv) {
    velmora::InstallAsTextFatalHandler();
    QApplication application(argc, argv);
    if (argc != 3 || qEnvironmentVariableIsEmpty("VELMORA_SITE")) {
        std::fputs("usage: VELMORA_SITE=URL velmora-demo-screenshot KEYWORD FILE.png\n", stderr);
        return 1;
    }
    const QString keyword = QString::fromUtf8(argv[1]);
    const QString pictureFile = QString::fromLocal8Bit(argv[2]);

    (void)velmora::InstallQtTranslations();
    velmora::InitGlobals();
    velmora::InstallSkinEngine(QCoreApplication::applicationDirPath());
    auto window = std::make_unique<velmora::MainWindow>(
        velmora::GlobalPort(), velmora::GlobalSession(), velmora::GlobalSkinEngine());
    window->show();

    int exitCode = 2;
    velmora::MessageBox::SetAnswerer([&](const velmora::MessageRequest& request) {
        if (request.text != QString::fromUtf8("搜索完毕！")) return velmora::kAnswerOk;
        // Every row and status text was posted before this message, so all are shown by now;
        // the picture waits only for the box's caller to return.
        QTimer::singleShot(0, window.get(), [&] {
            exitCode = window->grab().save(pictureFile, "PNG") ? 0 : 3;
            QApplication::quit();
        });
        return velmora::kAnswerOk;
    });
    QTimer::singleShot(kSearchTimeLimitMs, &application, [] {
        std::fputs("velmora-demo-screenshot: the search did not finish in time\n", stderr);
        QApplication::exit(4);
    });
    window->编辑框_搜索内容->setText(keyword);
    window->按钮_开始->click();
    int loopCode = QApplication::exec();
    window.reset();
    velmora::ExitCleanup();
    return loopCode != 0 ? loopCode : exitCode;
}
