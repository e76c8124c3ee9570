// The Results page's groups view on real files: the kept file first with its reason and the
// quality of every copy, marks shared with the pairs list, the keys, "Mark all but the best" and a
// delete that never takes the last copy of a group.

#include "AppFixture.h"

#include "app/common/CommandIds.h"
#include "app/common/FileJournal.h"
#include "app/frame/CMainFrame.h"
#include "app/results/CGroupsView.h"
#include "app/results/CResultsPage.h"
#include "app/results/GroupsModel.h"
#include "app/results/GroupsWorkflow.h"
#include "app/results/ResultsModel.h"
#include "shell/Preferences.h"
#include "shell/QuotedList.h"
#include "shell/SettingNames.h"
#include "shell/SettingsStore.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>

#include <filesystem>

using namespace tonemirror;
using namespace tonemirror::testing;
using app::GroupsModel;
namespace cmd = tonemirror::app::cmd;

namespace {

engine::DuplicatePair pair(const QString& path1, const QString& path2, float content = 80.0f) {
    engine::DuplicatePair p;
    p.path1 = app::toU16(path1);
    p.path2 = app::toU16(path2);
    p.contentPercent = content;
    return p;
}

class UrlRecorder : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};

} // namespace

class GroupsTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir data_; // XDG_DATA_HOME: the trash of these tests
    QTemporaryDir files_;
    UrlRecorder urls_;
    QString flac_, low_, high_; // in the library folder, made once

    QString file(const QString& name) const { return files_.filePath(name); }

    std::unique_ptr<app::CResultsPage> makePage(AppFixture& fixture) {
        auto page = std::make_unique<app::CResultsPage>(fixture.context());
        page->resize(1000, 600);
        return page;
    }

    static QString cell(const GroupsModel& model, const QModelIndex& parent, int row, int column,
                        int role = Qt::DisplayRole) {
        return model.index(row, column, parent).data(role).toString();
    }
    static QByteArray bytesOf(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    static bool sameFile(const QString& a, const QString& b) {
        std::error_code error;
        return std::filesystem::equivalent(a.toStdString(), b.toStdString(), error);
    }
    static bool marked(const QModelIndex& index) {
        return index.siblingAtColumn(GroupsModel::kFile).data(Qt::CheckStateRole).toInt() == Qt::Checked;
    }

    // The same 440 Hz tone three times in a folder: as FLAC, as MP3 at 128 and at 320 kbit/s.
    static bool makeCopies(const QString& folder) {
        QDir().mkpath(folder);
        return makeTone(folder + QStringLiteral("/best.flac"), 440, 44100, 2, 5.0) &&
               makeTone(folder + QStringLiteral("/low.mp3"), 440, 44100, 2, 5.0,
                        {QStringLiteral("-b:a"), QStringLiteral("128k")}) &&
               makeTone(folder + QStringLiteral("/high.mp3"), 440, 44100, 2, 5.0,
                        {QStringLiteral("-b:a"), QStringLiteral("320k")});
    }

private slots:
    void initTestCase() {
        qputenv("XDG_DATA_HOME", data_.path().toUtf8());
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &urls_, "open");
        const QString library = file(QStringLiteral("library"));
        QVERIFY(makeCopies(library));
        flac_ = library + QStringLiteral("/best.flac");
        low_ = library + QStringLiteral("/low.mp3");
        high_ = library + QStringLiteral("/high.mp3");
    }

    void cleanupTestCase() { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }

    // A chain: the FLAC pairs with both MP3s, a fourth file only with the 128 kbit/s one.
    void theKeptFileComesFirstInBoldWithItsReasonAndEveryCopysQuality() {
        AppFixture fixture;
        auto page = makePage(fixture);
        const QString cousin = file(QStringLiteral("cousin.mp3"));
        page->addPairs({pair(low_, flac_, 91.5f), pair(high_, flac_, 88.0f), pair(cousin, low_, 70.0f)});
        page->showGroups(true);
        QVERIFY(page->groupsShown());
        const GroupsModel& model = *page->groupsModel();
        QCOMPARE(model.rowCount(), 1);
        const QModelIndex group = model.index(0, GroupsModel::kFile);
        QCOMPARE(group.data().toString(), flac_);
        QVERIFY(group.data(Qt::FontRole).value<QFont>().bold());
        QCOMPARE(cell(model, {}, 0, GroupsModel::kMatch), QStringLiteral("kept: lossless"));
        QCOMPARE(cell(model, {}, 0, GroupsModel::kFormat), QStringLiteral("flac, lossless"));
        QCOMPARE(cell(model, {}, 0, GroupsModel::kSampleRate), QStringLiteral("44100 Hz"));
        QCOMPARE(cell(model, {}, 0, GroupsModel::kChannels), QStringLiteral("2"));
        QCOMPARE(cell(model, {}, 0, GroupsModel::kDuration), QStringLiteral("0:05"));
        QCOMPARE(model.rowCount(group), 3);
        QStringList members, matches;
        for (int row = 0; row < 3; ++row) {
            members << cell(model, group, row, GroupsModel::kFile);
            matches << cell(model, group, row, GroupsModel::kMatch);
            QVERIFY(!model.index(row, GroupsModel::kFile, group).data(Qt::FontRole).value<QFont>().bold());
        }
        QCOMPARE(members, (QStringList{low_, high_, cousin}));
        QCOMPARE(matches, (QStringList{"91.5% content", "88.0% content", "no pair with the kept file"}));
        QCOMPARE(cell(model, group, 0, GroupsModel::kFormat), QStringLiteral("mp3, lossy"));
        // As the header says, tags and all.
        QVERIFY(QRegularExpression(QStringLiteral("^12[89] kbit/s$"))
                    .match(cell(model, group, 0, GroupsModel::kBitRate))
                    .hasMatch());
        QVERIFY(QRegularExpression(QStringLiteral("^32[0-2] kbit/s$"))
                    .match(cell(model, group, 1, GroupsModel::kBitRate))
                    .hasMatch());
        QCOMPARE(cell(model, group, 2, GroupsModel::kFormat), QStringLiteral("unreadable")); // not there
        QCOMPARE(model.parent(model.index(2, 0, group)), group);

        page->addPairs({pair(file(QStringLiteral("x.mp3")), file(QStringLiteral("y.mp3")))});
        QTRY_COMPARE(model.rowCount(), 2); // new rows join once the batch is in
        page->showGroups(false);
        QVERIFY(!page->groupsShown());
    }

    // The frame's View menu switches the page; Pairs is the default, and the two items take turns.
    void theViewMenuSwitchesBetweenPairsAndGroups() {
        AppFixture fixture;
        auto frame = fixture.makeFrame();
        QVERIFY(frame->create());
        app::CResultsPage* page = frame->resultsPage();
        QAction* pairs = frame->action(cmd::kViewPairs);
        QAction* groups = frame->action(cmd::kViewGroups);
        QVERIFY(!page->groupsShown() && pairs->isChecked() && !groups->isChecked());
        page->addPairs({pair(low_, flac_)});
        groups->trigger();
        QVERIFY(page->groupsShown() && !pairs->isChecked() && groups->isChecked());
        QCOMPARE(page->groupsModel()->rowCount(), 1);
        fixture.prompts.answer = false;
        frame->action(cmd::kMarkAllButBest)->trigger();
        QVERIFY2(
            fixture.prompts.shown.last().startsWith(QStringLiteral("Question|Mark 1 file(s) in 1 group(s)?")),
            qPrintable(fixture.prompts.shown.last()));
        pairs->trigger();
        QVERIFY(!page->groupsShown() && pairs->isChecked() && !groups->isChecked());
    }

    // One store of marks: a file marked in the groups view is marked in every row holding it; the
    // pairs list still marks each row's file on its own, and the groups view shows the file marked
    // while any of them is.
    void marksAreSharedWithThePairsList() {
        AppFixture fixture;
        auto page = makePage(fixture);
        page->addPairs({pair(low_, flac_), pair(high_, flac_), pair(high_, low_)});
        page->showGroups(true);
        GroupsModel& model = *page->groupsModel();
        const QModelIndex kept = model.index(0, GroupsModel::kFile);
        QVERIFY(model.setData(kept, Qt::Checked, Qt::CheckStateRole));
        const auto& rows = page->rows();
        QVERIFY(rows[0].marked2 && rows[1].marked2 && !rows[2].marked1 && !rows[2].marked2);

        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        page->model()->setMarked(0, 2, false); // the FLAC stays marked in the second row
        QVERIFY(marked(kept));
        page->model()->setMarked(1, 2, false);
        QVERIFY(!marked(kept));
        QCOMPARE(changed.size(), 2);
        page->model()->setMarked(2, 1, true); // the 320 kbit/s copy, in the pairs list
        const QModelIndex high = model.index(1, GroupsModel::kFile, kept);
        QCOMPARE(high.data().toString(), high_);
        QVERIFY(marked(high));
        QVERIFY(!rows[1].marked1); // the same file in another row is still marked on its own
    }

    void spaceMarksEnterPlaysDeleteTrashesTheMarkedFiles() {
        AppFixture fixture;
        auto page = makePage(fixture);
        const QString folder = file(QStringLiteral("keys"));
        QVERIFY(makeCopies(folder)); // one of them goes to the trash
        const QString flac = folder + QStringLiteral("/best.flac"), low = folder + QStringLiteral("/low.mp3");
        page->addPairs({pair(low, flac), pair(folder + QStringLiteral("/high.mp3"), flac)});
        page->show();
        page->showGroups(true);
        QVERIFY(QTest::qWaitForWindowExposed(page.get()));
        app::CGroupsView* view = page->groupsView();
        GroupsModel& model = *page->groupsModel();
        const QModelIndex kept = model.index(0, GroupsModel::kFile);
        view->setFocus();
        view->setCurrentIndex(model.index(0, GroupsModel::kFormat, kept)); // the 128 kbit/s copy
        QTest::keyClick(view, Qt::Key_Space);
        QVERIFY(marked(view->currentIndex()));
        QTest::keyClick(view, Qt::Key_Space);
        QVERIFY(!marked(view->currentIndex()));
        QTest::keyClick(view, Qt::Key_Space);
        QTest::keyClick(view, Qt::Key_Return);
        QCOMPARE(urls_.opened.size(), 1);
        QCOMPARE(urls_.opened.last().toLocalFile(), low);

        fixture.prompts.answer = true;
        QTest::keyClick(view, Qt::Key_Delete);
        QCOMPARE(fixture.prompts.confirmedFiles.size(), 1);
        QCOMPARE(fixture.prompts.confirmedFiles.last(), QStringList{low});
        QVERIFY(!QFile::exists(low) && QFile::exists(flac));
        QCOMPARE(page->rowCount(), 1); // the row holding it went
        QTRY_COMPARE(model.rowCount(model.index(0, 0)), 1);
    }

    // "Mark all but the best" asks first how many files in how many groups, replaces the marks made
    // before, never marks a group's best copy, a file only chained to it, or a reference folder's file.
    void markAllButTheBestAsksFirstAndKeepsOneCopyOfEachGroup() {
        AppFixture fixture;
        auto page = makePage(fixture);
        const QString reference = file(QStringLiteral("masters"));
        QVERIFY(makeCopies(reference));
        const QString master = reference + QStringLiteral("/high.mp3");
        const QString otherMaster = reference + QStringLiteral("/low.mp3");
        const QString cousin = file(QStringLiteral("cousin.mp3"));
        const QString loose = file(QStringLiteral("loose.mp3"));
        fixture.settings().writeText(shell::settings::kReferenceFolders,
                                     shell::formatQuotedList({app::toU16(reference)}));
        page->addPairs({pair(low_, flac_), pair(cousin, low_),          // a chain from the FLAC
                        pair(high_, master), pair(otherMaster, master), // a reference copy wins
                        pair(loose, otherMaster)});
        // The two groups: {FLAC, low, cousin} and {high, master, otherMaster, loose}.
        page->model()->setFileMarked(app::toU16(flac_), true); // marked by hand before

        fixture.prompts.answer = false;
        QVERIFY(!page->markAllButBest());
        QCOMPARE(fixture.prompts.shown.last(),
                 QStringLiteral("Question|Mark 2 file(s) in 2 group(s)? The best copy of each group stays "
                                "unmarked, and so do files in reference folders; the marks made before are "
                                "cleared."));
        QVERIFY(page->model()->fileMarked(app::toU16(flac_))); // nothing changed on No

        fixture.prompts.answer = true;
        QVERIFY(page->markAllButBest());
        QStringList markedFiles;
        for (const std::u16string& path : page->groupsModel()->markedFiles()) {
            markedFiles << app::toQString(path);
        }
        QCOMPARE(markedFiles, (QStringList{low_, high_}));
        page->showGroups(true);
        const GroupsModel& model = *page->groupsModel();
        for (int group = 0; group < model.rowCount(); ++group) {
            QVERIFY(!marked(model.index(group, 0))); // the kept file of every group
        }
        // The master beat the other reference copy by its bit rate, the library's copy by its folder.
        QCOMPARE(cell(model, {}, 1, GroupsModel::kFile), master);
        QCOMPARE(cell(model, {}, 1, GroupsModel::kMatch), QStringLiteral("kept: higher bit rate"));
    }

    // A group whose every file is marked keeps its best one; a marked file that ranks above the copy
    // that would stay is named before anything goes.
    void deleteNeverTakesTheLastCopyAndNamesBetterMarkedFiles() {
        AppFixture fixture;
        auto page = makePage(fixture);
        page->addPairs({pair(low_, flac_), pair(high_, flac_)});
        page->showGroups(true);
        for (const QString& path : {flac_, low_, high_}) {
            page->model()->setFileMarked(app::toU16(path), true);
        }
        fixture.prompts.answer = false;
        page->deleteMarkedFiles();
        QCOMPARE(fixture.prompts.confirmedFiles.last(), (QStringList{low_, high_}));
        QVERIFY2(fixture.prompts.shown.last().endsWith(
                     QStringLiteral("1 marked file(s) stay: each is the last copy of its group.")),
                 qPrintable(fixture.prompts.shown.last()));

        page->model()->setFileMarked(app::toU16(low_), false); // the FLAC would go, the 128 kbit/s stay
        page->deleteMarkedFiles();
        QCOMPARE(fixture.prompts.confirmedFiles.last(), (QStringList{flac_, high_}));
        const QString question = fixture.prompts.shown.last();
        QVERIFY2(question.contains(QStringLiteral("Warning: these marked files rank above the copy that "
                                                  "stays in their group:\n") +
                                   flac_ + QStringLiteral(" ranks above the copy that stays, ") + low_ +
                                   QStringLiteral(" (lossless)")),
                 qPrintable(question));
        QVERIFY(question.contains(high_ + QStringLiteral(" ranks above the copy that stays, ") + low_ +
                                  QStringLiteral(" (higher bit rate)")));
        QVERIFY(QFile::exists(flac_) && QFile::exists(high_)); // the answer was No
    }

    // Move keeps the path below the scanned folder, Link replaces the file with a link to the copy
    // that stays; each is one journaled batch that Undo reverses, and a file only chained to the
    // kept copy is never replaced by a link to it.
    void moveAndLinkActOnTheMarkedFilesAndUndoPutsThemBack() {
        AppFixture fixture;
        auto page = makePage(fixture);
        const QString scanned = file(QStringLiteral("actions")), folder = scanned + QStringLiteral("/album");
        QVERIFY(makeCopies(folder));
        QVERIFY(makeTone(folder + QStringLiteral("/cousin.mp3"), 660, 44100, 2, 5.0));
        QVERIFY(shell::writeScanFolders(fixture.settings(), {app::toU16(scanned)}));
        const QString flac = folder + QStringLiteral("/best.flac"), low = folder + QStringLiteral("/low.mp3"),
                      high = folder + QStringLiteral("/high.mp3"),
                      cousin = folder + QStringLiteral("/cousin.mp3");
        const QByteArray lowBytes = bytesOf(low), highBytes = bytesOf(high), cousinBytes = bytesOf(cousin);
        page->addPairs({pair(low, flac), pair(high, flac), pair(cousin, low)});
        page->showGroups(true);
        app::GroupsWorkflow& groups = *page->groupsWorkflow();
        app::ResultsModel& results = *page->model();

        const QString target = file(QStringLiteral("moved"));
        QVERIFY(QDir().mkpath(target));
        fixture.prompts.folder = target;
        results.setFileMarked(app::toU16(low), true);
        groups.moveMarkedFiles();
        QCOMPARE(fixture.prompts.confirmedFiles.last(), QStringList{low});
        const QString moved = target + QStringLiteral("/album/low.mp3");
        QVERIFY(!QFile::exists(low));
        QCOMPARE(bytesOf(moved), lowBytes);
        QCOMPARE(page->rowCount(), 1); // both rows holding it went
        QVERIFY(app::undoLastFiles(fixture.context(), page.get()));
        QVERIFY(!QFile::exists(moved));
        QCOMPARE(bytesOf(low), lowBytes);

        page->addPairs({pair(low, flac), pair(cousin, low)});
        results.setFileMarked(app::toU16(high), true);
        results.setFileMarked(app::toU16(cousin), true);
        groups.linkMarkedFiles();
        QCOMPARE(fixture.prompts.confirmedFiles.last(), QStringList{high}); // the cousin is no copy of it
        QVERIFY(fixture.prompts.shown.last().contains(
            QStringLiteral("1 marked file(s) stay: none was reported")));
        QVERIFY(sameFile(high, flac));
        QCOMPARE(bytesOf(cousin), cousinBytes);
        QVERIFY(!sameFile(cousin, flac));
        QVERIFY(app::undoLastFiles(fixture.context(), page.get()));
        QVERIFY(!sameFile(high, flac));
        QCOMPARE(bytesOf(high), highBytes);
    }
};

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    GroupsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "GroupsTest.moc"
