#include "win/WindowPort.h"

#include <utility>

namespace velmora {

WindowPort::WindowPort() : windowThread_(GetCurrentThreadId()) {}

void WindowPort::SetKeywordCopy(Text keyword) {
    std::lock_guard lock(mutex_);
    keyword_ = std::move(keyword);
}

void WindowPort::AttachWindow(PortWindow* window, HWND handle) {
    std::lock_guard lock(mutex_);
    window_ = window;
    handle_ = handle;
    if (handle_ != nullptr && !posted_.empty()) PostMessageW(handle_, kPortPostedMessage, 0, 0);
}

void WindowPort::DrainPosted() {
    std::deque<PortPost> posted;
    {
        std::lock_guard lock(mutex_);
        posted.swap(posted_);
    }
    // A handler may run a modal loop that drains again; what is taken here stays in order.
    for (PortPost& post : posted) {
        if (window_ != nullptr) window_->OnPosted(std::move(post));
    }
}

Text WindowPort::ReadKeyword() {
    std::lock_guard lock(mutex_);
    return keyword_;
}

void WindowPort::SetStatusText(int field, const Text& text) {
    Post(PostedStatus{field, text});
}

void WindowPort::SetTimerPeriod(int milliseconds) {
    Post(PostedTimer{milliseconds});
}

int WindowPort::ShowMessage(const Text& text, const Text& caption, unsigned flags) {
    if (OnWindowThread() && window_ != nullptr)
        return window_->ShowMessageBox(text, caption, flags);
    Post(PostedMessage{text, caption, flags});
    return kAnswerOk;
}

bool WindowPort::SetClipboardText(const Text& text) {
    if (OnWindowThread() && window_ != nullptr) return window_->PutOnClipboard(text);
    Post(PostedClipboard{text});
    return true;
}

Text WindowPort::AskSaveFileName(const SaveDialogRequest& request) {
    if (!OnWindowThread() || window_ == nullptr) return {};
    return window_->AskSaveFileName(request);
}

void WindowPort::ProcessPendingEvents() {
    if (OnWindowThread() && window_ != nullptr) window_->ProcessPendingEvents();
}

bool WindowPort::OnWindowThread() const {
    return GetCurrentThreadId() == windowThread_;
}

void WindowPort::Post(PortPost post) {
    std::lock_guard lock(mutex_);
    // One message per batch: the window takes everything queued when it drains.
    const bool first = posted_.empty();
    posted_.push_back(std::move(post));
    if (first && handle_ != nullptr) PostMessageW(handle_, kPortPostedMessage, 0, 0);
}

}  // namespace velmora
