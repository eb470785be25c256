#include "app/MainWindowPort.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QThread>
#include <utility>

#include "app/MainWindow.h"
#include "app/MessageBox.h"
#include "text/CodePage.h"

namespace velmora {
namespace {

QString FromSystem(const Text& text) {
    return QString::fromStdString(SystemToUtf8(text));
}

}  // namespace

MainWindowPort::MainWindowPort(QObject* parent) : QObject(parent) {}

void MainWindowPort::SetKeywordCopy(Text keyword) {
    std::lock_guard lock(keywordMutex_);
    keyword_ = std::move(keyword);
}

void MainWindowPort::AttachWindow(MainWindow* window) {
    window_ = window;
}

Text MainWindowPort::ReadKeyword() {
    std::lock_guard lock(keywordMutex_);
    return keyword_;
}

void MainWindowPort::SetStatusText(int field, const Text& text) {
    emit StatusTextPosted(field, FromSystem(text));
}

void MainWindowPort::SetTimerPeriod(int milliseconds) {
    emit TimerPeriodPosted(milliseconds);
}

int MainWindowPort::ShowMessage(const Text& text, const Text& caption, unsigned flags) {
    if (OnWindowThread()) return MessageBox::Show(FromSystem(text), FromSystem(caption), flags);
    emit MessagePosted(FromSystem(text), FromSystem(caption), flags);
    return kAnswerOk;
}

bool MainWindowPort::SetClipboardText(const Text& text) {
    if (!OnWindowThread()) {
        emit ClipboardTextPosted(FromSystem(text));
        return true;
    }
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (clipboard == nullptr) return false;
    clipboard->setText(FromSystem(text));
    return true;
}

Text MainWindowPort::AskSaveFileName(const SaveDialogRequest& request) {
    if (!OnWindowThread() || window_.isNull()) return {};
    return window_->通用对话框1.AskSaveFileName(request);
}

void MainWindowPort::ProcessPendingEvents() {
    if (OnWindowThread()) QCoreApplication::processEvents();
}

bool MainWindowPort::OnWindowThread() const {
    return QThread::currentThread() == thread();
}

}  // namespace velmora
