// The Results page on real files: rows, sorting, marks, the context menu, the desktop's handlers,
// ignoring, trashing, the playlist and the export, the painted cells, the details pane and its buttons.

#include "AppFixture.h"

#include "app/common/CommandIds.h"
#include "app/common/FileJournal.h"
#include "app/results/CDetailsWnd.h"
#include "app/results/CResultsPage.h"
#include "app/results/CSuperButton.h"
#include "app/results/CViewList.h"
#include "app/results/ResultCellDelegate.h"
#include "app/results/ResultsModel.h"
#include "engine/DetailsRecord.h"
#include "engine/StorageLocations.h"
#include "engine/TableLock.h"
#include "engine/TrackStore.h"
#include "platform/os/Paths.h"
#include "shell/CTranslator.h"
#include "shell/Preferences.h"
#include "shell/ResultsExport.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>

#include <array>
#include <chrono>
#include <clocale>
#include <filesystem>
#include <fstream>
#include <string>

using namespace tonemirror;
using namespace tonemirror::testing;
namespace cmd = tonemirror::app::cmd;
using app::ResultsModel;

namespace {

engine::DuplicatePair pair(const QString& path1, const QString& path2, float content = 80.0f,
                           float tags = -100.0f, float experimental = -100.0f) {
    engine::DuplicatePair p;
    p.path1 = app::toU16(path1);
    p.path2 = app::toU16(path2);
    p.contentPercent = content;
    p.tagsPercent = tags;
    p.experimentalPercent = experimental;
    return p;
}

engine::ExperimentalScore update(const QString& path1, const QString& path2, float experimental) {
    engine::ExperimentalScore score;
    score.path1 = app::toU16(path1);
    score.path2 = app::toU16(path2);
    score.experimentalPercent = experimental;
    return score;
}

QStringList column(const app::CResultsPage& page, int column) {
    QStringList texts;
    for (int row = 0; row < page.rowCount(); ++row) {
        texts << page.model()->index(row, column).data().toString();
    }
    return texts;
}

bool touch(const QString& file) {
    QFile out(file);
    return out.open(QIODevice::WriteOnly) && out.write("RIFF") == 4;
}

bool isIgnored(engine::TrackStore& store, const QString& a, const QString& b) {
    store.lock().lockShared();
    const bool ignored = store.isIgnored(app::toU16(a), app::toU16(b));
    store.lock().unlock();
    return ignored;
}

QColor pixel(const QImage& image, int x, int y) {
    return QColor(image.pixel(x, y));
}

bool near(const QColor& actual, const QColor& expected, int tolerance = 3) {
    return std::abs(actual.red() - expected.red()) <= tolerance &&
           std::abs(actual.green() - expected.green()) <= tolerance &&
           std::abs(actual.blue() - expected.blue()) <= tolerance;
}

// Remembers the URLs the page hands to the desktop.
class UrlRecorder : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};

} // namespace

class ResultsTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir data_; // XDG_DATA_HOME: the trash of these tests
    QTemporaryDir files_;
    UrlRecorder urls_;

    QString file(const QString& name) const { return files_.filePath(name); }

    // A page on the fixture; it runs its own commands.
    std::unique_ptr<app::CResultsPage> makePage(AppFixture& fixture) {
        auto page = std::make_unique<app::CResultsPage>(fixture.context());
        page->resize(900, 600);
        return page;
    }

