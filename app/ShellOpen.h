#pragma once
// The shell's open verb: hands a link to the desktop's handler for its scheme. Tests install an
// opener that records the link instead.

#include <QUrl>
#include <functional>

namespace velmora {

// Runs on the window's thread, possibly after ShellOpen has returned.
using NothingOpensIt = std::function<void()>;
using ShellOpener = std::function<void(const QUrl& link, const NothingOpensIt& whenNothingOpensIt)>;

// Window's thread only. `whenNothingOpensIt` runs when no program on this desktop takes links of
// the link's scheme; without it that failure is not reported.
void ShellOpen(const QUrl& link, NothingOpensIt whenNothingOpensIt = {});
// An empty opener restores the desktop's.
void SetShellOpener(ShellOpener opener);

}  // namespace velmora
