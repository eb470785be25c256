#pragma once
// The common file dialog (通用对话框1) in save mode. Tests install an answerer that sees the
// request and picks the name (or cancels with an empty one) without showing anything.

#include <functional>

#include "results/Frontend.h"

namespace velmora {

class FileDialog {
public:
    using Answerer = std::function<Text(const SaveDialogRequest&)>;

    // Window's thread only. The chosen path in the system code page, or empty on cancel.
    Text AskSaveFileName(const SaveDialogRequest& request);
    // An empty answerer shows the real dialog again.
    static void SetAnswerer(Answerer answerer);
};

}  // namespace velmora
