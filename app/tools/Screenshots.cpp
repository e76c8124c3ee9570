// Renders the main window and the dialogs offscreen to PNG files, for the README and the package's
// metadata: tonemirror-screenshots OUTPUT_FOLDER. Exits 1 when a render is blank or cannot be saved.
// With a language name and a suffix (OUTPUT_FOLDER Deutsch de), renders only the main window's Folders
// page in that language, as main-window-SUFFIX.png, to show a shipped translation.
#include "app/AppContext.h"
#include "app/Prompts.h"
#include "app/common/CommandIds.h"
#include "app/dialogs/CAboutDlg.h"
#include "app/dialogs/CKeeperRulesDlg.h"
#include "app/dialogs/COptionsDlg.h"
#include "app/dialogs/CUpdateDlg.h"
#include "app/folders/CCheckedTreeCtrl.h"
#include "app/folders/CFileList.h"
#include "app/folders/CFoldersView.h"
#include "app/frame/CMainFrame.h"
#include "app/frame/EngineBridge.h"
#include "app/results/CGroupsView.h"
#include "app/results/CResultsPage.h"
#include "app/results/CViewList.h"
#include "app/results/GroupsModel.h"
#include "app/results/ResultsModel.h"
#include "audio/PluginList.h"
#include "engine/ScanEngine.h"
#include "engine/TrackStore.h"
#include "shell/CTranslator.h"
#include "shell/SettingNames.h"
#include "shell/SettingsStore.h"
#include "shell/UpdateCheck.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QSet>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTreeWidgetItem>
#include <QWidget>

#include <cstdio>

namespace {

using namespace tonemirror;

class ConsolePrompts : public app::Prompts {
public:
    void warning(QWidget*, const QString& caption, const QString& text) override { say(caption, text); }
    void error(QWidget*, const QString& caption, const QString& text) override { say(caption, text); }
    void information(QWidget*, const QString& caption, const QString& text) override { say(caption, text); }
    bool question(QWidget*, const QString&, const QString&) override { return false; }

private:
    static void say(const QString& caption, const QString& text) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(caption), qPrintable(text));
    }
};

// A render counts as blank when it holds fewer than a handful of colours.
bool blank(const QImage& image) {
    QSet<QRgb> colours;
    for (int y = 0; y < image.height() && colours.size() < 16; y += 3) {
        for (int x = 0; x < image.width() && colours.size() < 16; x += 3) {
            colours.insert(image.pixel(x, y));
        }
    }
    return colours.size() < 16;
}

bool save(QWidget& widget, const QDir& folder, const QString& name) {
    widget.show();
    QApplication::processEvents();
    const QImage image = widget.grab().toImage();
    const QString file = folder.filePath(name + QStringLiteral(".png"));
    if (image.isNull() || blank(image)) {
        std::fprintf(stderr, "%s: the render is blank\n", qPrintable(file));
        return false;
    }
    if (!image.save(file)) {
        std::fprintf(stderr, "%s: cannot be written\n", qPrintable(file));
        return false;
    }
    std::printf("%s %dx%d\n", qPrintable(file), image.width(), image.height());
    return true;
}

// A short tagged MP3 made by ffmpeg; false when ffmpeg is missing or fails.
bool makeTaggedTone(const QString& file, int frequency, const QStringList& tags) {
    QStringList args{
        QStringLiteral("-nostdin"), QStringLiteral("-v"),
        QStringLiteral("error"),    QStringLiteral("-y"),
        QStringLiteral("-f"),       QStringLiteral("lavfi"),
        QStringLiteral("-i"),       QStringLiteral("sine=frequency=%1:duration=1").arg(frequency)};
    for (const QString& tag : tags) {
        args << QStringLiteral("-metadata") << tag;
    }
    args << file;
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"), args);
    return ffmpeg.waitForFinished(60000) && ffmpeg.exitStatus() == QProcess::NormalExit &&
           ffmpeg.exitCode() == 0;
}

// A small music library in a home folder of its own, so the folder tree shows the same every time.
QString makeLibrary(const QDir& work) {
    const QString home = work.filePath(QStringLiteral("home"));
    QDir music(home + QStringLiteral("/Music"));
    for (const char* genre : {"Jazz", "Pop", "Rock", "Rock/Live"}) {
        music.mkpath(QLatin1String(genre));
    }
    const QStringList songs{QStringLiteral("01. Northern Lines - Harbour Lights"),
                            QStringLiteral("02. Northern Lines - Paper Boats"),
                            QStringLiteral("03. Northern Lines - Slow Tide")};
    for (int i = 0; i < songs.size(); ++i) {
        const QString title = songs[i].section(QStringLiteral(" - "), 1);
        makeTaggedTone(music.filePath(QStringLiteral("Rock/") + songs[i] + QStringLiteral(".mp3")),
                       440 + 110 * i,
                       {QStringLiteral("title=") + title, QStringLiteral("artist=Northern Lines"),
                        QStringLiteral("album=Coastal"), QStringLiteral("date=2019"),
                        QStringLiteral("track=%1").arg(i + 1), QStringLiteral("genre=Rock")});
    }
    return music.path();
}

