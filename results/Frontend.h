#pragma once
// Frontend: the result sink of a window that the export also asks the user through: its save
// dialog, and its pending events while a long export runs.

#include "results/ResultSink.h"

namespace velmora {

// The save dialog's settings (通用对话框1 in save mode).
struct SaveDialogRequest {
    Text filter;  // "description|pattern" pairs
    Text defaultName;
    Text initialFolder;  // ends with a path separator
};

class Frontend : public ResultSink {
public:
    // Window's thread only. Returns the chosen file name, or the empty text on cancel.
    virtual Text AskSaveFileName(const SaveDialogRequest& request) = 0;
    // Window's thread only: lets the window handle what is pending (long loops call it).
    virtual void ProcessPendingEvents() {}
};

}  // namespace velmora
