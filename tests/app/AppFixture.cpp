#include "AppFixture.h"

#include <QDir>
#include <QFile>
#include <QProcess>

namespace tonemirror::testing {

void RecordingPrompts::warning(QWidget*, const QString& caption, const QString& text) {
    shown << caption + QLatin1Char('|') + text;
}
void RecordingPrompts::error(QWidget*, const QString& caption, const QString& text) {
    shown << caption + QLatin1Char('|') + text;
}
void RecordingPrompts::information(QWidget*, const QString& caption, const QString& text) {
    shown << caption + QLatin1Char('|') + text;
}
bool RecordingPrompts::question(QWidget*, const QString& caption, const QString& text) {
    shown << caption + QLatin1Char('|') + text;
    return answer;
}

bool RecordingPrompts::confirmFiles(QWidget*, const QString& caption, const QString& text,
                                    const QStringList& files) {
    shown << caption + QLatin1Char('|') + text;
    confirmedFiles << files;
    return answer;
}
QString RecordingPrompts::existingFolder(QWidget*, const QString& caption) {
    folderRequests << caption;
    return folder;
}

QString RecordingPrompts::saveFileName(QWidget*, const QString& caption, const QString& initialName,
                                       const QStringList& nameFilters, const QString& defaultSuffix,
                                       QString* selectedFilter) {
    saveRequests << QStringList{caption, initialName, nameFilters.join(QLatin1Char(';')), defaultSuffix}.join(
        QLatin1Char('|'));
    if (selectedFilter != nullptr) {
        *selectedFilter = saveFilter;
    }
    return saveAs;
}

AppFixture::AppFixture(FixtureOptions options)
    : folder_(options.folder.isEmpty() ? temporary_.path() : options.folder) {
    QDir(folder_).mkpath(QStringLiteral("config"));
    QDir(folder_).mkpath(QStringLiteral("Locale"));
    for (auto file = options.languageFiles.cbegin(); file != options.languageFiles.cend(); ++file) {
        QFile out(QDir(localeFolder()).filePath(file.key()));
        if (!out.open(QIODevice::WriteOnly) || out.write(file.value()) != file.value().size()) {
            qFatal("cannot write a language file");
        }
    }
    plugins_.loadFromProgramFolder();
    settings_ = std::make_unique<shell::SettingsStore>(settingsFile().toStdString());
    engine::StorageLocations locations;
    if (options.programFolderStorage) {
        locations.programFolder = path(QStringLiteral("program")).toStdString();
        locations.userDataFolder = path(QStringLiteral("user")).toStdString();
        QDir(folder_).mkpath(QStringLiteral("program"));
    } else {
        locations.cacheFile = path(QStringLiteral("cache.dat")).toStdString();
        locations.ignoreListFile = path(QStringLiteral("ignores.list")).toStdString();
    }
    store_ = std::make_unique<engine::TrackStore>(locations);
    bridge_ = std::make_unique<app::EngineBridge>();
    engine_ = std::make_unique<engine::ScanEngine>(*store_, plugins_, bridge_.get());
    context_ = std::make_unique<app::AppContext>(
        app::AppContext{*settings_, translator_, plugins_, *store_, *engine_, prompts});
    translator_.loadAll(localeFolder().toStdString());
}

AppFixture::~AppFixture() {
    engine_.reset(); // the workers end before anything they use
}

void AppFixture::shutDown() {
    engine_.reset();
    store_.reset();
}

QString AppFixture::path(const QString& name) const {
    return QDir(folder_).filePath(name);
}

std::unique_ptr<app::CMainFrame> AppFixture::makeFrame() {
    return std::make_unique<app::CMainFrame>(*context_, *bridge_, shell::UpdateServer{"127.0.0.1", 9});
}

bool makeTone(const QString& file, int frequency, int rate, int channels, double seconds,
              const QStringList& outputArgs) {
    QStringList args{
        QStringLiteral("-nostdin"),
        QStringLiteral("-v"),
        QStringLiteral("error"),
        QStringLiteral("-y"),
        QStringLiteral("-f"),
        QStringLiteral("lavfi"),
        QStringLiteral("-i"),
        QStringLiteral("sine=frequency=%1:sample_rate=%2:duration=%3").arg(frequency).arg(rate).arg(seconds),
        QStringLiteral("-ac"),
        QString::number(channels)};
    args << outputArgs << file;
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"), args);
    return ffmpeg.waitForFinished(60000) && ffmpeg.exitStatus() == QProcess::NormalExit &&
           ffmpeg.exitCode() == 0;
}

} // namespace tonemirror::testing