// The Folders page with two ticked folders, the Rock folder listed and its three songs in the tag
// editor.
void showFoldersPage(app::CMainFrame& frame, const QString& music) {
    app::CFoldersView* page = frame.foldersView();
    page->setTickedFolders(
        {app::toU16(music + QStringLiteral("/Jazz")), app::toU16(music + QStringLiteral("/Rock"))});
    app::CCheckedTreeCtrl* tree = page->tree();
    QTreeWidgetItem* home = tree->topLevelItem(0);
    tree->fillChildren(home);
    if (QTreeWidgetItem* folder = tree->findLoaded(app::toU16(music))) {
        tree->fillChildren(folder);
        folder->setExpanded(true);
        if (QTreeWidgetItem* rock = tree->findLoaded(app::toU16(music + QStringLiteral("/Rock")))) {
            tree->setCurrentItem(rock);
        }
    }
    frame.show();
    QApplication::processEvents();
    std::vector<int> rows;
    for (int row = 0; row < page->fileList()->rowCount(); ++row) {
        if (!page->fileList()->isFolder(row)) {
            rows.push_back(row);
        }
    }
    page->fileList()->selectRows(rows);
    for (int pass = 0; pass < 3; ++pass) { // paint, then the deferred reload, then its layout
        QApplication::processEvents();
    }
}

// A small library for the Results page: a few pieces, each also present as another copy, with tags.
struct Piece {
    const char* file;
    int frequency;
    const char* bitRate;
    const char* artist;
    const char* title;
    const char* album;
};

bool makePiece(const QDir& folder, const Piece& piece) {
    const QStringList args{
        QStringLiteral("-nostdin"), QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"),
        QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
        // A tone that steps through five pitches and whose level rises and falls, so the pieces have a
        // melody and a rhythm to compare; over a minute long, as the experimental comparison needs.
        QStringLiteral("aevalsrc=0.6*sin(2*PI*%1*(1+0.12*(floor(t*3)-5*floor(t*0.6)))*t)*"
                       "(0.55+0.45*sin(2*PI*%2*t)):s=44100:d=65")
            .arg(piece.frequency)
            .arg(0.5 + piece.frequency % 7 * 0.25),
        QStringLiteral("-ac"), QStringLiteral("2"), QStringLiteral("-b:a"),
        QString::fromLatin1(piece.bitRate), QStringLiteral("-metadata"),
        QStringLiteral("artist=") + QString::fromUtf8(piece.artist), QStringLiteral("-metadata"),
        QStringLiteral("title=") + QString::fromUtf8(piece.title), QStringLiteral("-metadata"),
        QStringLiteral("album=") + QString::fromUtf8(piece.album),
        folder.filePath(QString::fromUtf8(piece.file))};
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"), args);
    return ffmpeg.waitForFinished(60000) && ffmpeg.exitStatus() == QProcess::NormalExit &&
           ffmpeg.exitCode() == 0;
}

bool makeDuplicates(const QDir& folder) {
    const Piece pieces[] = {
        {"Harbour Lights - Night Ferry.mp3", 440, "192k", "Harbour Lights", "Night Ferry", "Tidal"},
        {"old/night_ferry.mp3", 440, "96k", "Harbour Lights", "Night Ferry (edit)", ""},
        {"Juniper Row - Paper Kites.mp3", 660, "256k", "Juniper Row", "Paper Kites", "Small Hours"},
        {"old/Paper Kites.mp3", 660, "128k", "Juniper Row", "Paper Kites", "Small Hours"},
        {"Slow Meridian - Glasshouse.mp3", 990, "160k", "Slow Meridian", "Glasshouse", "Greenhouse Effect"},
        {"inbox/track07.mp3", 990, "320k", "", "", ""},
        {"Ostrava Tram Band - Last Stop.mp3", 1480, "128k", "Ostrava Tram Band", "Last Stop", "Line 4"},
    };
    if (!folder.mkpath(QStringLiteral("old")) || !folder.mkpath(QStringLiteral("inbox"))) {
        return false;
    }
    for (const Piece& piece : pieces) {
        if (!makePiece(folder, piece)) {
            std::fprintf(stderr, "ffmpeg could not make %s\n", piece.file);
            return false;
        }
    }
    return true;
}

