#include "app/Prompts.h"

#include <QFileDialog>
#include <QMessageBox>

namespace tonemirror::app {

namespace {

// A long list is cut in the text and shown whole under "Show Details...".
constexpr int kFilesInText = 10;

} // namespace

bool Prompts::confirmFiles(QWidget* parent, const QString& caption, const QString& text,
                           const QStringList& files) {
    return question(parent, caption, text + QStringLiteral("\n\n") + files.join(QLatin1Char('\n')));
}

QString Prompts::saveFileName(QWidget*, const QString&, const QString&, const QStringList&, const QString&,
                              QString*) {
    return {};
}

void MessageBoxPrompts::warning(QWidget* parent, const QString& caption, const QString& text) {
    QMessageBox::warning(parent, caption, text);
}

void MessageBoxPrompts::error(QWidget* parent, const QString& caption, const QString& text) {
    QMessageBox::critical(parent, caption, text);
}

void MessageBoxPrompts::information(QWidget* parent, const QString& caption, const QString& text) {
    QMessageBox::information(parent, caption, text);
}

bool MessageBoxPrompts::question(QWidget* parent, const QString& caption, const QString& text) {
    // Every question asks before something is undone or moved away: Enter alone answers No.
    return QMessageBox::question(parent, caption, text, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

bool MessageBoxPrompts::confirmFiles(QWidget* parent, const QString& caption, const QString& text,
                                     const QStringList& files) {
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No, parent);
    QStringList shown = files.mid(0, kFilesInText);
    if (files.size() > kFilesInText) {
        shown << QStringLiteral("... (%1 more)").arg(files.size() - kFilesInText);
        box.setDetailedText(files.join(QLatin1Char('\n')));
    }
    box.setInformativeText(shown.join(QLatin1Char('\n')));
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::No); // nothing is trashed by an absent-minded Enter
    return box.exec() == QMessageBox::Yes;
}

QString MessageBoxPrompts::saveFileName(QWidget* parent, const QString& caption, const QString& initialName,
                                        const QStringList& nameFilters, const QString& defaultSuffix,
                                        QString* selectedFilter) {
    QFileDialog dialog(parent, caption);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters(nameFilters);
    dialog.setDefaultSuffix(defaultSuffix);
    // A name typed without an extension gets the one of the chosen filter ("CSV (*.csv)").
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& filter) {
        const qsizetype dot = filter.lastIndexOf(QStringLiteral("*."));
        if (dot >= 0) {
            dialog.setDefaultSuffix(filter.mid(dot + 2).section(QLatin1Char(')'), 0, 0).trimmed());
        }
    });
    dialog.selectFile(initialName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    if (selectedFilter != nullptr) {
        *selectedFilter = dialog.selectedNameFilter();
    }
    return dialog.selectedFiles().constFirst();
}

} // namespace tonemirror::app
