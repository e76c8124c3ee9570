// The main window on real objects: first run, placement, scans driven through its actions on files
// made with ffmpeg and decoded by the real plug-ins, shutdown, settings and language switch.

#include "AppFixture.h"

#include "app/common/CommandIds.h"
#include "app/dialogs/CSkippedItemsDlg.h"
#include "app/dialogs/SkippedItemsModel.h"
#include "app/folders/CFileList.h"
#include "app/folders/CFoldersView.h"
#include "app/frame/ProgressPane.h"
#include "app/frame/WindowPlacement.h"
#include "app/results/CResultsPage.h"
#include "app/results/CViewList.h"
#include "engine/CacheFile.h"
#include "shell/FileActions.h"
#include "shell/JournalFile.h"
#include "support/RunCli.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QSet>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTabWidget>
#include <QTest>
#include <QToolBar>

#include <limits>

#include <sys/stat.h>

using namespace tonemirror;
using namespace tonemirror::testing;
namespace cmd = tonemirror::app::cmd;

namespace {

using PairSet = QSet<QString>;

// "a|b" with the two paths in sorted order: which file of a pair is path1 depends on thread timing.
QString pairKey(const QString& a, const QString& b) {
    return a < b ? a + QLatin1Char('|') + b : b + QLatin1Char('|') + a;
}

struct CommandStates {
    bool start, pause, pauseChecked, stop;
};

CommandStates states(const app::CMainFrame& frame) {
    return {frame.action(cmd::kStart)->isEnabled(), frame.action(cmd::kPause)->isEnabled(),
            frame.action(cmd::kPause)->isChecked(), frame.action(cmd::kStop)->isEnabled()};
}

bool scanIdle(AppFixture& fixture) {
    return fixture.engine().control().jobCount() == 0;
}

QStringList menuTexts(const QMenuBar* bar) {
    QStringList texts;
    for (const QAction* top : bar->actions()) {
        texts << top->text();
        if (top->menu() != nullptr) {
            for (const QAction* item : top->menu()->actions()) {
                texts << item->text();
            }
        }
    }
    return texts;
}

} // namespace

class FrameTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir library_;
    QTemporaryDir data_; // XDG_DATA_HOME: the trash and the action journal of these tests
    QString music_;

