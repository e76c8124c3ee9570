// The Folders page on real folders in a temporary home: ticking through clicks and keys, the hint,
// the file list with its views, menus and trash, and the tag editor's deferred loading.

#include "AppFixture.h"

#include "app/common/CommandIds.h"
#include "app/common/FileJournal.h"
#include "app/folders/CCheckedTreeCtrl.h"
#include "app/folders/CFileList.h"
#include "app/folders/CFoldersView.h"
#include "app/tags/CTagEditWnd.h"
#include "shell/Preferences.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTest>
#include <QUrl>

#include <fstream>

using namespace tonemirror;
using namespace tonemirror::testing;
namespace cmd = tonemirror::app::cmd;
using Tree = app::CCheckedTreeCtrl;

namespace {

bool touch(const QString& file, const QByteArray& content = "x") {
    QFile out(file);
    return out.open(QIODevice::WriteOnly) && out.write(content) == content.size();
}

QStringList texts(const std::vector<std::u16string>& paths) {
    QStringList list;
    for (const std::u16string& path : paths) {
        list << app::toQString(path);
    }
    return list;
}

} // namespace

class FoldersTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir home_;
    QString music_;

    QString at(const QString& relative) const { return music_ + QLatin1Char('/') + relative; }

    // The page's tree item for a folder, its parents filled and expanded on the way.
    static QTreeWidgetItem* reveal(app::CFoldersView& page, const QString& folder) {
        Tree* tree = page.tree();
        QString path = folder;
        QStringList chain;
        while (tree->findLoaded(app::toU16(path)) == nullptr && path.lastIndexOf(QLatin1Char('/')) > 0) {
            chain.prepend(path);
            path = path.left(path.lastIndexOf(QLatin1Char('/')));
        }
        for (const QString& step : chain) {
            QTreeWidgetItem* parent =
                tree->findLoaded(app::toU16(step.left(step.lastIndexOf(QLatin1Char('/')))));
            if (parent == nullptr) {
                return nullptr;
            }
            tree->fillChildren(parent);
            parent->setExpanded(true);
        }
        return tree->findLoaded(app::toU16(folder));
    }

    int imageOf(app::CFoldersView& page, const QString& folder) { return Tree::image(reveal(page, folder)); }

    static void clickImage(app::CFoldersView& page, QTreeWidgetItem* item) {
        page.tree()->scrollToItem(item);
        QTest::mouseClick(page.tree()->viewport(), Qt::LeftButton, {}, page.tree()->checkRect(item).center());
    }

    void clickImage(app::CFoldersView& page, const QString& folder) {
        clickImage(page, reveal(page, folder));
    }

    std::unique_ptr<app::CFoldersView> makePage(AppFixture& fixture) {
        auto page = std::make_unique<app::CFoldersView>(fixture.context());
        page->resize(1000, 600);
        page->show();
        page->setInitialPaneSizes();
        if (!QTest::qWaitForWindowExposed(page.get())) { // mouse events reach only a shown window
            qWarning("the page was not exposed");
        }
        return page;
    }

