#include "app/MessageBox.h"

#include <QLabel>
#include <QMessageBox>
#include <utility>

#include "results/Frontend.h"

namespace velmora {
namespace {

// Button sets and icons occupy these bits of the flags, as on the platform.
constexpr unsigned kButtonBits = 0xF;
constexpr unsigned kIconBits = 0xF0;
constexpr unsigned kOkCancel = 0x1;
constexpr unsigned kYesNoCancel = 0x3;
constexpr unsigned kRetryCancel = 0x5;

MessageBox::Answerer& CurrentAnswerer() {
    static MessageBox::Answerer answerer;
    return answerer;
}

QMessageBox::StandardButtons ButtonsFor(unsigned flags) {
    switch (flags & kButtonBits) {
        case kOkCancel:
            return QMessageBox::Ok | QMessageBox::Cancel;
        case MessageBoxFlag::kYesNo:
            return QMessageBox::Yes | QMessageBox::No;
        case kYesNoCancel:
            return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
        case kRetryCancel:
            return QMessageBox::Retry | QMessageBox::Cancel;
        default:
            return QMessageBox::Ok;
    }
}

QMessageBox::Icon IconFor(unsigned flags) {
    switch (flags & kIconBits) {
        case MessageBoxFlag::kIconError:
            return QMessageBox::Critical;
        case MessageBoxFlag::kIconQuestion:
            return QMessageBox::Question;
        case MessageBoxFlag::kIconWarning:
            return QMessageBox::Warning;
        case MessageBoxFlag::kIconInformation:
            return QMessageBox::Information;
        default:
            return QMessageBox::NoIcon;
    }
}

int AnswerFor(int button) {
    constexpr int kAnswerCancel = 2;
    constexpr int kAnswerRetry = 4;
    switch (button) {
        case QMessageBox::Yes:
            return kAnswerYes;
        case QMessageBox::No:
            return kAnswerNo;
        case QMessageBox::Cancel:
            return kAnswerCancel;
        case QMessageBox::Retry:
            return kAnswerRetry;
        default:
            return kAnswerOk;
    }
}

}  // namespace

int MessageBox::Show(const QString& text, const QString& caption, unsigned flags) {
    MessageRequest request{
        text, caption.isEmpty() ? QString::fromUtf8(kDefaultMessageCaption) : caption, flags};
    if (CurrentAnswerer()) return CurrentAnswerer()(request);

    QMessageBox box(IconFor(flags), request.caption, request.text, ButtonsFor(flags));
    box.setWindowModality(Qt::ApplicationModal);
    // Texts may come from the site: never markup. They can be selected and copied.
    box.setTextFormat(Qt::PlainText);
    box.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    if (flags & MessageBoxFlag::kRightAligned) {
        if (auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label")))
            label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }
    return AnswerFor(box.exec());
}

void MessageBox::SetAnswerer(Answerer answerer) {
    CurrentAnswerer() = std::move(answerer);
}

}  // namespace velmora
