#pragma once
// The engine's way to the main window, whatever toolkit draws it. No search thread ever waits
// for the window's thread: rows go into a thread-safe table that the list shows in batches, and
// status, timer, message and clipboard writes go into one queue in the order they are made, even
// from the window's own thread, so that a later write can never overtake an earlier one. The
// toolkit gives the port one hook, `wake`, which has the window's thread call DrainPosted soon.
// Message boxes, the clipboard and the save dialog asked for on the window's thread run at once.
// The port lives from start-up to the end, longer than the window and every search thread.

#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <variant>

#include "results/TableFrontend.h"

namespace velmora {

class MainWindowBehaviour;

struct PostedStatus {
    int field;
    Text text;
};
struct PostedTimer {
    int milliseconds;
};
struct PostedMessage {
    Text text;
    Text caption;
    unsigned flags;
};
struct PostedClipboard {
    Text text;
};
using PortPost = std::variant<PostedStatus, PostedTimer, PostedMessage, PostedClipboard>;

// What a toolkit's window does for the port; window's thread only.
class PortWindow {
public:
    virtual ~PortWindow() = default;
    // Takes the posted status texts and timer periods.
    virtual MainWindowBehaviour& Behaviour() = 0;
    virtual int ShowMessageBox(const Text& text, const Text& caption, unsigned flags) = 0;
    virtual bool PutOnClipboard(const Text& text) = 0;
    virtual Text AskSaveFileName(const SaveDialogRequest& request) = 0;
    virtual void ProcessPendingEvents() = 0;
};

class WindowPort final : public TableFrontend {
public:
    // Made on the window's thread.
    WindowPort();

    // Window's thread only: the window attaches itself and its wake hook (callable from any
    // thread) once it can take posts, and detaches (nullptr) before it goes. Writes posted
    // while no window is attached wait for the next one.
    void AttachWindow(PortWindow* window, std::function<void()> wake);
    // Hands every queued write to the window, in order. Window's thread only.
    void DrainPosted();

    void SetStatusText(int field, const Text& text) override;
    void SetTimerPeriod(int milliseconds) override;
    // On the window's thread the box is shown and its answer returned. From any other thread it
    // is posted and kAnswerOk returned at once: no search thread waits for the user.
    int ShowMessage(const Text& text, const Text& caption, unsigned flags) override;
    // Off the window's thread the write is posted and reported as done.
    bool SetClipboardText(const Text& text) override;
    // Window's thread only; the empty text elsewhere or without a window.
    Text AskSaveFileName(const SaveDialogRequest& request) override;
    void ProcessPendingEvents() override;

private:
    bool OnWindowThread() const;
    void Post(PortPost post);

    const std::thread::id windowThread_;
    std::mutex mutex_;  // guards posted_ and wake_
    std::deque<PortPost> posted_;
    std::function<void()> wake_;
    PortWindow* window_ = nullptr;  // window's thread only
};

}  // namespace velmora
