#include "TestWindow.h"

#include <QTemporaryDir>

#include "app/ShellOpen.h"
#include "journal/JournalFiles.h"

namespace velmora::test {

DialogRecorder::DialogRecorder() {
    MessageBox::SetAnswerer([this](const MessageRequest& request) {
        messages.push_back(request);
        return answer;
    });
    FileDialog::SetAnswerer([this](const SaveDialogRequest& request) {
        saveRequests.push_back(request);
        return saveAs;
    });
    SetShellOpener([this](const QUrl& link, const NothingOpensIt& whenNothingOpensIt) {
        openedLinks.push_back(link);
        if (!linksOpen && whenNothingOpensIt) whenNothingOpensIt();
    });
}

DialogRecorder::~DialogRecorder() {
    MessageBox::SetAnswerer({});
    FileDialog::SetAnswerer({});
    SetShellOpener({});
}

QString UsePrivateTemporaryDirectory() {
    static QTemporaryDir directory;
    qputenv("TMPDIR", QFile::encodeName(directory.path()));
    qputenv(kJournalVariable, QFile::encodeName(directory.filePath(QStringLiteral("j.sqlite3"))));
    return directory.path();
}

TestWindow::TestWindow(const Text& siteBaseUrl, JournalSettings journal)
    : session(port, client, siteBaseUrl, std::move(journal)) {
    client.Open(Text(kDefaultUserAgent));
    window = std::make_unique<MainWindow>(port, session, skin);
}

TestWindow::~TestWindow() {
    window->close();
    EndSearchThreads(session);
}

}  // namespace velmora::test
