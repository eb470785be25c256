#include "app/FileDialog.h"

#include <QFileDialog>
#include <QStringList>
#include <algorithm>
#include <utility>

#include "export/Export.h"
#include "text/CodePage.h"

namespace velmora {
namespace {

FileDialog::Answerer& CurrentAnswerer() {
    static FileDialog::Answerer answerer;
    return answerer;
}

QString FromSystem(const Text& text) {
    return QString::fromStdString(SystemToUtf8(text));
}

// "description|pattern|..." pairs become Qt's "description (pattern);;..." unless the
// description already ends with its pattern in brackets.
QString QtFilter(const Text& filter) {
    QStringList parts = FromSystem(filter).split(QLatin1Char('|'));
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString& description = parts[i];
        const QString pattern = parts[i + 1];
        bool named = description.endsWith(QLatin1Char('(') + pattern + QLatin1Char(')'));
        entries << (named ? description
                          : description + QStringLiteral(" (") + pattern + QLatin1Char(')'));
    }
    return entries.join(QStringLiteral(";;"));
}

}  // namespace

Text FileDialog::AskSaveFileName(const SaveDialogRequest& request) {
    if (CurrentAnswerer()) return CurrentAnswerer()(request);
    QString start = FromSystem(request.initialFolder) + FromSystem(request.defaultName);
    // Choosing an existing file replaces it without a question.
    const QString filter = QtFilter(request.filter);
    QString chosenFilter;
    QString chosen = QFileDialog::getSaveFileName(nullptr, QString(), start, filter, &chosenFilter,
                                                  QFileDialog::DontConfirmOverwrite);
    const qsizetype entry = filter.split(QStringLiteral(";;")).indexOf(chosenFilter);
    return NameWithChosenExtension(Utf8ToSystem(chosen.toStdString()), request.filter,
                                   static_cast<std::size_t>(std::max<qsizetype>(entry, 0)));
}

void FileDialog::SetAnswerer(Answerer answerer) {
    CurrentAnswerer() = std::move(answerer);
}

}  // namespace velmora
