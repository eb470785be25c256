#include "app/ShellOpen.h"

#include <QDesktopServices>
#include <utility>

namespace velmora {
namespace {

ShellOpener& CurrentOpener() {
    static ShellOpener opener;
    return opener;
}

}  // namespace

void ShellOpen(const QUrl& link) {
    if (CurrentOpener()) {
        CurrentOpener()(link);
        return;
    }
    QDesktopServices::openUrl(link);
}

void SetShellOpener(ShellOpener opener) {
    CurrentOpener() = std::move(opener);
}

}  // namespace velmora
