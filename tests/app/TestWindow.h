#pragma once
// A main window with everything it needs, for tests: the port, a client, a session pointed at
// a given site, the skin engine built with the program, and recorders that answer every
// message box and shell open instead of showing anything.

#include <QString>
#include <QUrl>
#include <memory>
#include <vector>

#include "app/MainWindow.h"
#include "app/MessageBox.h"
#include "app/SkinEngine.h"
#include "http/HttpClient.h"
#include "search/SearchSession.h"
#include "window/WindowPort.h"

namespace velmora::test {

// Answers message boxes with `answer` and save dialogs with `saveAs`, and records them and every
// shell open (which finds a program for the link when `linksOpen`), while it exists.
class DialogRecorder {
public:
    DialogRecorder();
    ~DialogRecorder();
    DialogRecorder(const DialogRecorder&) = delete;
    DialogRecorder& operator=(const DialogRecorder&) = delete;

    int answer = kAnswerOk;
    Text saveAs;
    bool linksOpen = true;
    std::vector<MessageRequest> messages;
    std::vector<SaveDialogRequest> saveRequests;
    std::vector<QUrl> openedLinks;
};

// Points the temporary directory of this process, and its journal, at a fresh directory of its
// own.
QString UsePrivateTemporaryDirectory();

struct TestWindow {
    explicit TestWindow(const Text& siteBaseUrl = "http://127.0.0.1:9",
                        JournalSettings journal = {});
    ~TestWindow();

    WindowPort port;
    HttpClient client;
    SearchSession session;
    SkinEngine skin{QStringLiteral(VELMORA_SKIN_ENGINE_PATH)};
    std::unique_ptr<MainWindow> window;
};

}  // namespace velmora::test