private slots:
    void initTestCase() {
        qputenv("XDG_DATA_HOME", QFile::encodeName(data_.path()));
        music_ = QDir(library_.path()).filePath(QStringLiteral("music"));
        QVERIFY(QDir().mkpath(music_ + QStringLiteral("/sub")));
        const QStringList mp3{QStringLiteral("-b:a"), QStringLiteral("128k")};
        QVERIFY(makeTone(music_ + QStringLiteral("/a.wav"), 440, 44100, 2, 20));
        QVERIFY(makeTone(music_ + QStringLiteral("/sub/b.mp3"), 440, 44100, 2, 20, mp3));
        QVERIFY(makeTone(music_ + QStringLiteral("/c.wav"), 1300, 22050, 1, 20));
        QVERIFY(makeTone(music_ + QStringLiteral("/sub/d.mp3"), 1300, 22050, 1, 20, mp3));
        QVERIFY(makeTone(music_ + QStringLiteral("/e.wav"), 3000, 44100, 1, 20));
        QFile notes(music_ + QStringLiteral("/notes.txt"));
        QVERIFY(notes.open(QIODevice::WriteOnly) && notes.write("not audio") > 0);
    }

    // The menu bar's commands that act on a page reach it: the file list's view modes, the
    // playlist's question when there is nothing to save.
    void pageCommandsOfTheMenuBarReachThePages() {
        AppFixture fixture;
        auto frame = fixture.makeFrame();
        QVERIFY(frame->create());
        frame->action(cmd::kViewList)->trigger();
        QCOMPARE(frame->foldersView()->fileList()->viewMode(), app::FileViewMode::List);
        frame->action(cmd::kViewDetails)->trigger();
        QCOMPARE(frame->foldersView()->fileList()->viewMode(), app::FileViewMode::Details);
        frame->action(cmd::kSavePlaylist)->setEnabled(true); // no rows: the page says so
        frame->action(cmd::kSavePlaylist)->trigger();
        QCOMPARE(fixture.prompts.shown.last(), QStringLiteral("Error|No data to generate playlist"));
    }

    void firstRunShowsTheDefaultWindow() {
        AppFixture fixture;
        auto frame = fixture.makeFrame();
        QVERIFY(frame->create());
        frame->showAtStoredPlacement();
        QVERIFY(fixture.prompts.shown.isEmpty());
        QVERIFY(!frame->toolBar()->isHidden());
        QVERIFY(!frame->statusBar()->isHidden());
        QVERIFY(frame->action(cmd::kToolbar)->isChecked());
        QVERIFY(frame->action(cmd::kStatusBar)->isChecked());
        QCOMPARE(frame->tabs()->currentIndex(), 0);
        QCOMPARE(frame->tabs()->tabText(0), QStringLiteral("Folders"));
        QCOMPARE(frame->tabs()->tabText(1), QStringLiteral("Results"));
        const CommandStates s = states(*frame);
        QVERIFY(s.start && !s.pause && !s.pauseChecked && !s.stop);
        QVERIFY(!frame->action(cmd::kSavePlaylist)->isEnabled());
        QCOMPARE(frame->statusPane(0)->text(), QString());
        QCOMPARE(frame->statusPane(1)->text(), QStringLiteral("Cache: 0"));
        QCOMPARE(frame->statusPane(2)->text(), QStringLiteral("New: 0/0"));
        QCOMPARE(frame->progressPane()->percentText(), QStringLiteral("0.0%"));
        QCOMPARE(frame->statusPane(1)->width(), 90);
        QCOMPARE(frame->statusPane(2)->width(), 120);
        QCOMPARE(frame->progressPane()->width(), 150);
        QCOMPARE(frame->windowTitle(), QStringLiteral("Tonemirror 0.9 (beta)"));
        QVERIFY2(frame->automaticCheckStarted(), "no check on record yet: the first one is due");
        QVERIFY(frame->foldersView()->tickedFolders().empty());
    }

    void placementIsUsedOnlyWhenItFitsOneScreen_data() {
        QTest::addColumn<QRect>("rect");
        QTest::addColumn<bool>("fits");
        QTest::newRow("inside the first") << QRect(10, 10, 500, 400) << true;
        QTest::newRow("exactly the first") << QRect(0, 0, 1000, 800) << true;
        QTest::newRow("one pixel over") << QRect(1, 0, 1000, 800) << false;
        QTest::newRow("inside the second") << QRect(1100, 100, 300, 300) << true;
        QTest::newRow("across both, mostly first") << QRect(800, 0, 300, 300) << false;
        QTest::newRow("on no screen") << QRect(5000, 5000, 100, 100) << false;
    }
    void placementIsUsedOnlyWhenItFitsOneScreen() {
        QFETCH(QRect, rect);
        QFETCH(bool, fits);
        const QList<QRect> screens{QRect(0, 0, 1000, 800), QRect(1000, 0, 1280, 1024)};
        QCOMPARE(app::placementFits(rect, screens), fits);
    }

    // Stored edges are untrusted numbers: a width past the int range or edges far off every screen
    // must neither overflow nor place the window.
    void placementFromExtremeStoredNumbersFitsNoScreen() {
        const QList<QRect> screens{QRect(0, 0, 1000, 800)};
        using Rect = shell::WindowPreferences::Rect;
        const std::int32_t lo = std::numeric_limits<std::int32_t>::min();
        const std::int32_t hi = std::numeric_limits<std::int32_t>::max();
        for (const Rect& rect : {Rect{lo, 0, hi, 100}, Rect{0, lo, 100, hi}, Rect{hi - 10, 0, hi, 100},
                                 Rect{50, 50, 10, 10}, Rect{0, 0, 0, 0}}) {
            QVERIFY(!app::placementFits(app::normalRect(rect), screens));
        }
        QVERIFY(app::placementFits(app::normalRect(Rect{10, 10, 510, 410}), screens));
    }

    void closingStoresPlacementAndBarsForTheNextStart() {
        AppFixture fixture;
        {
            auto frame = fixture.makeFrame();
            QVERIFY(frame->create());
            frame->showAtStoredPlacement();
            frame->setGeometry(40, 50, 600, 400);
            frame->action(cmd::kToolbar)->trigger();
            QVERIFY(frame->toolBar()->isHidden());
            QVERIFY(!frame->action(cmd::kToolbar)->isChecked());
            frame->close();
        }
        shell::SettingsStore& settings = fixture.settings();
        QCOMPARE(settings.readNumber("ShowToolbar"), std::optional<std::uint32_t>(0));
        QCOMPARE(settings.readNumber("ShowStatusBar"), std::optional<std::uint32_t>(1));
        QCOMPARE(settings.readNumber("WindowMaximized"), std::optional<std::uint32_t>(0));
        const QRect stored(
            QPoint(int(*settings.readNumber("WindowLeft")), int(*settings.readNumber("WindowTop"))),
            QPoint(int(*settings.readNumber("WindowRight")) - 1,
                   int(*settings.readNumber("WindowBottom")) - 1));
        QCOMPARE(stored.size(), QSize(600, 400));

        auto again = fixture.makeFrame();
        QVERIFY(again->create());
        again->showAtStoredPlacement();
        QVERIFY(again->toolBar()->isHidden());
        QVERIFY(!again->action(cmd::kToolbar)->isChecked());
        QCOMPARE(again->geometry().size(), QSize(600, 400));
    }

    void scanDrivenThroughTheActionsMatchesTheCommandLine() {
        AppFixture fixture;
        auto frame = fixture.makeFrame();
        QVERIFY(frame->create());
        frame->foldersView()->setTickedFolders({app::toU16(music_)});
        frame->action(cmd::kStart)->trigger();
        CommandStates s = states(*frame);
        QVERIFY2(!s.start && s.pause && !s.pauseChecked && s.stop, "running");
        frame->action(cmd::kPause)->trigger();
        s = states(*frame);
        QVERIFY2(!s.start && s.pause && s.pauseChecked && s.stop, "paused");
        frame->action(cmd::kPause)->trigger();
        QVERIFY(!frame->action(cmd::kPause)->isChecked());
        QTRY_VERIFY_WITH_TIMEOUT(scanIdle(fixture) && frame->action(cmd::kStart)->isEnabled(), 120000);
        s = states(*frame);
        QVERIFY2(s.start && !s.pause && !s.pauseChecked && !s.stop, "idle again");

        PairSet shown;
        for (const app::ResultRow& row : frame->resultsPage()->rows()) {
            shown.insert(pairKey(app::toQString(row.pair.path1), app::toQString(row.pair.path2)));
        }
        QCOMPARE(shown.size(), 2);
        QCOMPARE(frame->tabs()->tabText(1), QStringLiteral("Results (2)"));
        // notes.txt is no music: it is counted among the skipped items, not among the files.
        QCOMPARE(frame->statusPane(0)->text(), QStringLiteral("2 duplicate(s), 1 skipped"));
        QCOMPARE(frame->statusPane(2)->text(), QStringLiteral("New: 5/5"));
        QCOMPARE(frame->statusPane(1)->text(), QStringLiteral("Cache: 5"));
        QCOMPARE(frame->progressPane()->percentText(), QStringLiteral("100.0%"));
        QVERIFY(frame->action(cmd::kSavePlaylist)->isEnabled());
        QCOMPARE(parseQuotedFolders(fixture), QStringList{music_});
        QCOMPARE(shown, cliPairs(fixture));
    }

    // What a scan leaves out is counted in the status bar and listed, with the reasons, on request.
    void skippedItemsAreCountedAndListed() {
        QTemporaryDir odd;
        QVERIFY(makeTone(odd.filePath(QStringLiteral("tone.wav")), 440, 44100, 1, 1.0));
        QVERIFY(::mkfifo(QFile::encodeName(odd.filePath(QStringLiteral("pipe"))).constData(), 0600) == 0);
        QVERIFY(
            QFile::link(odd.filePath(QStringLiteral("nowhere")), odd.filePath(QStringLiteral("dangling"))));
        AppFixture fixture;
        auto frame = fixture.makeFrame();
        QVERIFY(frame->create());
        QVERIFY(!frame->action(cmd::kSkippedItems)->isEnabled());
        frame->foldersView()->setTickedFolders({app::toU16(odd.path())});
        frame->action(cmd::kStart)->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(scanIdle(fixture) && frame->action(cmd::kStart)->isEnabled(), 60000);
        frame->refreshStatus();
        QCOMPARE(frame->statusPane(0)->text(), QStringLiteral("3 skipped")); // the 1 s tone is listed too
        QVERIFY(frame->action(cmd::kSkippedItems)->isEnabled());

        app::CSkippedItemsDlg dialog(fixture.context(), fixture.engine().skippedItems(),
                                     fixture.engine().counters().itemsSkipped);
        QCOMPARE(dialog.headingText(), QStringLiteral("The last scan left out 3 item(s):"));
        QStringList rows;
        for (int row = 0; row < dialog.model()->rowCount(); ++row) {
            rows << QFileInfo(dialog.model()->index(row, 0).data().toString()).fileName() + QLatin1Char('|') +
                        dialog.model()->index(row, 1).data().toString();
        }
        rows.sort();
        QCOMPARE(rows,
                 (QStringList{"dangling|link to nothing", "pipe|not a regular file (pipe, socket or device)",
                              "tone.wav|too short to compare"}));
        const app::CSkippedItemsDlg partial(fixture.context(), fixture.engine().skippedItems(), 5);
        QVERIFY(partial.headingText().endsWith(QStringLiteral("5 item(s): the first 3 are listed.")));
    }

    void stopWhilePausedDisablesTheScanCommandsUntilTheJobsAreDrained() {
        AppFixture fixture;
        auto frame = fixture.makeFrame();
        QVERIFY(frame->create());
        frame->foldersView()->setTickedFolders({app::toU16(music_)});
        frame->action(cmd::kStart)->trigger();
        frame->action(cmd::kPause)->trigger();
        QVERIFY(frame->action(cmd::kPause)->isChecked());
        frame->action(cmd::kStop)->trigger();
        const CommandStates s = states(*frame);
        QVERIFY2(!s.start && !s.pause && !s.pauseChecked && !s.stop, "stopping");
        QTRY_VERIFY_WITH_TIMEOUT(scanIdle(fixture) && frame->action(cmd::kStart)->isEnabled(), 60000);
        QVERIFY(!frame->action(cmd::kPause)->isChecked());
        QVERIFY(!frame->action(cmd::kPause)->isEnabled());
    }

    void closingDuringAScanStopsItAndLeavesAWholeCache() {
        AppFixture fixture;
        {
            auto frame = fixture.makeFrame();
            QVERIFY(frame->create());
            frame->foldersView()->setTickedFolders({app::toU16(music_)});
            frame->action(cmd::kStart)->trigger();
            QTRY_VERIFY_WITH_TIMEOUT(fixture.engine().counters().filesDone >= 1, 60000);
            frame->close();
            QCOMPARE(fixture.engine().control().jobCount(), 0);
        }
        const std::int32_t known = fixture.store().tracksKnown();
        QVERIFY(known >= 1);
        fixture.shutDown(); // lets go of the cache file
        QVERIFY(QFile::exists(fixture.path(QStringLiteral("cache.dat"))));
        QVERIFY(QFile::exists(fixture.path(QStringLiteral("ignores.list"))));
        engine::TrackStore reread(
            engine::StorageLocations{{},
                                     {},
                                     fixture.path(QStringLiteral("cache.dat")).toStdString(),
                                     fixture.path(QStringLiteral("ignores.list")).toStdString()});
        QVERIFY(reread.openCache() >= 0);
        QCOMPARE(reread.lastLoad().droppedBytes, std::uint64_t(0)); // every record was written whole
        QVERIFY(!reread.lastLoad().headerReset);
        QCOMPARE(reread.tracksKnown(), known);
    }

    void aSecondRunningCopyUsesItsOwnCache() {
        QTemporaryDir shared;
        AppFixture first({shared.path(), true, {}});
        auto firstFrame = first.makeFrame();
        QVERIFY(firstFrame->create());
        AppFixture second({shared.path(), true, {}});
        auto secondFrame = second.makeFrame();
        QVERIFY(secondFrame->create());
        QVERIFY(second.prompts.shown.isEmpty());
        QCOMPARE(QString::fromStdString(first.store().cachePath().string()),
                 first.path(QStringLiteral("program/cache.dat")));
        QCOMPARE(QString::fromStdString(second.store().cachePath().string()),
                 second.path(QStringLiteral("user/cache.dat")));
    }

    void aCacheThatCannotBeOpenedIsReportedAndTheProgramRunsOn() {
        AppFixture fixture;
        QVERIFY(
            QDir().mkpath(fixture.path(QStringLiteral("cache.dat")))); // a folder where the file should be
        auto frame = fixture.makeFrame();
        QVERIFY(frame->create());
        QCOMPARE(fixture.prompts.shown, QStringList{QStringLiteral("Error|Can't open cache file")});
        QVERIFY(frame->action(cmd::kStart)->isEnabled());
    }

    void aDamagedSettingsFileIsKeptAsideAndDefaultsApply() {
        AppFixture fixture;
        QFile damaged(fixture.settingsFile());
        QVERIFY(damaged.open(QIODevice::WriteOnly) && damaged.write("{\"CompareMethod\": 1,") > 0);
        damaged.close();
        auto frame = fixture.makeFrame();
        QVERIFY(frame->create());
        QCOMPARE(fixture.prompts.shown.size(), 1);
        QVERIFY(fixture.prompts.shown[0].startsWith(QStringLiteral("Warning|Can't access settings\n") +
                                                    fixture.settingsFile()));
        QCOMPARE(fixture.engine().settings().compareMethod.load(), 3);
        const QString aside = QString::fromStdString(fixture.settings().keptAsidePath().string());
        QVERIFY(fixture.prompts.shown[0].contains(aside));
        QFile kept(aside);
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), QByteArray("{\"CompareMethod\": 1,"));
    }

    void storedComparisonSettingsFollowTheReadingRules() {
        AppFixture fixture;
        fixture.settings().load();
        fixture.settings().writeNumber("CompareMethod", 7);
        fixture.settings().writeNumber("SensitivityContent", 150);
        fixture.settings().writeText("SensitivityTags", u"90");
        fixture.settings().writeNumber("Accurate", 1);
        auto frame = fixture.makeFrame();
        QVERIFY(frame->create());
        QCOMPARE(fixture.engine().settings().compareMethod.load(), 3);
        QCOMPARE(fixture.engine().settings().contentThreshold.load(), 1.5f);
        QCOMPARE(fixture.engine().settings().tagsThreshold.load(), 0.75f); // a text is not a number
        QVERIFY(fixture.engine().settings().accurate.load());
        QCOMPARE(frame->resultsPage()->experimentalColumnWidth(), 80);
    }

    void switchingLanguageRetranslatesMenusAndTabs() {
        const QByteArray german =
            "\xEF\xBB\xBF[Deutsch]\nMENU_FILES=&Dateien\nMENU_START=St&arten\nFOLDERS=Ordner\n"
            "RESULTS=Ergebnisse\nSTATUS_CACHE=Zwischenspeicher\nLOCALE=de\n";
        AppFixture fixture({{}, false, {{QStringLiteral("de.lng"), german}}});
        auto frame = fixture.makeFrame();
        QVERIFY(frame->create());
        engine::DuplicatePair pair;
        pair.path1 = u"/x/1.mp3";
        pair.path2 = u"/x/2.mp3";
        frame->resultsPage()->addPairs({pair});
        QCOMPARE(frame->tabs()->tabText(1), QStringLiteral("Results (1)"));

        frame->switchLanguage(QStringLiteral("deutsch"));
        QStringList texts = menuTexts(frame->menuBar());
        QVERIFY(texts.contains(QStringLiteral("&Dateien")));
        QVERIFY(texts.contains(QStringLiteral("&Scanning")));
        QCOMPARE(frame->action(cmd::kStart)->text(), QStringLiteral("St&arten"));
        QCOMPARE(frame->action(cmd::kPause)->text(), QStringLiteral("&Pause")); // no German text: English
        QCOMPARE(frame->tabs()->tabText(0), QStringLiteral("Ordner"));
        // Every visible text follows at once: the tab with its count and the status panes.
        QCOMPARE(frame->tabs()->tabText(1), QStringLiteral("Ergebnisse (1)"));
        QCOMPARE(frame->statusPane(1)->text(), QStringLiteral("Zwischenspeicher: 0"));
        // Qt's own buttons speak the language too, and English again after switching back.
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "&Yes"), QStringLiteral("&Ja"));
        frame->switchLanguage(QStringLiteral("English"));
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "&Yes"), QStringLiteral("&Yes"));
        QCOMPARE(frame->statusPane(1)->text(), QStringLiteral("Cache: 0"));
        frame->switchLanguage(QStringLiteral("deutsch"));
        QCOMPARE(fixture.settings().readText("Language"), std::optional<std::u16string>(u"deutsch"));

        QStringList checked;
        for (const QAction* top : frame->menuBar()->actions()) {
            for (const QAction* item : top->menu()->actions()) {
                if (item->menu() != nullptr) {
                    for (const QAction* language : item->menu()->actions()) {
                        const int id = language->data().toInt();
                        if (language->isChecked() && id >= cmd::kFirstLanguage && id <= cmd::kLastLanguage) {
                            checked << language->text();
                        }
                    }
                }
            }
        }
        QCOMPARE(checked, QStringList{QStringLiteral("Deutsch")});
    }

    void aMenuPromptGivesWayToTheCountsAfterItsCommand() {
        AppFixture fixture;
        auto frame = fixture.makeFrame();
        QVERIFY(frame->create());
        engine::DuplicatePair pair;
        pair.path1 = u"/x/1.mp3";
        pair.path2 = u"/x/2.mp3";
        frame->resultsPage()->addPairs({pair});
        frame->show();
        QVERIFY(QTest::qWaitForWindowExposed(frame.get()));
        QStatusTipEvent prompt(QStringLiteral("Display program information, version number and copyright"));
        QApplication::sendEvent(frame.get(), &prompt);
        QCOMPARE(frame->statusBar()->currentMessage(), prompt.tip());
        frame->action(cmd::kToolbar)->trigger(); // the pointer never left the button: no empty tip came
        frame->action(cmd::kToolbar)->trigger();
        QVERIFY(frame->statusBar()->currentMessage().isEmpty());
        QVERIFY(frame->statusPane(0)->isVisible());
        QCOMPARE(frame->statusPane(0)->text(), QStringLiteral("1 duplicate(s)"));
        // A menu closed without a command clears it too.
        QApplication::sendEvent(frame.get(), &prompt);
        QMenu* files = frame->menuBar()->actions().first()->menu();
        emit files->aboutToHide();
        QVERIFY(frame->statusBar()->currentMessage().isEmpty());
    }

    void startWithNothingTickedSaysSo() {
        AppFixture fixture;
        auto frame = fixture.makeFrame();
        QVERIFY(frame->create());
        frame->foldersPage()->setTickedFolders({});
        frame->action(cmd::kStart)->trigger();
        QVERIFY(!fixture.prompts.shown.isEmpty());
        QVERIFY(fixture.prompts.shown.last().startsWith(QStringLiteral("Information|No folder is ticked")));
        QCOMPARE(fixture.engine().control().jobCount(), 0);
    }

    void clearingTheCacheSaysTheIgnoredPairsGoToo() {
        AppFixture fixture;
        fixture.prompts.answer = false;
        auto frame = fixture.makeFrame();
        QVERIFY(frame->create());
        QVERIFY(frame->clearCacheQuestion().contains(QStringLiteral("ignored pairs")));
    }

    void progressPaneDrawsTheGradientAndThePercent() {
        app::ProgressPane pane;
        pane.resize(150, 22);
        pane.setCounts(425, 1000);
        QCOMPARE(pane.percentText(), QStringLiteral("42.5%"));
        const QImage image = pane.grab().toImage();
        // Bar: the pane inset by 3+3 pixels left/right and 2+3 top/bottom, 42.5 % of that wide.
        const int left = 6, top = 5, bottom = 22 - 5 - 1, innerWidth = 150 - 12;
        const int right = left + int(innerWidth * 0.425) - 1;
        const QColor topColour = image.pixelColor(left + 1, top);
        QVERIFY2(qAbs(topColour.red() - 170) <= 3 && topColour.green() == 255, qPrintable(topColour.name()));
        const QColor bottomColour = image.pixelColor(left + 1, bottom);
        const int k = int(0.425 * 170);
        QVERIFY2(qAbs(bottomColour.red() - (255 - k)) <= 8 && qAbs(bottomColour.blue() - (255 - k)) <= 8,
                 qPrintable(bottomColour.name()));
        QVERIFY(image.pixelColor(right + 2, top) != topColour);
        QCOMPARE(app::ProgressPane::bottomColour(1.0), QColor(85, 255, 85));
        pane.setCounts(5, 0);
        QCOMPARE(pane.percentText(), QStringLiteral("0.0%"));
        pane.setCounts(9, 4);
        QCOMPARE(pane.percentText(), QStringLiteral("100.0%"));
    }

    // A clean-up the program was killed in is finished at the next start; Edit -> Undo is offered
    // only while there is a batch to put back, and the command line undoes what the window did.
    void aCutShortCleanUpIsFinishedAtStartAndUndone() {
        QDir(data_.path()).removeRecursively();
        QVERIFY(QDir().mkpath(data_.filePath(QStringLiteral("Tonemirror/journal"))));
        QTemporaryDir work;
        const QString a = work.filePath(QStringLiteral("a.mp3")), b = work.filePath(QStringLiteral("b.mp3"));
        shell::JournalBatch batch;
        batch.number = 3;
        for (const QString& name : {a, b}) {
            QFile out(name);
            QVERIFY(out.open(QIODevice::WriteOnly) && out.write("RIFF") == 4);
            out.close();
            shell::FileAction action;
            action.path = QFile::encodeName(name).toStdString();
            action.expected = *shell::currentFile(action.path);
            batch.actions.push_back(action);
        }
        {
            QFile journal(data_.filePath(QStringLiteral("Tonemirror/journal/batch-00000003.journal")));
            QVERIFY(journal.open(QIODevice::WriteOnly));
            journal.write(QByteArray::fromStdString(shell::journal_file::planLine(batch) +
                                                    shell::journal_file::eventLine("begin", 0)));
        }
        AppFixture fixture;
        auto frame = fixture.makeFrame();
        QVERIFY(frame->create());
        QVERIFY(!QFile::exists(a) && !QFile::exists(b)); // the begun one and the one never started
        QVERIFY2(fixture.prompts.shown.join(QLatin1Char('\n')).contains(QStringLiteral("cut short")),
                 qPrintable(fixture.prompts.shown.join(QLatin1Char('\n'))));
        QVERIFY(frame->action(cmd::kUndo)->isEnabled());
        QCOMPARE(frame->action(cmd::kUndo)->shortcut(), QKeySequence(QKeySequence::Undo));
        frame->runCommand(cmd::kUndo);
        QVERIFY(QFile::exists(a));
        QVERIFY(QFile::exists(b));
        QVERIFY(!frame->action(cmd::kUndo)->isEnabled());

        // A Delete of the window, reversed by the command line through the same journal.
        frame->resultsPage()->addPairs({[&] {
            engine::DuplicatePair pair;
            pair.path1 = app::toU16(b);
            pair.path2 = app::toU16(a);
            return pair;
        }()});
        frame->resultsPage()->list()->selectRow(0);
        frame->resultsPage()->runCommand(cmd::kDelete1);
        QVERIFY(!QFile::exists(b));
        QTRY_VERIFY(frame->action(cmd::kUndo)->isEnabled());
        const fakes::CliResult r = fakes::runCli({"undo"}, work.path().toStdString());
        QCOMPARE(r.status, 0);
        QVERIFY(QFile::exists(b));
    }

private:
    static QStringList parseQuotedFolders(AppFixture& fixture) {
        QStringList folders;
        for (const std::u16string& folder :
             shell::parseQuotedList(fixture.settings().readText("Folders").value_or(u""))) {
            folders << app::toQString(folder);
        }
        return folders;
    }

    PairSet cliPairs(AppFixture& fixture) const {
        const fakes::CliResult r = fakes::runCli(
            {"scan", "--quiet", "--no-cache", "--format", "json", "--ignore-list",
             fixture.path(QStringLiteral("cli-ignores.list")).toStdString(), music_.toStdString()},
            fixture.path(QString()).toStdString());
        PairSet pairs;
        const QJsonArray list = QJsonDocument::fromJson(QByteArray::fromStdString(r.out))
                                    .object()[QStringLiteral("pairs")]
                                    .toArray();
        for (const QJsonValue& pair : list) {
            pairs.insert(
                pairKey(pair[QStringLiteral("path1")].toString(), pair[QStringLiteral("path2")].toString()));
        }
        return pairs;
    }
};

QTEST_MAIN(FrameTest)
#include "FrameTest.moc"
