// Child program that ends in the fatal report, shown as the program shows it: "attach LIBRARY"
// or "detach LIBRARY" calls that skin function of the library at the given path; "thread"
// reports a fatal error on a thread of its own while the window's loop runs. Every message box
// it would show is written to standard output instead: its caption, its flags, "window thread"
// when shown on the window's thread, each on a line, then its text. Exits 0 only when the call
// returned.

#include <QApplication>
#include <QThread>
#include <cstdio>
#include <string_view>
#include <thread>

#include "app/MessageBox.h"
#include "app/SkinEngine.h"
#include "app/StartUp.h"
#include "platform/FatalError.h"
#include "results/Frontend.h"
#include "text/CodePage.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc < 2) return 2;
    velmora::InstallFatalErrorPresenter();
    velmora::MessageBox::SetAnswerer([](const velmora::MessageRequest& request) {
        bool onWindowThread = QThread::currentThread() == qApp->thread();
        std::printf("%s\n0x%x\n%s\n%s", request.caption.toUtf8().constData(), request.flags,
                    onWindowThread ? "window thread" : "other thread",
                    request.text.toUtf8().constData());
        std::fflush(stdout);
        return velmora::kAnswerOk;
    });
    const std::string_view mode = argv[1];
    if (mode == "thread") {
        std::thread([] {
            velmora::ReportFatalError(velmora::Utf8ToSystem("不能求余数于零"));
        }).detach();
        return QApplication::exec();
    }
    if (argc != 3) return 2;
    velmora::SkinEngine engine(QString::fromLocal8Bit(argv[2]));
    if (mode == "detach") {
        engine.Detach();
    } else {
        engine.AttachEx(QStringLiteral("/nonexistent/1.she"));
    }
    return 0;
}
