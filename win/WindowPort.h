#pragma once
// The engine's way to the Win32 window. No search thread waits for the window's thread: rows go
// into a thread-safe table that the list view shows in batches, the keyword is a copy the window
// keeps current, and status, timer, message and clipboard writes go into one queue in the order
// they are made; a private message tells the window to drain it. The port lives from start-up
// to the end, longer than the window and every search thread.

#include <windows.h>

#include <deque>
#include <mutex>
#include <variant>

#include "results/TableFrontend.h"

namespace velmora {

// The window drains the port's queue when it receives this message.
inline constexpr UINT kPortPostedMessage = WM_APP + 1;

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

// What the window does with the engine's writes and the dialogs; window's thread only.
class PortWindow {
public:
    virtual ~PortWindow() = default;
    virtual void OnPosted(PortPost post) = 0;
    virtual int ShowMessageBox(const Text& text, const Text& caption, unsigned flags) = 0;
    virtual bool PutOnClipboard(const Text& text) = 0;
    virtual Text AskSaveFileName(const SaveDialogRequest& request) = 0;
    virtual void ProcessPendingEvents() = 0;
};

class WindowPort final : public TableFrontend {
public:
    // Made on the window's thread.
    WindowPort();

    void SetKeywordCopy(Text keyword);
    // Window's thread only; the window attaches itself once its handle exists and detaches
    // before it goes. Writes posted before the window attached wait for it.
    void AttachWindow(PortWindow* window, HWND handle);
    // Hands every queued write to the window, in order. Window's thread only.
    void DrainPosted();

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

private:
    bool OnWindowThread() const;
    void Post(PortPost post);

    const DWORD windowThread_;
    std::mutex mutex_;  // guards everything below
    Text keyword_;
    std::deque<PortPost> posted_;
    HWND handle_ = nullptr;
    PortWindow* window_ = nullptr;  // window's thread only
};

}  // namespace velmora
