#pragma once
// The shell's open verb: hands a link to the desktop's handler for its scheme. Tests install an
// opener that records the link instead.

#include <QUrl>
#include <functional>

namespace velmora {

using ShellOpener = std::function<void(const QUrl&)>;

// A failure of the desktop to open the link is not reported.
void ShellOpen(const QUrl& link);
// An empty opener restores the desktop's.
void SetShellOpener(ShellOpener opener);

}  // namespace velmora
