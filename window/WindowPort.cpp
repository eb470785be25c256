#include "window/WindowPort.h"

#include <type_traits>
#include <utility>

#include "text/CodePage.h"
#include "window/MainWindowBehaviour.h"

namespace velmora {

WindowPort::WindowPort() : windowThread_(std::this_thread::get_id()) {}

void WindowPort::AttachWindow(PortWindow* window, std::function<void()> wake) {
    std::lock_guard lock(mutex_);
    window_ = window;
    wake_ = std::move(wake);
    if (wake_ && !posted_.empty()) wake_();
}

void WindowPort::DrainPosted() {
    std::deque<PortPost> posted;
    {
        std::lock_guard lock(mutex_);
        posted.swap(posted_);
    }
    // A handler may run a modal loop that drains again; what is taken here stays in order.
    for (PortPost& post : posted) {
        if (window_ == nullptr) return;
        std::visit(
            [this](auto& written) {
                using Written = std::decay_t<decltype(written)>;
                if constexpr (std::is_same_v<Written, PostedStatus>) {
                    window_->Behaviour().OnStatusTextPosted(written.field,
                                                            SystemToUtf8(written.text));
                } else if constexpr (std::is_same_v<Written, PostedTimer>) {
                    window_->Behaviour().OnTimerPeriodPosted(written.milliseconds);
                } else if constexpr (std::is_same_v<Written, PostedMessage>) {
                    window_->ShowMessageBox(written.text, written.caption, written.flags);
                } else {
                    window_->PutOnClipboard(written.text);
                }
            },
            post);
    }
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
    return std::this_thread::get_id() == windowThread_;
}

void WindowPort::Post(PortPost post) {
    std::lock_guard lock(mutex_);
    // One wake per batch: the window takes everything queued when it drains.
    const bool first = posted_.empty();
    posted_.push_back(std::move(post));
    if (first && wake_) wake_();
}

}  // namespace velmora