// Scans the library through the window's own Start command and waits for the scan to end.
bool scanLibrary(app::CMainFrame& frame, engine::ScanEngine& engine, const QString& folder) {
    frame.foldersView()->setTickedFolders({app::toU16(folder)});
    frame.runCommand(app::cmd::kStart);
    QElapsedTimer clock;
    clock.start();
    while (engine.control().jobCount() > 0 && clock.elapsed() < 600000) {
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    QApplication::processEvents(); // the last posted results
    return engine.control().jobCount() == 0;
}

// The Results page after a scan with the experimental comparison on, a row selected.
bool saveResults(app::CMainFrame& frame, engine::ScanEngine& engine, const QString& home,
                 const QDir& output) {
    const QDir music(home + QStringLiteral("/Collection"));
    if (!makeDuplicates(music)) {
        return false;
    }
    engine.settings().accurate = true;
    frame.resultsPage()->setExperimentalColumnVisible(true);
    if (!scanLibrary(frame, engine, music.path()) || frame.resultsPage()->rowCount() == 0) {
        std::fprintf(stderr, "the scan found no duplicates\n");
        return false;
    }
    frame.resize(1100, 720);
    frame.tabs()->setCurrentIndex(1);
    frame.resultsPage()->list()->sortByHeader(1);
    frame.resultsPage()->list()->selectRow(0);
    return save(frame, output, QStringLiteral("results"));
}

// The same results as groups, marked as "Mark all but the best" marks them (without its question).
bool saveGroups(app::CMainFrame& frame, const QDir& output) {
    app::CResultsPage* page = frame.resultsPage();
    page->showGroups(true);
    page->model()->setMarkedFiles(page->groupsModel()->plannedMarks());
    const QModelIndex first = page->groupsModel()->index(0, app::GroupsModel::kFile);
    page->groupsView()->setCurrentIndex(page->groupsModel()->index(0, app::GroupsModel::kFile, first));
    return save(frame, output, QStringLiteral("groups"));
}

// Every window in English, each into its own file; false when one could not be made.
bool saveEnglishWindows(app::CMainFrame& frame, app::AppContext& context, engine::ScanEngine& engine,
                        const QString& music, const QDir& output) {
    bool ok = save(frame, output, QStringLiteral("main-window"));
    showFoldersPage(frame, music);
    ok = save(frame, output, QStringLiteral("folders-page")) && ok;
    app::COptionsDlg options(
        app::OptionsValues{}, [] { return false; }, [] {}, &frame);
    ok = save(options, output, QStringLiteral("options")) && ok;
    app::CKeeperRulesDlg rules(context, shell::KeeperRules(), &frame);
    ok = save(rules, output, QStringLiteral("keeper-rules")) && ok;
    app::CAboutDlg about(context, shell::programVersion(), &frame);
    ok = save(about, output, QStringLiteral("about")) && ok;
    app::CUpdateDlg update(
        context, 3, shell::programVersion(), [] {}, shell::defaultUpdateServer(), &frame);
    update.showResult(3);
    ok = save(update, output, QStringLiteral("update")) && ok;
    if (!saveResults(frame, engine, music, output)) {
        return false;
    }
    return saveGroups(frame, output) && ok;
}

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc != 2 && argc != 4) {
        std::fprintf(stderr, "usage: tonemirror-screenshots OUTPUT_FOLDER [LANGUAGE SUFFIX]\n");
        return 2;
    }
    const QString language = argc == 4 ? QString::fromLocal8Bit(argv[2]) : QString();
    QDir output(QString::fromLocal8Bit(argv[1]));
    QTemporaryDir work;
    if (!output.mkpath(QStringLiteral(".")) || !work.isValid()) {
        std::fprintf(stderr, "cannot create the output or a temporary folder\n");
        return 1;
    }
    const QString music = makeLibrary(QDir(work.path()));
    qputenv("HOME", QFile::encodeName(QFileInfo(music).path()));
    // The trash and the action journal of the renderings stay in the scratch folder too.
    qputenv("XDG_DATA_HOME", QFile::encodeName(QFileInfo(music).path() + QStringLiteral("/.local/share")));
    audio::PluginList plugins;
    plugins.loadFromProgramFolder();
    shell::CTranslator translator;
    translator.loadAll();
    shell::SettingsStore settings(work.filePath(QStringLiteral("settings.json")).toStdString());
    settings.writeNumber(shell::settings::kCheckUpdate, 0);
    if (!language.isEmpty()) {
        // Stored as the Languages menu stores it, so the window starts in it as the program would.
        if (failed(translator.selectLanguage(app::toU16(language)))) {
            std::fprintf(stderr, "no language file names the language %s\n", qPrintable(language));
            return 1;
        }
        settings.writeText(shell::settings::kLanguage, app::toU16(language));
    }
    engine::StorageLocations locations;
    locations.cacheFile = work.filePath(QStringLiteral("cache.dat")).toStdString();
    locations.ignoreListFile = work.filePath(QStringLiteral("ignores.list")).toStdString();
    engine::TrackStore store(locations);
    app::EngineBridge bridge;
    engine::ScanEngine engine(store, plugins, &bridge);
    ConsolePrompts prompts;
    app::AppContext context{settings, translator, plugins, store, engine, prompts};

    app::CMainFrame frame(context, bridge);
    if (!frame.create()) {
        return 1;
    }
    frame.resize(1000, 700);
    if (!language.isEmpty()) {
        showFoldersPage(frame, music);
        return save(frame, output, QStringLiteral("main-window-") + QString::fromLocal8Bit(argv[3])) ? 0 : 1;
    }
    return saveEnglishWindows(frame, context, engine, music, output) ? 0 : 1;
}