private slots:
    void initTestCase() {
        qputenv("HOME", QFile::encodeName(home_.path()));
        qputenv("XDG_DATA_HOME", QFile::encodeName(home_.path() + QStringLiteral("/.local/share")));
        music_ = home_.path() + QStringLiteral("/Music");
        for (const char* folder : {"Jazz", "Pop", "Rock/Live", "Solo/Only"}) {
            QVERIFY(QDir(music_).mkpath(QLatin1String(folder)));
        }
        QVERIFY(QDir(home_.path()).mkpath(QStringLiteral("Documents")));
        QVERIFY(QDir(home_.path()).mkpath(QStringLiteral(".local/share")));
    }

    void topLevelIsHomeThenRootAndTheHomeIsExpanded() {
        AppFixture fixture;
        auto page = makePage(fixture);
        Tree* tree = page->tree();
        QVERIFY(tree->topLevelItemCount() >= 2);
        QCOMPARE(app::toQString(Tree::path(tree->topLevelItem(0))), home_.path());
        QCOMPARE(app::toQString(Tree::path(tree->topLevelItem(1))), QStringLiteral("/"));
        QVERIFY(tree->topLevelItem(0)->isExpanded());
        QCOMPARE(tree->currentItem(), tree->topLevelItem(0));
        QStringList children; // hidden folders stay out; names in collation order
        for (int i = 0; i < tree->topLevelItem(0)->childCount(); ++i) {
            children << tree->topLevelItem(0)->child(i)->text(0);
        }
        QCOMPARE(children, (QStringList{QStringLiteral("Documents"), QStringLiteral("Music")}));
        QTreeWidgetItem* jazz = reveal(*page, at(QStringLiteral("Jazz")));
        QVERIFY(jazz != nullptr);
        tree->fillChildren(jazz);
        QCOMPARE(jazz->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicator);
        QCOMPARE(reveal(*page, at(QStringLiteral("Rock")))->childIndicatorPolicy(),
                 QTreeWidgetItem::ShowIndicator);
    }

    void tickingAndUntickingThroughTheImage() {
        AppFixture fixture;
        auto page = makePage(fixture);
        clickImage(*page, music_);
        QCOMPARE(texts(page->tickedFolders()), QStringList{music_});
        QCOMPARE(imageOf(*page, music_), int(Tree::kTicked));
        QCOMPARE(imageOf(*page, at(QStringLiteral("Rock/Live"))), int(Tree::kTicked));
        QCOMPARE(imageOf(*page, home_.path()), int(Tree::kPartial));
        QCOMPARE(Tree::image(page->tree()->topLevelItem(1)), int(Tree::kPartial)); // "/" holds the home too

        clickImage(*page, at(QStringLiteral("Rock")));
        QStringList ticked = texts(page->tickedFolders());
        ticked.sort();
        QCOMPARE(ticked, (QStringList{at(QStringLiteral("Jazz")), at(QStringLiteral("Pop")),
                                      at(QStringLiteral("Solo"))}));
        QCOMPARE(imageOf(*page, music_), int(Tree::kPartial));
        QCOMPARE(imageOf(*page, at(QStringLiteral("Rock"))), int(Tree::kUnticked));
        QCOMPARE(imageOf(*page, at(QStringLiteral("Rock/Live"))), int(Tree::kUnticked));
        QCOMPARE(imageOf(*page, at(QStringLiteral("Jazz"))), int(Tree::kTicked));
        QVERIFY(page->hintText().contains(at(QStringLiteral("Jazz"))));
    }

    void tickingTheOnlySubfolderTicksItsParent() {
        AppFixture fixture;
        auto page = makePage(fixture);
        clickImage(*page, at(QStringLiteral("Solo/Only")));
        QCOMPARE(texts(page->tickedFolders()), QStringList{at(QStringLiteral("Solo"))});
        QCOMPARE(imageOf(*page, at(QStringLiteral("Solo"))), int(Tree::kTicked));
        QCOMPARE(imageOf(*page, music_), int(Tree::kPartial));
    }

    void spaceTicksTheCurrentItemAndAClickBesideTheImageDoesNot() {
        AppFixture fixture;
        auto page = makePage(fixture);
        QTreeWidgetItem* pop = reveal(*page, at(QStringLiteral("Pop")));
        const QPoint name = page->tree()->checkRect(pop).center() + QPoint(40, 0);
        QTest::mouseClick(page->tree()->viewport(), Qt::LeftButton, {}, name);
        QVERIFY(page->tickedFolders().empty());
        QCOMPARE(page->tree()->currentItem(), pop);
        QTest::keyClick(page->tree(), Qt::Key_Space);
        QCOMPARE(texts(page->tickedFolders()), QStringList{at(QStringLiteral("Pop"))});
        QTest::keyClick(page->tree(), Qt::Key_Space);
        QVERIFY(page->tickedFolders().empty());
        QCOMPARE(Tree::image(pop), int(Tree::kUnticked));
    }

    void storedFoldersLoadAsTheInnermostAndFeedTheHint() {
        AppFixture fixture;
        auto page = makePage(fixture);
        QCOMPARE(page->hintText(), QStringLiteral("Please, select folders with music and start scanning"));
        page->setTickedFolders({app::toU16(music_), app::toU16(at(QStringLiteral("Rock"))),
                                app::toU16(at(QStringLiteral("Rock")))});
        QCOMPARE(texts(page->tickedFolders()), QStringList{at(QStringLiteral("Rock"))});
        QCOMPARE(imageOf(*page, music_), int(Tree::kPartial));
        QCOMPARE(imageOf(*page, at(QStringLiteral("Rock/Live"))), int(Tree::kTicked));

        std::vector<std::u16string> six;
        QStringList shown;
        for (int i = 1; i <= 6; ++i) {
            six.push_back(app::toU16(QStringLiteral("/data/f%1").arg(i)));
            if (i <= 5) {
                shown << QStringLiteral("/data/f%1").arg(i);
            }
        }
        page->setTickedFolders(six);
        QCOMPARE(page->hintText(), shown.join(QStringLiteral(", ")) + QStringLiteral(", ..."));
    }

    void fileListShowsTheFolderInEveryViewMode() {
        const QString folder = home_.path() + QStringLiteral("/Listing");
        QVERIFY(QDir(folder).mkpath(QStringLiteral("b sub")));
        QVERIFY(touch(folder + QStringLiteral("/track10.mp3"), QByteArray(2048, 'x')));
        QVERIFY(touch(folder + QStringLiteral("/track9.mp3")));
        QVERIFY(touch(folder + QStringLiteral("/.hidden")));
        AppFixture fixture;
        auto page = makePage(fixture);
        page->tree()->setCurrentItem(reveal(*page, folder));
        app::CFileList* list = page->fileList();
        QCOMPARE(list->rowCount(), 3);
        QCOMPARE(list->name(0), QStringLiteral("b sub")); // folders first, then numbers in order
        QCOMPARE(list->name(1), QStringLiteral("track9.mp3"));
        QCOMPARE(list->name(2), QStringLiteral("track10.mp3"));
        const QStandardItemModel* model = list->model();
        QCOMPARE(model->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Name"));
        QCOMPARE(model->headerData(3, Qt::Horizontal).toString(), QStringLiteral("Modified"));
        QVERIFY(!model->item(2, 1)->text().isEmpty());
        QVERIFY(!model->item(2, 3)->text().isEmpty());
        QCOMPARE(list->detailsView()->columnWidth(0), 300);
        QCOMPARE(list->viewMode(), app::FileViewMode::Details);
        QAbstractItemView* details = list->currentView();
        page->setViewMode(app::FileViewMode::MediumIcons);
        QVERIFY(list->currentView() != details && list->currentView()->isVisible());
        QCOMPARE(list->currentView()->iconSize(), QSize(48, 48));
        page->setViewMode(app::FileViewMode::Details);
        QCOMPARE(list->currentView(), details);

        QList<QUrl> opened;
        page->openFile = [&](const QUrl& url) {
            opened << url;
            return true;
        };
        emit list->rowDoubleClicked(2);
        QCOMPARE(opened, QList<QUrl>{QUrl::fromLocalFile(folder + QStringLiteral("/track10.mp3"))});
        emit list->rowDoubleClicked(0); // a subfolder opens in the tree
        QCOMPARE(app::toQString(Tree::path(page->tree()->currentItem())), folder + QStringLiteral("/b sub"));
        QCOMPARE(list->rowCount(), 0);
        QCOMPARE(opened.size(), 1);
    }

    void refreshShowsWhatChangedOnDiskAndKeepsTheSelection() {
        const QString folder = home_.path() + QStringLiteral("/Refresh");
        QVERIFY(QDir(folder).mkpath(QStringLiteral("old")));
        QVERIFY(touch(folder + QStringLiteral("/a.mp3")));
        AppFixture fixture;
        auto page = makePage(fixture);
        QTreeWidgetItem* item = reveal(*page, folder);
        page->tree()->setCurrentItem(item);
        item->setExpanded(true);
        app::CFileList* list = page->fileList();
        list->selectRows({list->rowOf(app::toU16(folder + QStringLiteral("/a.mp3")))});
        QVERIFY(QDir(folder).mkpath(QStringLiteral("new")));
        QVERIFY(QDir(folder).rmdir(QStringLiteral("old")));
        QVERIFY(touch(folder + QStringLiteral("/b.mp3")));
        page->refresh();
        QStringList children;
        for (int i = 0; i < item->childCount(); ++i) {
            children << item->child(i)->text(0);
        }
        QCOMPARE(children, QStringList{QStringLiteral("new")});
        QCOMPARE(list->rowCount(), 3);
        QCOMPARE(list->selectedRows(),
                 std::vector<int>{list->rowOf(app::toU16(folder + QStringLiteral("/a.mp3")))});

        // Left alone, the page notices a change in a folder it shows.
        QVERIFY(QDir(folder).mkpath(QStringLiteral("later")));
        QTRY_COMPARE_WITH_TIMEOUT(item->childCount(), 2, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(list->rowCount(), 4, 10000);
    }

    void aNameThatIsNotUtf8OpensThatVeryFile() {
        const QString folder = home_.path() + QStringLiteral("/Latin");
        QVERIFY(QDir().mkpath(folder));
        const std::string native = QFile::encodeName(folder).toStdString() + "/caf\xE9.mp3";
        { std::ofstream(native) << "x"; }
        AppFixture fixture;
        auto page = makePage(fixture);
        page->tree()->setCurrentItem(reveal(*page, folder));
        app::CFileList* list = page->fileList();
        QCOMPARE(list->rowCount(), 1);
        QCOMPARE(list->name(0), QStringLiteral("caf\\xE9.mp3")); // no replacement mark
        QList<QUrl> opened;
        page->openFile = [&](const QUrl& url) {
            opened << url;
            return true;
        };
        emit list->rowDoubleClicked(0);
        QCOMPARE(opened.size(), 1);
        QCOMPARE(opened[0].toEncoded(QUrl::FullyEncoded).right(10), QByteArray("caf%E9.mp3"));
    }

    void contextMenusFollowTheSelection() {
        const QString folder = home_.path() + QStringLiteral("/Menus");
        QVERIFY(QDir(folder).mkpath(QStringLiteral("sub")));
        QVERIFY(touch(folder + QStringLiteral("/a.mp3")));
        AppFixture fixture;
        auto frame = fixture.makeFrame();
        QVERIFY(frame->create());
        app::CFoldersView* page = frame->foldersView();
        page->tree()->setCurrentItem(reveal(*page, folder));
        page->fileList()->selectRows({0});
        QCOMPARE(page->contextMenu(true), nullptr); // a folder alone
        page->fileList()->selectRows({0, 1});
        std::unique_ptr<QMenu> files(page->contextMenu(true));
        QVERIFY(files != nullptr);
        QList<int> ids;
        for (const QAction* action : files->actions()) {
            ids << (action->isSeparator() ? 0 : action->data().toInt());
        }
        QCOMPARE(ids, (QList<int>{cmd::kFilenameToTags, cmd::kTagsToFilename, 0, cmd::kFolderDelete}));
        page->setViewMode(app::FileViewMode::List);
        std::unique_ptr<QMenu> empty(page->contextMenu(false));
        QCOMPARE(empty->actions().size(), 1);
        const QMenu* view = empty->actions().front()->menu();
        QCOMPARE(empty->actions().front()->text(), QStringLiteral("View"));
        QCOMPARE(view->actions().size(), 4);
        for (const QAction* action : view->actions()) {
            QCOMPARE(action->isChecked(), action->data().toInt() == cmd::kViewList);
        }
    }

    // "Use as reference" marks a folder and what lies below it, is kept in the settings for the next
    // start, and a folder inside one cannot be unmarked on its own.
    void referenceFoldersAreChosenStoredAndShown() {
        AppFixture fixture;
        auto page = makePage(fixture);
        QTreeWidgetItem* rock = reveal(*page, at(QStringLiteral("Rock")));
        QTreeWidgetItem* live = reveal(*page, at(QStringLiteral("Rock/Live")));
        QVERIFY(rock != nullptr && live != nullptr);
        QVERIFY(!Tree::hasReferenceLook(rock));
        std::unique_ptr<QMenu> menu(page->folderMenu(rock));
        QVERIFY(menu != nullptr);
        QAction* use = menu->actions().value(0);
        QVERIFY(use != nullptr && use->isCheckable() && !use->isChecked());
        QCOMPARE(use->text(), QStringLiteral("Use as reference"));
        use->trigger();
        QVERIFY(Tree::hasReferenceLook(rock) && Tree::hasReferenceLook(live));
        QVERIFY(!Tree::hasReferenceLook(reveal(*page, at(QStringLiteral("Pop")))));
        QCOMPARE(shell::readReferenceFolders(fixture.settings()),
                 std::vector<std::u16string>{app::toU16(at("Rock"))});

        std::unique_ptr<QMenu> inner(page->folderMenu(live));
        QVERIFY(inner->actions().value(0)->isChecked() && !inner->actions().value(0)->isEnabled());
        QVERIFY(page->folderMenu(nullptr) == nullptr);

        // The next start shows it again, also in folders listed only then.
        auto again = makePage(fixture);
        QVERIFY(Tree::hasReferenceLook(reveal(*again, at(QStringLiteral("Rock/Live")))));
        std::unique_ptr<QMenu> second(again->folderMenu(reveal(*again, at(QStringLiteral("Rock")))));
        second->actions().value(0)->trigger(); // unmarked
        QVERIFY(!Tree::hasReferenceLook(reveal(*again, at(QStringLiteral("Rock/Live")))));
        QVERIFY(shell::readReferenceFolders(fixture.settings()).empty());
    }

    void deleteMovesTheSelectionToTheTrashAfterOneQuestion() {
        const QString folder = home_.path() + QStringLiteral("/Trash test");
        QVERIFY(QDir(folder).mkpath(QStringLiteral("album")));
        for (const char* name : {"keep.mp3", "gone.mp3", "vanished.mp3"}) {
            QVERIFY(touch(folder + QLatin1Char('/') + QLatin1String(name)));
        }
        AppFixture fixture;
        auto page = makePage(fixture);
        page->tree()->setCurrentItem(reveal(*page, folder));
        app::CFileList* list = page->fileList();
        const std::vector<int> chosen{list->rowOf(app::toU16(folder + QStringLiteral("/album"))),
                                      list->rowOf(app::toU16(folder + QStringLiteral("/gone.mp3"))),
                                      list->rowOf(app::toU16(folder + QStringLiteral("/vanished.mp3")))};
        list->selectRows(chosen);
        fixture.prompts.answer = false;
        page->runCommand(cmd::kFolderDelete);
        QCOMPARE(fixture.prompts.shown.size(), 1);
        QCOMPARE(fixture.prompts.confirmedFiles.size(), 1); // the question names the files
        QCOMPARE(fixture.prompts.confirmedFiles.last(),
                 (QStringList{folder + QStringLiteral("/album"), folder + QStringLiteral("/gone.mp3"),
                              folder + QStringLiteral("/vanished.mp3")}));
        QCOMPARE(list->rowCount(), 4);
        QVERIFY(QFile::exists(folder + QStringLiteral("/gone.mp3")));

        fixture.prompts.answer = true;
        QVERIFY(QFile::remove(folder + QStringLiteral("/vanished.mp3"))); // behind the list's back
        page->runCommand(cmd::kFolderDelete);
        QCOMPARE(fixture.prompts.shown.size(), 3); // the question, then the one failure named
        QVERIFY(fixture.prompts.shown.at(1).contains(QStringLiteral("Move these 3 items to the trash?")));
        QVERIFY(fixture.prompts.shown.at(2).startsWith(QStringLiteral("Warning|1 of 3 items")));
        QVERIFY(fixture.prompts.shown.at(2).contains(QStringLiteral("vanished.mp3")));
        QVERIFY(!QFile::exists(folder + QStringLiteral("/gone.mp3")));
        QVERIFY(!QFile::exists(folder + QStringLiteral("/album")));
        const QDir trash(home_.path() + QStringLiteral("/.local/share/Trash/files"));
        QVERIFY(trash.exists(QStringLiteral("gone.mp3")));
        QVERIFY(trash.exists(QStringLiteral("album")));
        QCOMPARE(list->rowCount(), 1); // read again
        QCOMPARE(list->name(0), QStringLiteral("keep.mp3"));

        // The batch went through the journal: Undo brings the folder and the file back.
        QVERIFY(app::undoLastFiles(fixture.context(), page.get()));
        QVERIFY(QFile::exists(folder + QStringLiteral("/gone.mp3")));
        QVERIFY(QFileInfo(folder + QStringLiteral("/album")).isDir());
        QVERIFY2(fixture.prompts.shown.last().contains(QStringLiteral("2 items were put back")),
                 qPrintable(fixture.prompts.shown.last()));
    }

    // A trash that cannot be used must not turn a delete into a move somewhere else.
    void anUnusableTrashLeavesTheItemWhereItIs() {
        const QString folder = home_.path() + QStringLiteral("/No trash");
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(touch(folder + QStringLiteral("/stays.mp3")));
        const QString trashPath = home_.path() + QStringLiteral("/.local/share/Trash");
        QDir(trashPath).removeRecursively();
        QVERIFY(QDir().mkpath(home_.path() + QStringLiteral("/.local/share")));
        QVERIFY(touch(trashPath)); // a file where the trash folder belongs
        AppFixture fixture;
        auto page = makePage(fixture);
        page->tree()->setCurrentItem(reveal(*page, folder));
        app::CFileList* list = page->fileList();
        list->selectRows({list->rowOf(app::toU16(folder + QStringLiteral("/stays.mp3")))});
        fixture.prompts.answer = true;
        page->runCommand(cmd::kFolderDelete);
        QFile::remove(trashPath);
        QVERIFY(QFile::exists(folder + QStringLiteral("/stays.mp3")));
        QVERIFY(!QDir(QStringLiteral("files")).exists()); // nothing left in the working folder
        QVERIFY2(fixture.prompts.shown.last().contains(
                     QStringLiteral("stays.mp3: the trash folder cannot be used")),
                 qPrintable(fixture.prompts.shown.last()));
    }

    void tagEditorReloadsOncePerPaintWithTheLastSelection() {
        const QString folder = home_.path() + QStringLiteral("/Songs");
        QVERIFY(QDir().mkpath(folder));
        for (int i = 0; i < 3; ++i) {
            QVERIFY(makeTone(folder + QStringLiteral("/s%1.mp3").arg(i), 440 + 100 * i, 44100, 1, 0.5,
                             {QStringLiteral("-metadata"), QStringLiteral("title=Song %1").arg(i)}));
        }
        AppFixture fixture;
        auto page = makePage(fixture);
        page->tree()->setCurrentItem(reveal(*page, folder));
        QSignalSpy loads(page->tagEditor(), &app::CTagEditWnd::loaded);
        app::CFileList* list = page->fileList();
        list->selectRows({0});
        list->selectRows({1});
        list->selectRows({2});
        QTRY_COMPARE(loads.size(), 1);
        QTest::qWait(50);
        QCOMPARE(loads.size(), 1);
        QCOMPARE(texts(page->tagEditor()->loadedFiles()), QStringList{folder + QStringLiteral("/s2.mp3")});
        QVERIFY(page->tagEditorShown());
        QCOMPARE(page->tagEditor()->box(0)->currentText(), QStringLiteral("Song 2"));

        page->tree()->setCurrentItem(reveal(*page, music_)); // the listed files go: the editor empties
        QVERIFY(!page->tagEditorShown());
        QVERIFY(page->tagEditor()->loadedFiles().empty());
    }
};

QTEST_MAIN(FoldersTest)
#include "FoldersTest.moc"
