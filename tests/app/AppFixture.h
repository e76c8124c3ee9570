#pragma once

// The program-wide objects of the desktop program, made in a temporary folder for one test, and
// audio files made with the ffmpeg tool.

#include "app/AppContext.h"
#include "app/Prompts.h"
#include "app/frame/CMainFrame.h"
#include "app/frame/EngineBridge.h"
#include "audio/PluginList.h"
#include "engine/ScanEngine.h"
#include "engine/TrackStore.h"
#include "shell/CTranslator.h"
#include "shell/SettingsStore.h"

#include <QByteArray>
#include <QMap>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

namespace tonemirror::testing {

// Answers every message box at once and remembers what it was asked.
class RecordingPrompts : public app::Prompts {
public:
    void warning(QWidget*, const QString& caption, const QString& text) override;
    void error(QWidget*, const QString& caption, const QString& text) override;
    void information(QWidget*, const QString& caption, const QString& text) override;
    bool question(QWidget*, const QString& caption, const QString& text) override;
    bool confirmFiles(QWidget*, const QString& caption, const QString& text,
                      const QStringList& files) override;
    QString saveFileName(QWidget*, const QString& caption, const QString& initialName,
                         const QStringList& nameFilters, const QString& defaultSuffix,
                         QString* selectedFilter) override;
    QString existingFolder(QWidget*, const QString& caption) override;

    QStringList shown; // "caption|text"
    bool answer = true;
    QList<QStringList> confirmedFiles; // the files of each confirmFiles, in order
    // What the next save dialogs answer (empty: cancelled) and what they were asked.
    QString saveAs;
    QString saveFilter;
    QStringList saveRequests;   // "caption|initial name|filter;filter|suffix"
    QString folder;             // what the next folder dialogs answer (empty: cancelled)
    QStringList folderRequests; // their captions
};

struct FixtureOptions {
    QString folder; // where settings, cache and ignore list live; a new temporary one if empty
    bool programFolderStorage = false;       // cache in <folder>/program with <folder>/user as fallback
    QMap<QString, QByteArray> languageFiles; // written to <folder>/Locale before the translator loads
};

class AppFixture {
public:
    explicit AppFixture(FixtureOptions options = {});
    ~AppFixture();

    QString path(const QString& name) const;
    // Ends the workers and closes the cache file; only path() and settings() remain usable.
    void shutDown();
    QString settingsFile() const { return path(QStringLiteral("config/Tonemirror.json")); }
    QString localeFolder() const { return path(QStringLiteral("Locale")); }

    // A frame on this fixture's objects whose update checks go to a closed local port.
    std::unique_ptr<app::CMainFrame> makeFrame();

    app::AppContext& context() { return *context_; }
    engine::ScanEngine& engine() { return *engine_; }
    engine::TrackStore& store() { return *store_; }
    shell::SettingsStore& settings() { return *settings_; }
    app::EngineBridge& bridge() { return *bridge_; }
    RecordingPrompts prompts;

private:
    QTemporaryDir temporary_;
    QString folder_;
    audio::PluginList plugins_;
    shell::CTranslator translator_;
    std::unique_ptr<shell::SettingsStore> settings_;
    std::unique_ptr<engine::TrackStore> store_;
    std::unique_ptr<app::EngineBridge> bridge_;
    std::unique_ptr<engine::ScanEngine> engine_;
    std::unique_ptr<app::AppContext> context_;
};

// A sine tone made by ffmpeg; extra output arguments choose the format ("-b:a", "128k").
bool makeTone(const QString& file, int frequency, int rate, int channels, double seconds,
              const QStringList& outputArgs = {});

} // namespace tonemirror::testing
