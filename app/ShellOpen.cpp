#include "app/ShellOpen.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QProcess>
#include <QStandardPaths>
#include <utility>

namespace velmora {
namespace {

ShellOpener& CurrentOpener() {
    static ShellOpener opener;
    return opener;
}

void OpenOnDesktop(const QUrl& link, const NothingOpensIt& whenNothingOpensIt) {
    if (!QDesktopServices::openUrl(link) && whenNothingOpensIt) whenNothingOpensIt();
}

}  // namespace

void ShellOpen(const QUrl& link, NothingOpensIt whenNothingOpensIt) {
    if (CurrentOpener()) {
        CurrentOpener()(link, whenNothingOpensIt);
        return;
    }
    // The desktop hands every link to its opener program, which succeeds in starting whether or
    // not anything takes the link's scheme; so the scheme's handler is looked up first, without
    // waiting for the answer here.
    const QString query = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
    if (!whenNothingOpensIt || query.isEmpty()) {
        OpenOnDesktop(link, whenNothingOpensIt);
        return;
    }
    auto* lookup = new QProcess(QCoreApplication::instance());
    QObject::connect(lookup, &QProcess::finished, lookup,
                     [lookup, link, whenNothingOpensIt](int exitCode, QProcess::ExitStatus status) {
                         bool handled = status == QProcess::NormalExit && exitCode == 0 &&
                                        !lookup->readAllStandardOutput().trimmed().isEmpty();
                         lookup->deleteLater();
                         if (handled) {
                             OpenOnDesktop(link, whenNothingOpensIt);
                         } else {
                             whenNothingOpensIt();
                         }
                     });
    QObject::connect(lookup, &QProcess::errorOccurred, lookup,
                     [lookup, link, whenNothingOpensIt](QProcess::ProcessError error) {
                         if (error != QProcess::FailedToStart) return;
                         lookup->deleteLater();
                         OpenOnDesktop(link, whenNothingOpensIt);
                     });
    lookup->start(query, {QStringLiteral("query"), QStringLiteral("default"),
                          QStringLiteral("x-scheme-handler/") + link.scheme()});
}

void SetShellOpener(ShellOpener opener) {
    CurrentOpener() = std::move(opener);
}

}  // namespace velmora
