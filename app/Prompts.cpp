#include "app/Prompts.h"

#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>

namespace tonemirror::app {

namespace {

// A long list is cut in the text and shown whole under "Show Details...".
constexpr int kFilesInText = 10;

// Texts here carry file names, which may look like markup ("<b>.mp3"): every label shows its text
// as it is.
int showPlain(QMessageBox& box) {
    box.setTextFormat(Qt::PlainText);
    for (QLabel* label : box.findChildren<QLabel*>()) {
        label->setTextFormat(Qt::PlainText);
    }
    return box.exec();
}

int showPlain(QMessageBox::Icon icon, QWidget* parent, const QString& caption, const QString& text,
              QMessageBox::StandardButtons buttons = QMessageBox::Ok) {
    QMessageBox box(icon, caption, text, buttons, parent);
    return showPlain(box);
}

} // namespace

bool Prompts::confirmFiles(QWidget* parent, const QString& caption, const QString& text,
                           const QStringList& files) {
    return question(parent, caption, text + QStringLiteral("\n\n") + files.join(QLatin1Char('\n')));
}

QString Prompts::saveFileName(QWidget*, const QString&, const QString&, const QStringList&, const QString&,
                              QString*) {
    return {};
}

QString Prompts::existingFolder(QWidget*, const QString&) {
    return {};
}

void MessageBoxPrompts::warning(QWidget* parent, const QString& caption, const QString& text) {
    showPlain(QMessageBox::Warning, parent, caption, text);
}

void MessageBoxPrompts::error(QWidget* parent, const QString& caption, const QString& text) {
    showPlain(QMessageBox::Critical, parent, caption, text);
}

void MessageBoxPrompts::information(QWidget* parent, const QString& caption, const QString& text) {
    showPlain(QMessageBox::Information, parent, caption, text);
}

bool MessageBoxPrompts::question(QWidget* parent, const QString& caption, const QString& text) {
    // Every question asks before something is undone or moved away: Enter alone answers No.
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::No);
    return showPlain(box) == QMessageBox::Yes;
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
    box.setDefaultButton(QMessageBox::No); // nothing is trashed by an absent-minded Enter
    return showPlain(box) == QMessageBox::Yes;
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

QString MessageBoxPrompts::existingFolder(QWidget* parent, const QString& caption) {
    return QFileDialog::getExistingDirectory(parent, caption);
}

} // namespace tonemirror::app
