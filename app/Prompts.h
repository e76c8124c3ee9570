#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace tonemirror::app {

// The modal message boxes of the program. Windows ask through this interface so that tests can
// answer without a person at the screen.
class Prompts {
public:
    virtual ~Prompts() = default;
    virtual void warning(QWidget* parent, const QString& caption, const QString& text) = 0;
    virtual void error(QWidget* parent, const QString& caption, const QString& text) = 0;
    virtual void information(QWidget* parent, const QString& caption, const QString& text) = 0;
    // true for Yes.
    virtual bool question(QWidget* parent, const QString& caption, const QString& text) = 0;
    // One question about a list of files (the files are shown below the text); true for Yes.
    // By default a question with the files appended to the text.
    virtual bool confirmFiles(QWidget* parent, const QString& caption, const QString& text,
                              const QStringList& files);
    // The file a save dialog chose, asking before an existing file is replaced; empty when
    // cancelled. `nameFilters` as "M3U Playlist (*.m3u)"; `selectedFilter` receives the chosen one.
    // By default nothing is chosen: only the real prompts show a dialog.
    virtual QString saveFileName(QWidget* parent, const QString& caption, const QString& initialName,
                                 const QStringList& nameFilters, const QString& defaultSuffix,
                                 QString* selectedFilter);
    // An existing folder chosen in a dialog; empty when cancelled. By default none is chosen.
    virtual QString existingFolder(QWidget* parent, const QString& caption);
};

// The real message boxes.
class MessageBoxPrompts : public Prompts {
public:
    void warning(QWidget* parent, const QString& caption, const QString& text) override;
    void error(QWidget* parent, const QString& caption, const QString& text) override;
    void information(QWidget* parent, const QString& caption, const QString& text) override;
    bool question(QWidget* parent, const QString& caption, const QString& text) override;
    bool confirmFiles(QWidget* parent, const QString& caption, const QString& text,
                      const QStringList& files) override;
    QString saveFileName(QWidget* parent, const QString& caption, const QString& initialName,
                         const QStringList& nameFilters, const QString& defaultSuffix,
                         QString* selectedFilter) override;
    QString existingFolder(QWidget* parent, const QString& caption) override;
};

} // namespace tonemirror::app
