#pragma once
// Message boxes as the system shows them: no owner, modal for the whole application, the
// platform's flag values, the default caption when none is given. Tests install an answerer
// that sees every request and answers it without showing anything.

#include <QString>
#include <functional>

namespace velmora {

struct MessageRequest {
    QString text;
    QString caption;  // already defaulted
    unsigned flags = 0;
};

class MessageBox {
public:
    using Answerer = std::function<int(const MessageRequest&)>;

    // Window's thread only. Returns kAnswerOk, kAnswerYes, kAnswerNo, ...
    static int Show(const QString& text, const QString& caption, unsigned flags);
    // An empty answerer shows real boxes again.
    static void SetAnswerer(Answerer answerer);
};

}  // namespace velmora
