// Child program: calls one skin function ("attach" or "detach") of the library at the given
// path, with the program's fatal report installed. Every message box it would show is written
// to standard output instead (caption, line feed, text). Exits 0 only when the call returned.

#include <QApplication>
#include <cstdio>
#include <cstring>

#include "app/MessageBox.h"
#include "app/SkinEngine.h"
#include "app/StartUp.h"
#include "results/Frontend.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc != 3) return 2;
    velmora::InstallFatalErrorPresenter();
    velmora::MessageBox::SetAnswerer([](const velmora::MessageRequest& request) {
        std::printf("%s\n%s", request.caption.toUtf8().constData(),
                    request.text.toUtf8().constData());
        std::fflush(stdout);
        return velmora::kAnswerOk;
    });
    velmora::SkinEngine engine(QString::fromLocal8Bit(argv[1]));
    if (std::strcmp(argv[2], "detach") == 0) {
        engine.Detach();
    } else {
        engine.AttachEx(QStringLiteral("/nonexistent/1.she"));
    }
    return 0;
}
