#include "Dialogs.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QRegularExpression>
#include <QStringList>

namespace {

struct FileType {
    QString qtFilter; // "Excel (*.csv)"
    QString suffix;   // "csv", or empty when the type has no single plain extension
};

// "Excel (*.csv)|*.csv|Text (*.txt)|*.txt" lists description and pattern pairs; Qt takes the
// patterns from the parentheses of "Excel (*.csv)", space-separated.
QList<FileType> ParseFilter(const QString& filter) {
    QList<FileType> types;
    const QStringList parts = filter.split(u'|');
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString description = parts[i].trimmed();
        description.remove(QRegularExpression(QStringLiteral("\\s*\\([^()]*\\)\\s*$")));
        QStringList patterns = parts[i + 1].split(u';', Qt::SkipEmptyParts);
        for (QString& pattern : patterns) {
            pattern = pattern.trimmed();
        }
        FileType type;
        type.qtFilter = QStringLiteral("%1 (%2)").arg(description, patterns.join(u' '));
        static const QRegularExpression plainSuffix(QStringLiteral("^\\*\\.([A-Za-z0-9_]+)$"));
        if (patterns.size() == 1) {
            const auto match = plainSuffix.match(patterns.first());
            if (match.hasMatch()) {
                type.suffix = match.captured(1);
            }
        }
        types.append(type);
    }
    return types;
}

} // namespace

void QtDialogs::Message(QWidget* parent, const QString& text, Icon icon) {
    QMessageBox box(icon == Icon::Critical ? QMessageBox::Critical : QMessageBox::Information,
                    QString::fromLatin1(MessageTitle), text, QMessageBox::Ok, parent);
    box.exec();
}

Dialogs::Answer QtDialogs::SaveOrDiscard(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Question, QString::fromLatin1(MessageTitle), text,
                    QMessageBox::Save | QMessageBox::Discard, parent);
    box.setDefaultButton(QMessageBox::Save);
    box.exec();
    // Closed without a click only when the program is ending (its event loops are left).
    return box.clickedButton() == box.button(QMessageBox::Save) ? Answer::Save : Answer::Discard;
}

QString QtDialogs::SaveFileName(QWidget* parent, const SaveRequest& request) {
    QFileDialog dialog(parent, request.title, request.initialFolder);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.confirmOverwrite);

    const QList<FileType> types = ParseFilter(request.filter);
    QStringList filters;
    for (const FileType& type : types) {
        filters.append(type.qtFilter);
    }
    if (!filters.isEmpty()) {
        dialog.setNameFilters(filters);
    }
    dialog.setDefaultSuffix(request.defaultSuffix);
    const qsizetype selected = request.filterIndex - 1;
    if (selected >= 0 && selected < types.size()) {
        dialog.selectNameFilter(filters[selected]);
        if (!types[selected].suffix.isEmpty()) {
            dialog.setDefaultSuffix(types[selected].suffix);
        }
    }
    // A name typed without an extension gets the one of the chosen file type, as the Windows
    // save dialog does; the default suffix covers types without a single plain extension.
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                     [&dialog, &types, &request](const QString& chosen) {
                         for (const FileType& type : types) {
                             if (type.qtFilter == chosen) {
                                 dialog.setDefaultSuffix(
                                     type.suffix.isEmpty() ? request.defaultSuffix : type.suffix);
                                 return;
                             }
                         }
                     });

    if (dialog.exec() != QDialog::Accepted) {
        return QString();
    }
    const QStringList files = dialog.selectedFiles();
    return files.isEmpty() ? QString() : files.first();
}