private slots:
    // The model needs only a way to translate: every text it shows comes through it.
    void modelTextsComeThroughItsTranslateFunction() {
        ResultsModel model([](const char16_t* key, std::u16string_view) {
            return QStringLiteral("[%1]").arg(QString::fromStdU16String(std::u16string(key)));
        });
        QCOMPARE(model.headerData(ResultsModel::kFile1, Qt::Horizontal, Qt::DisplayRole).toString(),
                 QStringLiteral("[RESULTS_FILE1]"));
        engine::DuplicatePair pair;
        pair.path1 = u"/music/a.mp3";
        pair.path2 = u"/music/b.mp3";
        pair.experimentalPercent = -1.0f; // pending
        model.addResults({{pair}, {}});
        QCOMPARE(model.data(model.index(0, ResultsModel::kExperimental), Qt::DisplayRole).toString(),
                 QStringLiteral("[WAIT]"));
    }

    void initTestCase() {
        qputenv("XDG_DATA_HOME", data_.path().toUtf8());
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &urls_, "open");
    }

    void cleanupTestCase() { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }

    void init() {
        urls_.opened.clear();
        std::error_code error; // Qt cannot name every byte a trashed name may hold
        std::filesystem::remove_all(data_.path().toStdString(), error);
        QVERIFY(QDir().mkpath(data_.path()));
    }

    void batchesInsertOnceAndUpdatesFindTheirRows() {
        AppFixture fixture;
        auto page = makePage(fixture);
        QSignalSpy inserted(page->model(), &QAbstractItemModel::rowsInserted);
        std::vector<engine::DuplicatePair> batch;
        for (int i = 0; i < 500; ++i) {
            batch.push_back(
                pair(QStringLiteral("/m/%1.mp3").arg(i), QStringLiteral("/m/x.mp3"), 80, -100, -1));
        }
        page->addPairs(batch);
        QCOMPARE(inserted.size(), 1);
        QCOMPARE(page->rowCount(), 500);
        page->list()->sortByHeader(ResultsModel::kFile1); // rows move: the update still finds its row
        page->addResults(
            {{pair(QStringLiteral("/m/new.mp3"), QStringLiteral("/m/x.mp3"), 50, -100, -1)},
             {update(QStringLiteral("/m/new.mp3"), QStringLiteral("/m/x.mp3"), 42.5f),
              update(QStringLiteral("/m/7.mp3"), QStringLiteral("/m/x.mp3"), 61.0f),
              update(QStringLiteral("/m/x.mp3"), QStringLiteral("/m/7.mp3"), 99.0f), // wrong order
              update(QStringLiteral("/m/gone.mp3"), QStringLiteral("/m/x.mp3"), 10.0f)}});
        page->addPairs({pair(QStringLiteral("/m/last.mp3"), QStringLiteral("/m/x.mp3"), 50, -100, -1)});
        QCOMPARE(inserted.size(), 3);
        QCOMPARE(page->rowCount(), 502);
        const QStringList experimental = column(*page, ResultsModel::kExperimental);
        const QStringList first = column(*page, ResultsModel::kFile1);
        QCOMPARE(experimental[first.indexOf(QStringLiteral("/m/new.mp3"))], QStringLiteral("42.5%"));
        QCOMPARE(experimental[first.indexOf(QStringLiteral("/m/7.mp3"))], QStringLiteral("61.0%"));
        QCOMPARE(experimental.count(QStringLiteral("wait")), 500); // a failed comparison never updates
        QCOMPARE(first.last(), QStringLiteral("/m/last.mp3"));     // appended, not sorted in
        page->clearRows();
        QCOMPARE(page->rowCount(), 0);
    }

    void aPairListedTwiceTakesItsUpdateInBothRows() {
        AppFixture fixture;
        auto page = makePage(fixture);
        page->addPairs(
            {pair("/a", "/b", 90, -100, -1), pair("/c", "/d", 90, -100, -1), pair("/a", "/b", 90, -100, -1)});
        page->addResults({{}, {update("/a", "/b", 70.0f)}});
        QCOMPARE(column(*page, ResultsModel::kExperimental), (QStringList{"70.0%", "wait", "70.0%"}));
    }

    void cellsShowTheirMarkers() {
        AppFixture fixture;
        auto page = makePage(fixture);
        page->addPairs({pair("/a", "/b", 87.5f, -100.0f, -100.0f), pair("/c", "/d", -100.0f, 0.0f, -1.0f)});
        QCOMPARE(column(*page, ResultsModel::kContent), (QStringList{"87.5%", "-"}));
        QCOMPARE(column(*page, ResultsModel::kTags), (QStringList{"-", "0.0%"}));
        QCOMPARE(column(*page, ResultsModel::kExperimental), (QStringList{"n/a", "wait"}));
    }

    void sortingIsStableWithDashRowsLastAndToggles() {
        AppFixture fixture;
        auto page = makePage(fixture);
        page->addPairs({pair("/m/b", "/1", -100), pair("/m/A", "/2", 50), pair("/m/a", "/3", 87.5f),
                        pair("/m/C", "/4", -100), pair("/m/d", "/5", 50)});
        app::CViewList* list = page->list();
        list->sortByHeader(ResultsModel::kContent);
        QVERIFY(list->directionFlag());
        QCOMPARE(column(*page, ResultsModel::kFile2), (QStringList{"/3", "/2", "/5", "/1", "/4"}));
        QCOMPARE(column(*page, ResultsModel::kContent).mid(3), (QStringList{"-", "-"}));
        list->sortByHeader(ResultsModel::kContent);
        QVERIFY(!list->directionFlag());
        QCOMPARE(column(*page, ResultsModel::kFile2), (QStringList{"/1", "/4", "/2", "/5", "/3"}));
        list->sortByHeader(ResultsModel::kFile1); // another column: the flag is set again
        QVERIFY(list->directionFlag());
        QCOMPARE(column(*page, ResultsModel::kFile1), (QStringList{"/m/A", "/m/a", "/m/b", "/m/C", "/m/d"}));
        page->model()->setMarked(0, 2, true);
        page->model()->setMarked(3, 2, true);
        list->sortByHeader(ResultsModel::kMark2);
        QCOMPARE(column(*page, ResultsModel::kFile1), (QStringList{"/m/a", "/m/b", "/m/d", "/m/A", "/m/C"}));
    }

    void theSelectionFollowsItsRowThroughASort() {
        AppFixture fixture;
        auto page = makePage(fixture);
        page->addPairs({pair("/z", "/1"), pair("/y", "/2"), pair("/x", "/3")});
        page->list()->selectRow(0);
        page->list()->sortByHeader(ResultsModel::kFile1);
        QCOMPARE(page->selectedRow(), 2);
        QCOMPARE(page->rows()[2].pair.path1, u"/z");
    }

    void contextMenusCountMarkedRowsOfTheirSide() {
        AppFixture fixture;
        auto page = makePage(fixture);
        page->addPairs({pair("/a", "/b"), pair("/c", "/b"), pair("/e", "/f")});
        const auto texts = [](const QMenu& menu) {
            QStringList list;
            for (const QAction* action : menu.actions()) {
                list << (action->isSeparator() ? QStringLiteral("--")
                                               : action->text() + (action->isEnabled() ? "" : " [off]"));
            }
            return list;
        };
        QVERIFY(!page->contextMenu(0, ResultsModel::kContent));
        QVERIFY(!page->contextMenu(0, ResultsModel::kExperimental));
        QVERIFY(!page->contextMenu(-1, ResultsModel::kFile1));
        auto menu = page->contextMenu(0, ResultsModel::kMark1);
        QCOMPARE(texts(*menu), (QStringList{"Play", "Browse...", "--", "Ignore", "Ignore marked... [off]",
                                            "--", "Delete", "Delete marked... [off]"}));
        page->model()->setMarked(0, 2, true);
        page->model()->setMarked(1, 2, true); // the same file in two rows counts twice
        menu = page->contextMenu(2, ResultsModel::kFile2);
        QCOMPARE(texts(*menu), (QStringList{"Play", "Browse...", "--", "Ignore", "Ignore marked (2)", "--",
                                            "Delete", "Delete marked (2)"}));
        QList<int> commands;
        for (const QAction* action : menu->actions()) {
            commands << action->data().toInt();
        }
        QCOMPARE(commands, (QList<int>{106, 108, 0, 110, 131, 0, 102, 104}));
        QCOMPARE(texts(*page->contextMenu(2, ResultsModel::kFile1))[4],
                 QStringLiteral("Ignore marked... [off]"));
    }

    void aClickOnACheckCellTogglesItsMarkOnly() {
        AppFixture fixture;
        auto page = makePage(fixture);
        page->addPairs({pair("/a", "/b"), pair("/a", "/c")});
        page->show();
        QVERIFY(QTest::qWaitForWindowExposed(page.get()));
        app::CViewList* list = page->list();
        const QRect cell = list->visualRect(page->model()->index(1, ResultsModel::kMark1));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, cell.center());
        QVERIFY(page->rows()[1].marked1);
        QVERIFY(!page->rows()[0].marked1); // the same file in another row is marked separately
        QVERIFY(!page->rows()[1].marked2);
        QCOMPARE(page->selectedRow(), 1);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, cell.center());
        QVERIFY(!page->rows()[1].marked1);
    }

    void doubleClickPlaysAndBrowseOpensTheFolder() {
        AppFixture fixture;
        auto page = makePage(fixture);
        page->addPairs({pair(file("one.mp3"), file("two.mp3"))});
        page->show();
        QVERIFY(QTest::qWaitForWindowExposed(page.get()));
        app::CViewList* list = page->list();
        const QPoint second = list->visualRect(page->model()->index(0, ResultsModel::kFile2)).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, second);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, second);
        QCOMPARE(urls_.opened, (QList<QUrl>{QUrl::fromLocalFile(file("two.mp3"))}));
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {},
                           list->visualRect(page->model()->index(0, ResultsModel::kContent)).center());
        QCOMPARE(urls_.opened.size(), 1);
        page->runCommand(cmd::kBrowse1); // no session bus here: the folder opens
        QTRY_COMPARE(urls_.opened.size(), 2);
        QCOMPARE(urls_.opened[1], QUrl::fromLocalFile(files_.path()));
        page->list()->selectRow(-1);
        page->runCommand(cmd::kPlay1); // nothing selected: nothing happens
        QCOMPARE(urls_.opened.size(), 2);
    }

    void ignoreMarkedIgnoresWholePairsOfItsSide() {
        AppFixture fixture;
        auto page = makePage(fixture);
        page->addPairs({pair("/x", "/y"), pair("/z", "/y"), pair("/w", "/v"), pair("/u", "/t")});
        page->model()->setMarked(0, 2, true);
        page->model()->setMarked(2, 2, true);
        page->model()->setMarked(3, 1, true); // the other side: left alone
        QSignalSpy changed(page.get(), &app::CResultsPage::rowsChanged);
        page->runCommand(cmd::kIgnoreMarked2);
        QCOMPARE(column(*page, ResultsModel::kFile1), (QStringList{"/z", "/u"}));
        QCOMPARE(changed.size(), 1);
        QVERIFY(isIgnored(fixture.store(), "/x", "/y"));
        QVERIFY(isIgnored(fixture.store(), "/v", "/w"));
        QVERIFY(!isIgnored(fixture.store(), "/z", "/y")); // the file is still listed with another
        page->list()->selectRow(0);
        page->runCommand(cmd::kIgnore2);
        QCOMPARE(column(*page, ResultsModel::kFile1), QStringList{"/u"});
        QVERIFY(isIgnored(fixture.store(), "/z", "/y"));
        QCOMPARE(page->selectedRow(), 0); // the next row is selected in its place
        page->runCommand(cmd::kIgnore1);
        QCOMPARE(page->rowCount(), 0);
        QVERIFY(page->detailsPane()->isHidden());
    }

    // The ignore list cannot hold a name with a double quote: such a pair stays listed and the user
    // reads why, while the other pairs are ignored as usual.
    void aPairTheIgnoreListCannotHoldStaysListedAndIsNamed() {
        AppFixture fixture;
        auto page = makePage(fixture);
        page->addPairs({pair("/m/say \"hi\".mp3", "/m/hi.mp3"), pair("/a", "/b"), pair("/c", "/d\"")});
        page->list()->selectRow(0);
        page->runCommand(cmd::kIgnore1);
        QCOMPARE(page->rowCount(), 3);
        QVERIFY(!isIgnored(fixture.store(), "/m/say \"hi\".mp3", "/m/hi.mp3"));
        QCOMPARE(fixture.prompts.shown.size(), 1);
        QVERIFY(fixture.prompts.shown.front().contains(QStringLiteral("/m/say \"hi\".mp3")));
        QVERIFY(fixture.prompts.shown.front().contains(QStringLiteral("double quote")));

        for (int row = 0; row < 3; ++row) {
            page->model()->setMarked(row, 1, true);
        }
        page->runCommand(cmd::kIgnoreMarked1);
        QCOMPARE(column(*page, ResultsModel::kFile1), (QStringList{"/m/say \"hi\".mp3", "/c"}));
        QVERIFY(isIgnored(fixture.store(), "/a", "/b"));
        QCOMPARE(fixture.prompts.shown.size(), 2);
        QVERIFY(fixture.prompts.shown.back().contains(QStringLiteral("(2 of 3)")));
    }

    void deletingAFileRemovesEveryRowHoldingIt() {
        AppFixture fixture;
        auto page = makePage(fixture);
        for (const char* name : {"a.mp3", "b.mp3", "c.mp3", "d.mp3"}) {
            QVERIFY(touch(file(name)));
        }
        const QString a = file("a.mp3"), b = file("b.mp3"), c = file("c.mp3"), d = file("d.mp3");
        page->addPairs({pair(a, b), pair(c, a), pair(b, c), pair(a, b), pair(d, c)});
        page->list()->selectRow(0);
        fixture.prompts.answer = false;
        page->runCommand(cmd::kDelete1);
        QVERIFY(QFile::exists(a));
        QCOMPARE(page->rowCount(), 5);
        fixture.prompts.answer = true;
        page->runCommand(cmd::kDelete1);
        QCOMPARE(fixture.prompts.confirmedFiles.last(), QStringList{a});
        QVERIFY(!QFile::exists(a));
        QVERIFY(QFile::exists(data_.filePath(QStringLiteral("Trash/files/a.mp3"))));
        QCOMPARE(column(*page, ResultsModel::kFile1), (QStringList{b, d}));

        page->model()->setMarked(0, 2, true);
        page->model()->setMarked(1, 2, true); // c twice: one file, one confirmation
        page->runCommand(cmd::kDeleteMarked2);
        QCOMPARE(fixture.prompts.confirmedFiles.last(), QStringList{c});
        QCOMPARE(page->rowCount(), 0);
        QVERIFY(QFile::exists(b) && QFile::exists(d));

        // A name that is not UTF-8 goes to the trash under its own bytes, never under a look-alike: the
        // decoy bears the name Qt makes of it.
        const std::string latin1 = files_.filePath(QStringLiteral("caf")).toStdString() + "\xE9.mp3";
        QVERIFY(std::ofstream(latin1).good());
        engine::DuplicatePair odd = pair(d, b);
        odd.path1 = os::fromNativePath(latin1);
        const std::string decoy = QFile::encodeName(app::toQString(odd.path1)).toStdString();
        QVERIFY(decoy != latin1);
        QVERIFY(std::ofstream(decoy).good());
        page->addPairs({odd});
        page->list()->selectRow(0);
        page->runCommand(cmd::kDelete1);
        QVERIFY(!std::filesystem::exists(latin1));
        const std::string trashed =
            data_.filePath(QStringLiteral("Trash/files/caf")).toStdString() + "\xE9.mp3";
        QVERIFY(std::filesystem::exists(trashed));
        std::filesystem::remove(trashed); // Qt cannot name it to clean up
        QVERIFY(std::filesystem::exists(decoy));
        QCOMPARE(page->rowCount(), 0);
    }

    void filesThatCannotBeTrashedStayAndAreNamed() {
        AppFixture fixture;
        auto page = makePage(fixture);
        const QString kept = file("kept.mp3"), other = file("other.mp3");
        QVERIFY(touch(kept) && touch(other));
        QFile trash(data_.filePath(QStringLiteral("Trash"))); // a file where the trash folder belongs
        QVERIFY(trash.open(QIODevice::WriteOnly));
        trash.close();
        page->addPairs({pair(kept, other), pair(file("vanished.mp3"), other)});
        page->model()->setMarked(0, 1, true);
        page->model()->setMarked(1, 1, true);
        page->runCommand(cmd::kDeleteMarked1);
        QVERIFY(QFile::exists(kept));
        QCOMPARE(page->rowCount(), 2);
        QVERIFY(!QDir(QStringLiteral("files")).exists()); // nothing left in the working folder
        const QString message = fixture.prompts.shown.last();
        QVERIFY2(
            message.startsWith(QStringLiteral("Warning|2 of 2 items could not be moved to the trash:\n")),
            qPrintable(message));
        QVERIFY2(message.contains(kept + QStringLiteral(": the trash folder cannot be used")),
                 qPrintable(message));
        QVERIFY2(message.contains(file("vanished.mp3") + QStringLiteral(": it is no longer there")),
                 qPrintable(message));
    }

    // The trash's reasons reach the user in the chosen language; a trash folder of someone else's
    // making is named, and the file stays.
    void trashReasonsAreTranslated() {
        const QByteArray german = "\xEF\xBB\xBF[Deutsch]\n"
                                  "TRASH_WHY_UNSAFE=der Papierkorb ist nicht sicher\n";
        AppFixture fixture({{}, false, {{QStringLiteral("de.lng"), german}}});
        QCOMPARE(fixture.context().translator.selectLanguage(u"Deutsch"), S_OK);
        auto page = makePage(fixture);
        const QString kept = file("kept.mp3"), other = file("other.mp3");
        QVERIFY(touch(kept) && touch(other));
        QVERIFY(QDir(data_.path()).mkpath(QStringLiteral("Trash/files")));
        QVERIFY(QFile::link(data_.filePath(QStringLiteral("elsewhere")),
                            data_.filePath(QStringLiteral("Trash/info"))));
        QVERIFY(QDir(data_.path()).mkpath(QStringLiteral("elsewhere")));
        page->addPairs({pair(kept, other)});
        page->list()->selectRow(0);
        page->runCommand(cmd::kDelete1);
        QVERIFY(QFile::exists(kept));
        QCOMPARE(page->rowCount(), 1);
        QVERIFY(QDir(data_.filePath(QStringLiteral("elsewhere"))).isEmpty());
        const QString message = fixture.prompts.shown.last();
        QVERIFY2(message.contains(kept + QStringLiteral(": der Papierkorb ist nicht sicher (")),
                 qPrintable(message));
        QVERIFY2(message.contains(QStringLiteral("Trash/info")), qPrintable(message));
    }

    // Every Delete is written to the journal first, so Edit -> Undo can put it back; a file that
    // changed since the scan analysed it, and one in a reference folder, stay with the reason.
    void deletesAreJournaledGuardedAndUndone() {
        AppFixture fixture;
        auto page = makePage(fixture);
        QVERIFY(QDir(files_.path()).mkpath(QStringLiteral("reference")));
        const QString a = file("a.mp3"), b = file("b.mp3"), changed = file("changed.mp3");
        const QString kept = file("reference/kept.mp3");
        for (const QString& name : {a, b, changed, kept}) {
            QVERIFY(touch(name));
        }
        const auto old = std::filesystem::last_write_time(a.toStdString()) - std::chrono::hours(24 * 400);
        std::filesystem::last_write_time(a.toStdString(), old);
        analysis::TrackRecord scanned; // the scan saw it with other contents
        scanned.fileStamp = {true, 4, 1000, 0};
        fixture.store().lock().lockExclusive();
        fixture.store().table().insert(app::toU16(changed), scanned);
        fixture.store().lock().unlock();
        QVERIFY(shell::writeReferenceFolders(fixture.settings(), {app::toU16(files_.filePath("reference"))}));
        QVERIFY(!app::canUndoFiles());

        page->addPairs({pair(a, b), pair(changed, b), pair(kept, b)});
        for (int row = 0; row < 3; ++row) {
            page->model()->setMarked(row, 1, true);
        }
        page->runCommand(cmd::kDeleteMarked1);
        QVERIFY(!QFile::exists(a));
        QVERIFY(QFile::exists(changed) && QFile::exists(kept));
        const QString message = fixture.prompts.shown.last();
        QVERIFY2(message.contains(changed + QStringLiteral(": it has changed since it was scanned")),
                 qPrintable(message));
        QVERIFY2(message.contains(kept + QStringLiteral(": it is in a reference folder")),
                 qPrintable(message));
        QCOMPARE(QDir(data_.filePath(QStringLiteral("Tonemirror/journal")))
                     .entryList({QStringLiteral("batch-*.journal")})
                     .size(),
                 1);

        QVERIFY(app::canUndoFiles());
        QVERIFY(app::undoLastFiles(fixture.context(), page.get()));
        QFile back(a);
        QVERIFY(back.open(QIODevice::ReadOnly));
        QCOMPARE(back.readAll(), QByteArray("RIFF"));
        QCOMPARE(std::filesystem::last_write_time(a.toStdString()), old);
        QVERIFY2(fixture.prompts.shown.last().contains(QStringLiteral("1 items were put back")),
                 qPrintable(fixture.prompts.shown.last()));
        QVERIFY(!app::canUndoFiles());
        QVERIFY(!app::undoLastFiles(fixture.context(), page.get()));
        QVERIFY2(fixture.prompts.shown.last().endsWith(QStringLiteral("there is no clean-up to undo")),
                 qPrintable(fixture.prompts.shown.last()));
    }

    // Without a journal nothing moves: the batch could not be undone, nor finished after a kill.
    void noJournalNoDelete() {
        AppFixture fixture;
        auto page = makePage(fixture);
        const QString a = file("a.mp3"), b = file("b.mp3");
        QVERIFY(touch(a) && touch(b));
        QVERIFY(touch(data_.filePath(QStringLiteral("Tonemirror")))); // a file where the folder belongs
        page->addPairs({pair(a, b)});
        page->list()->selectRow(0);
        page->runCommand(cmd::kDelete1);
        QVERIFY(QFile::exists(a));
        QCOMPARE(page->rowCount(), 1);
        const QString message = fixture.prompts.shown.last();
        QVERIFY2(message.startsWith(
                     QStringLiteral("Warning|No file was moved to the trash: the journal folder '")),
                 qPrintable(message));
    }

    // An undo whose original place is taken leaves that file in the trash and says why.
    void undoRefusesATakenPlaceAndSaysWhy() {
        AppFixture fixture;
        auto page = makePage(fixture);
        const QString a = file("a.mp3"), b = file("b.mp3");
        QVERIFY(touch(a) && touch(b));
        page->addPairs({pair(a, b)});
        page->list()->selectRow(0);
        page->runCommand(cmd::kDelete1);
        QVERIFY(!QFile::exists(a));
        QFile squatter(a);
        QVERIFY(squatter.open(QIODevice::WriteOnly) && squatter.write("new") == 3);
        squatter.close();
        QVERIFY(app::undoLastFiles(fixture.context(), page.get()));
        const QString message = fixture.prompts.shown.last();
        QVERIFY2(message.contains(QStringLiteral("0 items were put back")), qPrintable(message));
        QVERIFY2(message.contains(a + QStringLiteral(": its original place is taken by another file")),
                 qPrintable(message));
        QVERIFY(QFile::exists(data_.filePath(QStringLiteral("Trash/files/a.mp3"))));
    }

    void playlistFollowsTheDisplayOrderInThePathsOwnBytes() {
        AppFixture fixture;
        auto page = makePage(fixture);
        page->savePlaylist();
        QCOMPARE(fixture.prompts.shown.last(), QStringLiteral("Error|No data to generate playlist"));
        QVERIFY(fixture.prompts.saveRequests.isEmpty());

        const std::string previous = std::setlocale(LC_CTYPE, nullptr);
        std::setlocale(LC_CTYPE, "C"); // ASCII only: the names are still written as they are
        page->addPairs({pair(QStringLiteral("/m/z.mp3"), QStringLiteral("/m/caf\u00e9.mp3")),
                        pair(QStringLiteral("/m/B.mp3"), QStringLiteral("/m/y.mp3")),
                        pair(QStringLiteral("/m/a.mp3"), QStringLiteral("/m/z.mp3"))});
        page->list()->sortByHeader(ResultsModel::kFile1);
        fixture.prompts.saveAs = file("list.m3u");
        page->savePlaylist();
        std::setlocale(LC_CTYPE, previous.c_str());
        QCOMPARE(fixture.prompts.saveRequests.last(),
                 QStringLiteral("Save playlist|duplicates|M3U Playlist (*.m3u)|m3u"));
        QFile written(file("list.m3u"));
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll(), QByteArray("#EXTM3U\r\n/m/a.mp3\r\n/m/z.mp3\r\n/m/B.mp3\r\n/m/y.mp3\r\n"
                                               "/m/z.mp3\r\n/m/caf\xC3\xA9.mp3\r\n"));

        // A name with a line break cannot be one playlist line: its row is left out, and the user told.
        page->addPairs({pair(QStringLiteral("/m/two\nlines.mp3"), QStringLiteral("/m/y.mp3"))});
        const int shownBefore = fixture.prompts.shown.size();
        page->savePlaylist();
        QCOMPARE(fixture.prompts.shown.size(), shownBefore + 1);
        QVERIFY2(fixture.prompts.shown.last().startsWith(QStringLiteral("Warning|1 pair(s) were left out")),
                 qPrintable(fixture.prompts.shown.last()));
        QFile rewritten(file("list.m3u"));
        QVERIFY(rewritten.open(QIODevice::ReadOnly));
        const QByteArray lines = rewritten.readAll();
        QVERIFY(lines.endsWith("/m/caf\xC3\xA9.mp3\r\n") && !lines.contains("lines.mp3"));

        fixture.prompts.saveAs = file("no/such/folder/list.m3u");
        page->savePlaylist();
        QVERIFY2(fixture.prompts.shown.last().startsWith(QStringLiteral("Error|Can't write ") +
                                                         fixture.prompts.saveAs),
                 qPrintable(fixture.prompts.shown.last()));
    }

    void exportWritesTheCommandLineFormats() {
        AppFixture fixture;
        auto page = makePage(fixture);
        page->addPairs(
            {pair(QStringLiteral("/m/a, \"1\".mp3"), QStringLiteral("/m/b.mp3"), 91.5f, 40.0f, -1.0f)});
        fixture.prompts.saveAs = file("out.json");
        page->exportResults();
        QFile json(file("out.json"));
        QVERIFY(json.open(QIODevice::ReadOnly));
        QCOMPARE(json.readAll().toStdString(), shell::formatResultsJson(page->model()->pairs(), nullptr));
        fixture.prompts.saveAs = file("out");
        fixture.prompts.saveFilter = QStringLiteral("CSV table (*.csv)");
        page->exportResults();
        QFile csv(file("out"));
        QVERIFY(csv.open(QIODevice::ReadOnly));
        QCOMPARE(csv.readAll().toStdString(), shell::formatResultsCsv(page->model()->pairs(), nullptr));
        // The second dialog starts where the first file went.
        QCOMPARE(fixture.prompts.saveRequests.last(),
                 QStringLiteral("Export results|%1|CSV table (*.csv);JSON document (*.json)|csv")
                     .arg(file("duplicates")));
    }

    void percentCellsAreDrawnAsFramedBars() {
        AppFixture fixture;
        auto page = makePage(fixture);
        page->addPairs({pair("/a", "/b", 20.0f, 100.0f, -1.0f)});
        page->setExperimentalColumnVisible(true);
        app::CViewList* list = page->list();
        list->verticalHeader()->setDefaultSectionSize(40); // the text stays clear of the bar's edges
        page->show();
        QVERIFY(QTest::qWaitForWindowExposed(page.get()));
        const QImage image = list->viewport()->grab().toImage();
        const qreal ratio = image.devicePixelRatio();
        QCOMPARE(ratio, 1.0);

        const QRect cell = list->visualRect(page->model()->index(0, ResultsModel::kContent));
        QCOMPARE(cell.width(), 80);
        const QRect fill = app::ResultCellDelegate::barFill(cell, 20.0f);
        QCOMPARE(fill.left(), cell.left() + 6); // frame 3 in, bar 3 further
        QCOMPARE(fill.width(), 13);             // 68 x 20 / 100 truncated
        QCOMPARE(fill.top(), cell.top() + 5);
        QVERIFY(near(pixel(image, fill.left() + 1, fill.top()), QColor(0xAA, 0xAA, 0xFF), 4));
        QVERIFY(near(pixel(image, fill.left() + 1, fill.bottom()), QColor(221, 221, 255), 4));
        QVERIFY(near(pixel(image, fill.right(), fill.top() + 2), QColor(0xAA, 0xAA, 0xFF), 8));
        QCOMPARE(image.pixel(fill.right() + 1, fill.top() + 2), list->palette().color(QPalette::Base).rgb());
        const QPalette& palette = list->palette();
        QCOMPARE(image.pixel(cell.center().x(), cell.top() + 2),
                 palette.color(QPalette::Dark).rgb()); // outer outline
        QCOMPARE(image.pixel(cell.center().x(), cell.top() + 3),
                 palette.color(QPalette::Button).rgb()); // inner outline

        const QRect tags = list->visualRect(page->model()->index(0, ResultsModel::kTags));
        const QRect full = app::ResultCellDelegate::barFill(tags, 100.0f);
        QCOMPARE(full.width(), 68);
        QVERIFY(near(pixel(image, full.right(), full.top()), QColor(0xAA, 0xFF, 0xAA), 4));
        QVERIFY(near(pixel(image, full.right(), full.bottom()), QColor(85, 255, 85), 4));

        const QRect pending = list->visualRect(page->model()->index(0, ResultsModel::kExperimental));
        QVERIFY(app::ResultCellDelegate::barFill(pending, -1.0f).isEmpty());
        QVERIFY(image.pixel(pending.center().x(), pending.top() + 2) !=
                palette.color(QPalette::Dark).rgb()); // no frame

        list->horizontalHeader()->resizeSection(ResultsModel::kContent, 19); // too narrow: nothing drawn
        const QImage narrow = list->viewport()->grab().toImage();
        const QRect small = list->visualRect(page->model()->index(0, ResultsModel::kContent));
        for (int x = small.left(); x <= small.right(); ++x) {
            for (int y = small.top(); y <= small.bottom(); ++y) {
                QCOMPARE(narrow.pixel(x, y), palette.color(QPalette::Base).rgb());
            }
        }
    }

    // The acoustic match sits after the seven classic columns: shown, sorted, drawn as a bar, no menu.
    void theMatchColumnShowsSortsAndDraws() {
        AppFixture fixture;
        auto page = makePage(fixture);
        std::vector<engine::DuplicatePair> pairs{pair("/a", "/1"), pair("/b", "/2"), pair("/c", "/3")};
        pairs[0].acousticPercent = 12.5f;
        pairs[2].acousticPercent = 93.74f; // pairs[1] keeps -100: a track without a print
        page->addPairs(pairs);
        QCOMPARE(
            page->model()->headerData(ResultsModel::kAcoustic, Qt::Horizontal, Qt::DisplayRole).toString(),
            QStringLiteral("% match"));
        QCOMPARE(column(*page, ResultsModel::kAcoustic), (QStringList{"12.5%", "n/a", "93.7%"}));
        QVERIFY(!page->contextMenu(0, ResultsModel::kAcoustic));
        page->list()->sortByHeader(ResultsModel::kAcoustic);
        QCOMPARE(column(*page, ResultsModel::kFile2), (QStringList{"/3", "/1", "/2"}));

        page->list()->verticalHeader()->setDefaultSectionSize(40);
        page->show();
        QVERIFY(QTest::qWaitForWindowExposed(page.get()));
        page->list()->scrollTo(page->model()->index(0, ResultsModel::kAcoustic));
        const QImage image = page->list()->viewport()->grab().toImage();
        const QRect cell = page->list()->visualRect(page->model()->index(0, ResultsModel::kAcoustic));
        const QRect fill = app::ResultCellDelegate::barFill(cell, 93.74f);
        QVERIFY(!fill.isEmpty());
        QVERIFY(near(pixel(image, fill.left() + 1, fill.top()), QColor(0xFF, 0xD5, 0xAA), 4));
    }

    void columnsHaveTheirWidthsAndHeaderPictures() {
        AppFixture fixture;
        auto page = makePage(fixture);
        app::CViewList* list = page->list();
        const QList<int> widths{20, 350, 80, 80, 80, 20, 350, 80};
        for (int c = 0; c < ResultsModel::kColumnCount; ++c) {
            QCOMPARE(list->columnWidth(c), widths[c]);
        }
        page->setExperimentalColumnVisible(false);
        QCOMPARE(page->experimentalColumnWidth(), 0);
        QCOMPARE(list->horizontalHeader()->sectionResizeMode(ResultsModel::kMark1), QHeaderView::Fixed);
        const auto header = [&](int c, int role) {
            return page->model()->headerData(c, Qt::Horizontal, role);
        };
        QCOMPARE(header(ResultsModel::kFile1, Qt::DisplayRole).toString(), QStringLiteral("File #1"));
        QCOMPARE(header(ResultsModel::kExperimental, Qt::DisplayRole).toString(),
                 QStringLiteral("% experim."));
        QVERIFY(!header(ResultsModel::kMark2, Qt::DecorationRole).value<QIcon>().isNull());
        QVERIFY(header(ResultsModel::kMark2, Qt::DisplayRole).toString().isEmpty());
    }

    // A FLAC whose scanned spectrum ends like a lossy file's is shown as probably transcoded, and
    // loses its bold quality beside an MP3; an honest FLAC keeps it.
    void theDetailsShowEachFilesQuality() {
        AppFixture fixture;
        auto page = makePage(fixture);
        const QString made = file("made.flac"), honest = file("honest.flac"), mp3 = file("bought.mp3");
        QVERIFY(makeTone(made, 440, 44100, 2, 12.0));
        QVERIFY(makeTone(honest, 440, 44100, 2, 12.0));
        QVERIFY(makeTone(mp3, 440, 44100, 2, 12.0, {QStringLiteral("-b:a"), QStringLiteral("128k")}));
        analysis::TrackRecord analysed; // music up to 5 kHz, then the flat tail a low-pass leaves
        std::array<float, analysis::kComparedSpectrumBins> spectrum;
        for (std::size_t k = 0; k < spectrum.size(); ++k) {
            const float tilt = static_cast<float>(k + 1) / static_cast<float>(analysis::kSpectrumSize);
            spectrum[k] = tilt * (k < 465 ? 1.0f : 1e-4f); // 10.8 Hz a bin
        }
        analysed.meanSpectrum.assign(spectrum);
        fixture.store().lock().lockExclusive();
        fixture.store().table().insert(app::toU16(made), analysed);
        fixture.store().lock().unlock();
        page->addPairs({pair(honest, mp3), pair(made, mp3)});
        app::CDetailsWnd* details = page->detailsPane();
        page->list()->selectRow(0);
        QCOMPARE(details->value(8, 1).text, QStringLiteral("flac, 44100 Hz, stereo"));
        QCOMPARE(details->value(9, 1).text, QStringLiteral("lossless"));
        QVERIFY(details->value(9, 1).bold);
        QCOMPARE(details->value(9, 2).text, QStringLiteral("lossy"));
        page->list()->selectRow(1);
        QVERIFY2(details->value(9, 1).text.startsWith(QStringLiteral("probably transcoded (ends at ")),
                 qPrintable(details->value(9, 1).text));
        QVERIFY(!details->value(9, 1).bold);
    }

    void theFirstSelectionShowsBothFilesDetails() {
        AppFixture fixture;
        auto page = makePage(fixture);
        const QString longer = file("longer.wav"), shorter = file("shorter.wav"), junk = file("junk.mp3");
        QVERIFY(makeTone(longer, 440, 22050, 1, 65.0));
        QVERIFY(makeTone(shorter, 440, 22050, 1, 64.0));
        QFile out(junk);
        QVERIFY(out.open(QIODevice::WriteOnly) && out.write("not audio at all") > 0);
        out.close();
        page->addPairs({pair(longer, shorter), pair(junk, shorter)});
        page->show();
        QVERIFY(QTest::qWaitForWindowExposed(page.get()));
        app::CDetailsWnd* details = page->detailsPane();
        QVERIFY(details->isHidden());
        page->list()->selectRow(0);
        QVERIFY(!details->isHidden());
        QCOMPARE(details->height(), 240);
        const auto value = [&](int row, int side) { return details->value(row, side); };
        QCOMPARE(value(3, 1).text, QStringLiteral("1:05"));
        QVERIFY(value(3, 1).bold);
        QCOMPARE(value(3, 2).text, QStringLiteral("1:04"));
        QVERIFY(!value(3, 2).bold);
        QVERIFY(value(4, 1).bold && !value(4, 2).bold); // the longer file is larger
        QCOMPARE(value(4, 1).text,
                 QString::number(QFileInfo(longer).size() / 1048576.0, 'f', 2) + QStringLiteral(" Mb"));
        QCOMPARE(value(5, 1).text, QStringLiteral("353 Kbit")); // 22050 x 16 bits
        QVERIFY(!value(5, 1).bold && !value(5, 2).bold);
        QCOMPARE(value(6, 2).text, files_.path());
        QCOMPARE(value(7, 2).text, QStringLiteral("shorter.wav"));
        QCOMPARE(details->label(5), QStringLiteral("bitrate"));
        // The quality: a mono PCM file at 22050 Hz is lossless, though below a stereo file's rate.
        QCOMPARE(value(8, 1).text, QStringLiteral("wav, 22050 Hz, mono"));
        QCOMPARE(value(9, 2).text, QStringLiteral("lossless"));
        QCOMPARE(value(10, 1).text, QStringLiteral("0 of 3 filled"));
        QVERIFY(!value(9, 1).bold && !value(9, 2).bold);
        QCOMPARE(details->label(9), QStringLiteral("quality"));
        const auto record = page->rows()[0].details2;
        QVERIFY(record != nullptr);

        page->list()->selectRow(1); // no decoder opens the first file: its column stays empty
        QCOMPARE(value(7, 1).text, QString());
        QCOMPARE(value(3, 2).text, QStringLiteral("1:04"));
        QVERIFY(!value(3, 2).bold); // nothing to compare with
        QVERIFY(page->rows()[1].details1 == nullptr);
        page->list()->selectRow(-1);
        QVERIFY(details->isHidden());
        page->list()->selectRow(0);
        QCOMPARE(page->rows()[0].details2, record); // made once
    }

    void detailsButtonsSendTheFrameCommands() {
        AppFixture fixture;
        app::CDetailsWnd details(fixture.context());
        details.resize(600, 180);
        details.show();
        QSignalSpy sent(&details, &app::CDetailsWnd::commandRequested);
        const QList<QPair<int, QPoint>> buttons{{cmd::kDelete1, {10, 10}},
                                                {cmd::kPlay1, {10, 50}},
                                                {cmd::kDelete2, {490, 10}},
                                                {cmd::kPlay2, {490, 50}}};
        for (const auto& [command, position] : buttons) {
            app::CSuperButton* button = details.button(command);
            QCOMPARE(button->geometry(), QRect(position, QSize(100, 30)));
            QTest::mousePress(button, Qt::LeftButton);
            QVERIFY(button->isPressed());
            QCOMPARE(button->opacity(), 255);
            QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(-40, -40)); // released elsewhere
            QCOMPARE(sent.takeLast().at(0).toInt(), command);
        }
        details.resize(190, 180);
        QCOMPARE(details.button(cmd::kPlay2)->pos(), QPoint(80, 50));
        QCOMPARE(details.button(cmd::kDelete1)->text(), QStringLiteral("Delete"));
    }

    void thePaneDrawsItsColumnsOnlyWhenWideEnough() {
        AppFixture fixture;
        app::CDetailsWnd details(fixture.context());
        auto record = std::make_shared<engine::DetailsRecord>();
        record->artist = u"Somebody";
        record->durationMs = 187000;
        details.setRecords(record, record);
        details.resize(600, 180);
        details.show();
        const QImage wide = details.grab().toImage();
        const int a = (600 - 120) / 2;
        QVERIFY(near(QColor(wide.pixel(a + 10, 90)), QColor(32, 32, 32), 2)); // separators darkest at y = 90
        QVERIFY(near(QColor(wide.pixel(a + 109, 90)), QColor(32, 32, 32), 2));
        QVERIFY(!near(QColor(wide.pixel(a + 11, 90)), QColor(32, 32, 32), 40)); // one pixel wide
        QVERIFY(qRed(wide.pixel(a + 10, 6)) > 120);
        QCOMPARE(wide.pixel(300, 179), qRgb(255, 255, 255)); // background: white at the bottom
        QVERIFY(near(QColor(wide.pixel(300, 0)), QColor(177, 195, 224)));
        const auto darkPixels = [](const QImage& image, int left, int right) {
            int dark = 0;
            for (int y = 0; y < image.height(); ++y) {
                for (int x = left; x < right; ++x) {
                    dark += qGray(image.pixel(x, y)) < 60 ? 1 : 0;
                }
            }
            return dark;
        };
        QVERIFY(darkPixels(wide, 115, 485) > 100); // labels, values, separators
        details.resize(199, 180);
        const QImage narrow = details.grab().toImage();
        QCOMPARE(darkPixels(narrow, 0, narrow.width()), 0); // background and (light) buttons only
        QCOMPARE(details.value(3, 1).text, QStringLiteral("3:07"));
    }

    void theKeyboardWorksTheRowUnderTheFocus() {
        AppFixture fixture;
        auto page = std::make_unique<app::CResultsPage>(fixture.context());
        page->resize(900, 600);
        page->addPairs({pair("/a", "/b"), pair("/c", "/d")});
        page->show();
        QVERIFY(QTest::qWaitForWindowExposed(page.get()));
        app::CViewList* list = page->list();
        list->setFocus();
        list->setCurrentIndex(page->model()->index(1, ResultsModel::kFile2));
        QObject::disconnect(list, &app::CViewList::contextMenuAt, page.get(), nullptr); // no menu to block on
        QSignalSpy menus(list, &app::CViewList::contextMenuAt);
        QTest::keyClick(list, Qt::Key_Space);
        QVERIFY(page->rows()[1].marked2 && !page->rows()[1].marked1);
        QTest::keyClick(list, Qt::Key_Space);
        QVERIFY(!page->rows()[1].marked2);
        fixture.prompts.answer = false;
        QTest::keyClick(list, Qt::Key_Delete); // asks about the file of the focused column
        QCOMPARE(fixture.prompts.confirmedFiles.size(), 1);
        QCOMPARE(fixture.prompts.confirmedFiles.last(), QStringList{"/d"});
        QTest::keyClick(list, Qt::Key_Return);
        list->setCurrentIndex(page->model()->index(1, ResultsModel::kContent)); // a column of file #1
        QTest::keyClick(list, Qt::Key_Enter);
        QCOMPARE(urls_.opened, (QList<QUrl>{QUrl::fromLocalFile("/d"), QUrl::fromLocalFile("/c")}));
        QTest::keyClick(list, Qt::Key_F10, Qt::ShiftModifier);
        QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, QPoint(0, 0), QPoint(0, 0));
        QApplication::sendEvent(list->viewport(), &menuKey);
        QCOMPARE(menus.size(), 2);
        for (const auto& opened : menus) {
            QCOMPARE(opened[0].toInt(), 1);
            QCOMPARE(opened[1].toInt(), int(ResultsModel::kFile1));
        }
    }

    void anExperimentalScoreThatCannotComeSaysWhy() {
        AppFixture fixture;
        auto page = makePage(fixture);
        page->addPairs({pair("/a", "/b", 80.0f, -100.0f, -1.0f)});
        QCOMPARE(column(*page, ResultsModel::kExperimental), QStringList{"wait"});
        engine::ExperimentalScore failed = update("/a", "/b", -100.0f);
        failed.failure = analysis::AnalysisFailure::tooShort;
        page->addResults({{}, {failed}});
        QCOMPARE(column(*page, ResultsModel::kExperimental), QStringList{"too short"});
    }

    void namesThatAreNotUtf8ShowTheirBytes() {
        AppFixture fixture;
        auto page = makePage(fixture);
        engine::DuplicatePair latin1;
        latin1.path1 = os::fromNativePath(std::filesystem::path("/m/caf\xE9.mp3"));
        latin1.path2 = u"/m/cafe.mp3";
        page->addPairs({latin1});
        QCOMPARE(column(*page, ResultsModel::kFile1), QStringList{"/m/caf\\xE9.mp3"});
        QCOMPARE(page->rows()[0].pair.path1, latin1.path1); // the file itself keeps its name
    }

    void pathColumnsShareTheFreeWidthAndNewRowsClearTheArrow() {
        AppFixture fixture;
        auto page = makePage(fixture);
        page->addPairs({pair("/b", "/1"), pair("/a", "/2")});
        page->resize(1600, 600);
        page->show();
        QVERIFY(QTest::qWaitForWindowExposed(page.get()));
        app::CViewList* list = page->list();
        int others = 0;
        for (int c = 0; c < ResultsModel::kColumnCount; ++c) {
            others += c == ResultsModel::kFile1 || c == ResultsModel::kFile2 ? 0 : list->columnWidth(c);
        }
        const int free = list->viewport()->width() - others;
        QVERIFY(free > 2 * app::CViewList::kFileColumnWidth);
        QCOMPARE(list->columnWidth(ResultsModel::kFile1), free / 2);
        QCOMPARE(list->columnWidth(ResultsModel::kFile2), free / 2);

        list->sortByHeader(ResultsModel::kFile1);
        QVERIFY(list->horizontalHeader()->isSortIndicatorShown());
        page->addPairs({pair("/0", "/3")}); // arrives at the end: the list is no longer sorted
        QVERIFY(!list->horizontalHeader()->isSortIndicatorShown());
        QCOMPARE(column(*page, ResultsModel::kFile1), (QStringList{"/a", "/b", "/0"}));
        page->scanEnded(); // the last order comes back once the scan is over
        QCOMPARE(column(*page, ResultsModel::kFile1), (QStringList{"/0", "/a", "/b"}));
        QVERIFY(list->horizontalHeader()->isSortIndicatorShown());
        QVERIFY(list->directionFlag());
    }

    void widthsSortAndPaneHeightAreKeptForTheNextRun() {
        AppFixture fixture;
        {
            auto page = makePage(fixture);
            page->addPairs({pair("/a", "/b"), pair("/c", "/d")});
            page->show();
            QVERIFY(QTest::qWaitForWindowExposed(page.get()));
            page->list()->horizontalHeader()->resizeSection(ResultsModel::kContent, 123);
            page->list()->sortByHeader(ResultsModel::kTags);
            page->list()->sortByHeader(ResultsModel::kTags);
            page->list()->selectRow(0);
            QVERIFY(page->handle(1)->isEnabled()); // the bar can be dragged
            page->setSizes({page->height() - 260, 250});
            emit page->splitterMoved(page->height() - 260, 1);
            page->storeLayout();
        }
        auto page = makePage(fixture);
        page->restoreLayout();
        page->addPairs({pair("/a", "/b")});
        page->show();
        QVERIFY(QTest::qWaitForWindowExposed(page.get()));
        QCOMPARE(page->list()->columnWidth(ResultsModel::kContent), 123);
        QCOMPARE(page->list()->sortColumn(), int(ResultsModel::kTags));
        QVERIFY(!page->list()->directionFlag());
        QVERIFY(!page->list()->horizontalHeader()->isSortIndicatorShown()); // rows not sorted yet
        page->list()->selectRow(0);
        QCOMPARE(page->detailsPane()->height(), page->sizes().value(1));
        QVERIFY(std::abs(page->sizes().value(1) - 250) <= 1);
    }

    void ignoresAreSavedWhenTheyChange() {
        AppFixture fixture;
        auto page = makePage(fixture);
        page->addPairs({pair("/x", "/y"), pair("/z", "/y")});
        page->list()->selectRow(0);
        page->runCommand(cmd::kIgnore1);
        // A second store on the same files, as after a crash: the pair is there already.
        engine::StorageLocations where;
        where.ignoreListFile = fixture.path(QStringLiteral("ignores.list")).toStdString();
        engine::TrackStore reopened(where);
        QCOMPARE(reopened.loadIgnoreList(), S_OK);
        QVERIFY(isIgnored(reopened, "/x", "/y"));
        QVERIFY(!isIgnored(reopened, "/z", "/y"));
    }

    void labelsFitBetweenTheDividersInLongerLanguages() {
        FixtureOptions options;
        options.languageFiles.insert(
            QStringLiteral("long.lng"),
            QByteArray("\xEF\xBB\xBF[Long]\nDETAILS_FILENAME = Name der Datei auf dem "
                       "Datentr\xC3\xA4ger\n"));
        AppFixture fixture(options);
        QCOMPARE(fixture.context().translator.selectLanguage(u"Long"), S_OK);
        app::CDetailsWnd details(fixture.context());
        const QString label = details.label(7);
        QCOMPARE(label, QString::fromUtf8("Name der Datei auf dem Datentr\xC3\xA4ger"));
        QFont bold(QStringLiteral("Tahoma"));
        bold.setPixelSize(16);
        bold.setBold(true);
        const int text = QFontMetrics(bold).horizontalAdvance(label);
        QVERIFY(text > app::CDetailsWnd::kLabelColumnWidth);
        QVERIFY(details.labelColumnWidth() >= text + 2 * app::CDetailsWnd::kLabelPadding);
    }

    void buttonFadesBackAfterThePointerLeaves() {
        app::CSuperButton button(cmd::kPlay1, QStringLiteral("Play"));
        button.resize(100, 30);
        QCOMPARE(button.opacity(), 150);
        QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
        QApplication::sendEvent(&button, &enter);
        QCOMPARE(button.opacity(), 255);
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(&button, &leave);
        QVERIFY(button.isFading());
        QTRY_VERIFY_WITH_TIMEOUT(!button.isFading(), 2000);
        QCOMPARE(button.opacity(), 150); // 255, 245, ... 155, then 150
    }

    void buttonImagesAreSupersampledWithPremultipliedCoverage() {
        const QImage image = app::CSuperButton::render(QSize(100, 30), app::CSuperButton::kNormalColours);
        QCOMPARE(image.format(), QImage::Format_ARGB32_Premultiplied);
        QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
        QCOMPARE(image.pixel(0, 0), QRgb(0));
        QCOMPARE(image.pixel(50, 0), qRgba(10, 59, 151, 255)); // the rim, fully covered
        QCOMPARE(qAlpha(image.pixel(50, 15)), 255);
        QCOMPARE(image.pixel(50, 1), qRgba(111, 155, 228, 255)); // the ring
        int partial = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QRgb p = image.pixel(x, y);
                const int alpha = qAlpha(p);
                QVERIFY(qRed(p) <= alpha && qGreen(p) <= alpha && qBlue(p) <= alpha);
                QCOMPARE(alpha, qAlpha(image.pixel(image.width() - 1 - x, y))); // symmetric
                const int samples = (alpha * 64 + 254) / 255;
                QCOMPARE(alpha, 255 * samples / 64); // a whole number of the 64 samples
                partial += alpha > 0 && alpha < 255 ? 1 : 0;
            }
        }
        QVERIFY(partial > 20); // the curved corners are smoothed
        // The corner pixel (2, 2) of a 10-pixel radius lies across the curve.
        QVERIFY(qAlpha(image.pixel(2, 2)) > 0 && qAlpha(image.pixel(2, 2)) < 255);
        const QImage pressed = app::CSuperButton::render(QSize(100, 30), app::CSuperButton::kPressedColours);
        QCOMPARE(pressed.pixel(50, 0), qRgba(151, 59, 10, 255));
    }
};

int main(int argc, char** argv) {
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus"); // Browse falls back to the folder
    QApplication application(argc, argv);
    ResultsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "ResultsTest.moc"
