#pragma once
// The engine's way to MainWindow. No search thread ever waits for the window's thread: rows go
// into a thread-safe table that the list shows in batches, the keyword is read from a copy the
// window keeps current, and status, timer, message and clipboard writes are posted to the
// window's thread in the order they are made (all through one queue, even from the window's
// own thread, so a later write can never overtake an earlier one).
//
// The port lives from start-up to the end, longer than the window and every search thread.

#include <QObject>
#include <QPointer>
#include <QString>
#include <mutex>

#include "results/TableFrontend.h"

namespace velmora {

class MainWindow;

class MainWindowPort final : public QObject, public TableFrontend {
    Q_OBJECT
public:
    explicit MainWindowPort(QObject* parent = nullptr);

    void SetKeywordCopy(Text keyword);
    // Window's thread only; the window attaches itself on creation.
    void AttachWindow(MainWindow* window);

    Text ReadKeyword() override;
    void SetStatusText(int field, const Text& text) override;
    void SetTimerPeriod(int milliseconds) override;
    // On the window's thread the box is shown and its answer returned. From any other thread it
    // is posted and kAnswerOk returned at once: no search thread waits for the user.
    int ShowMessage(const Text& text, const Text& caption, unsigned flags) override;
    // Off the window's thread the write is posted and reported as done.
    bool SetClipboardText(const Text& text) override;
    Text AskSaveFileName(const SaveDialogRequest& request) override;
    void ProcessPendingEvents() override;

signals:
    void StatusTextPosted(int field, const QString& text);
    void TimerPeriodPosted(int milliseconds);
    void MessagePosted(const QString& text, const QString& caption, unsigned flags);
    void ClipboardTextPosted(const QString& text);

private:
    bool OnWindowThread() const;

    std::mutex keywordMutex_;
    Text keyword_;
    QPointer<MainWindow> window_;
};

}  // namespace velmora
