// The tag editor and the name/tag conversions on real MP3 files made with ffmpeg and written by the
// real tagger plug-in: agreeing fields, commits, recent values, the genre list, both conversions and
// their histories, and the audio left untouched by every write.

#include "AppFixture.h"

#include "app/common/CommandIds.h"
#include "app/common/NameCollator.h"
#include "app/folders/CCheckedTreeCtrl.h"
#include "app/folders/CFileList.h"
#include "app/folders/CFoldersView.h"
#include "app/tags/CConvertDlg.h"
#include "app/tags/CTagEditWnd.h"
#include "audio/TagAccess.h"
#include "plugin-api/PluginApi.h"

#include <QCollator>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

using namespace tonemirror;
using namespace tonemirror::testing;
namespace cmd = tonemirror::app::cmd;
using Direction = tonemirror::app::CConvertDlg::Direction;

namespace {

enum Field { kTitle, kArtist, kAlbum, kComment, kYear, kTrack, kGenre };

struct Tags {
    QString title, artist, album, track;
};

// An MP3 tone with the given tags (an empty value is left out).
bool makeSong(const QString& file, const Tags& tags, int frequency = 440) {
    QStringList args;
    const std::pair<const char*, QString> values[] = {
        {"title", tags.title}, {"artist", tags.artist}, {"album", tags.album}, {"track", tags.track}};
    for (const auto& [name, value] : values) {
        if (!value.isEmpty()) {
            args << QStringLiteral("-metadata") << QLatin1String(name) + QLatin1Char('=') + value;
        }
    }
    return makeTone(file, frequency, 44100, 1, 1.0, args);
}

QString readTag(audio::TagAccess& tags, const QString& file, std::int32_t tag) {
    if (failed(tags.open(app::toU16(file)))) {
        return QStringLiteral("<cannot open>");
    }
    char16_t buffer[1024] = {};
    const bool ok = succeeded(tags.getTag(tag, buffer, 1024));
    tags.close();
    return ok ? QString::fromUtf16(buffer) : QString();
}

// MD5 of the decoded audio: the same before and after a tag write or rename.
QByteArray audioDigest(const QString& file) {
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"),
                 {QStringLiteral("-nostdin"), QStringLiteral("-v"), QStringLiteral("error"),
                  QStringLiteral("-i"), file, QStringLiteral("-map"), QStringLiteral("0:a"),
                  QStringLiteral("-f"), QStringLiteral("md5"), QStringLiteral("-")});
    if (!ffmpeg.waitForFinished(60000) || ffmpeg.exitCode() != 0) {
        return {};
    }
    return ffmpeg.readAllStandardOutput().trimmed();
}

QStringList names(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

} // namespace

class TagsTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir home_;
    int folders_ = 0;

    // A new folder in the temporary home holding the songs.
    QString makeFolder(const QList<std::pair<QString, Tags>>& songs) {
        const QString folder = home_.path() + QStringLiteral("/set%1").arg(++folders_);
        if (!QDir().mkpath(folder)) {
            return {};
        }
        int frequency = 300;
        for (const auto& [name, tags] : songs) {
            if (!makeSong(folder + QLatin1Char('/') + name, tags, frequency += 50)) {
                return {};
            }
        }
        return folder;
    }

    // A page listing the folder with the named files selected.
    static std::unique_ptr<app::CFoldersView> pageOn(AppFixture& fixture, const QString& folder,
                                                     const QStringList& selected) {
        auto page = std::make_unique<app::CFoldersView>(fixture.context());
        page->resize(1000, 600);
        page->show();
        page->tree()->fillChildren(page->tree()->topLevelItem(0));
        page->tree()->setCurrentItem(page->tree()->findLoaded(app::toU16(folder)));
        std::vector<int> rows;
        for (const QString& name : selected) {
            rows.push_back(page->fileList()->rowOf(app::toU16(folder + QLatin1Char('/') + name)));
        }
        page->fileList()->selectRows(rows);
        return page;
    }

    static std::vector<std::u16string> paths(const QString& folder, const QStringList& files) {
        std::vector<std::u16string> list;
        for (const QString& file : files) {
            list.push_back(app::toU16(folder + QLatin1Char('/') + file));
        }
        return list;
    }

private slots:
    void initTestCase() { qputenv("HOME", QFile::encodeName(home_.path())); }

    void fieldsShowOnlyWhatEveryFileAgreesOnAndCommitWritesOnlyChanges() {
        const QString folder =
            makeFolder({{QStringLiteral("a.mp3"),
                         {QStringLiteral("T1"), QStringLiteral("Band"), QStringLiteral("A"), {}}},
                        {QStringLiteral("b.mp3"),
                         {QStringLiteral("T2"), QStringLiteral("Band"), QStringLiteral("A"), {}}},
                        {QStringLiteral("c.mp3"),
                         {QStringLiteral("T3"), QStringLiteral("Band"), QStringLiteral("B"), {}}}});
        QVERIFY(!folder.isEmpty());
        const QStringList files{QStringLiteral("a.mp3"), QStringLiteral("b.mp3"), QStringLiteral("c.mp3")};
        const QByteArray before = audioDigest(folder + QStringLiteral("/c.mp3"));
        AppFixture fixture;
        audio::TagAccess tags(fixture.context().plugins);
        {
            app::CTagEditWnd editor(fixture.context());
            QCOMPARE(editor.loadSelection(paths(folder, files)), 3);
            QCOMPARE(editor.box(kArtist)->currentText(), QStringLiteral("Band"));
            QCOMPARE(editor.box(kAlbum)->currentText(), QStringLiteral("<unchanged>"));
            QCOMPARE(editor.box(kTitle)->currentText(), QStringLiteral("<unchanged>"));
            QCOMPARE(editor.box(kComment)->currentText(), QString());
            editor.box(kTitle)->setEditText(QStringLiteral("  Same Title\t"));
            editor.box(kArtist)->setEditText(QStringLiteral("Band")); // as it was: not a change
            editor.box(kComment)->setCurrentIndex(editor.box(kComment)->count() - 1);
            QCOMPARE(editor.loadSelection({}), 0);
            QVERIFY(fixture.prompts.shown.isEmpty());
        }
        for (const QString& file : files) {
            QCOMPARE(readTag(tags, folder + QLatin1Char('/') + file, TagId_Title),
                     QStringLiteral("Same Title"));
            QCOMPARE(readTag(tags, folder + QLatin1Char('/') + file, TagId_Artist), QStringLiteral("Band"));
        }
        QCOMPARE(readTag(tags, folder + QStringLiteral("/c.mp3"), TagId_Album), QStringLiteral("B"));
        QCOMPARE(audioDigest(folder + QStringLiteral("/c.mp3")), before);
        QVERIFY(!before.isEmpty());
        QCOMPARE(fixture.settings().readText("HelperTitles"),
                 std::optional<std::u16string>(u"\"Same Title\";"));
        QCOMPARE(fixture.settings().readText("HelperArtists"), std::optional<std::u16string>(u""));
    }

    void unchangedInAnAgreedFieldLeavesItAndEmptyTextClearsIt() {
        const QString folder =
            makeFolder({{QStringLiteral("a.mp3"),
                         {QStringLiteral("T"), QStringLiteral("Band"), QStringLiteral("Album"), {}}},
                        {QStringLiteral("b.mp3"),
                         {QStringLiteral("T"), QStringLiteral("Band"), QStringLiteral("Album"), {}}}});
        QVERIFY(!folder.isEmpty());
        AppFixture fixture;
        audio::TagAccess tags(fixture.context().plugins);
        app::CTagEditWnd editor(fixture.context());
        QCOMPARE(editor.loadSelection(paths(folder, {QStringLiteral("a.mp3"), QStringLiteral("b.mp3")})), 2);
        editor.box(kArtist)->setCurrentIndex(editor.box(kArtist)->count() - 1);
        editor.box(kAlbum)->setEditText(QString());
        editor.box(kTitle)->setEditText(QStringLiteral("New"));
        editor.commitAndClear();
        for (const QString& file : {QStringLiteral("/a.mp3"), QStringLiteral("/b.mp3")}) {
            QCOMPARE(readTag(tags, folder + file, TagId_Artist), QStringLiteral("Band"));
            QCOMPARE(readTag(tags, folder + file, TagId_Album), QString());
            QCOMPARE(readTag(tags, folder + file, TagId_Title), QStringLiteral("New"));
        }
    }

    void theSixteenthRecentValuePushesTheOldestOutAndARepeatMovesUp() {
        const QString folder = makeFolder({{QStringLiteral("a.mp3"), {}}});
        QVERIFY(!folder.isEmpty());
        AppFixture fixture;
        fixture.settings().writeText("HelperAlbums", u"\"Old\";");
        {
            app::CTagEditWnd editor(fixture.context());
            QComboBox* box = editor.box(kAlbum);
            QCOMPARE(box->count(), 2);
            QCOMPARE(box->currentIndex(), -1);
            for (int i = 1; i <= 16; ++i) {
                editor.loadSelection(paths(folder, {QStringLiteral("a.mp3")}));
                box->setEditText(QStringLiteral("Album \"%1\"").arg(i));
            }
            editor.loadSelection(paths(folder, {QStringLiteral("a.mp3")}));
            box->setCurrentIndex(5); // Album "11", picked from the list
            editor.commitAndClear();
            QCOMPARE(box->count(), 16);
            QCOMPARE(box->itemText(0), QStringLiteral("Album \"11\""));
            QCOMPARE(box->itemText(1), QStringLiteral("Album \"16\""));
            QCOMPARE(box->itemText(14), QStringLiteral("Album \"2\""));
            QCOMPARE(box->itemText(15), QStringLiteral("<unchanged>"));
        }
        const std::u16string stored = fixture.settings().readText("HelperAlbums").value_or(u"");
        QVERIFY(app::toQString(stored).startsWith(QStringLiteral("\"Album 11\";\"Album 16\";\"Album 15\";")));
        QVERIFY(!app::toQString(stored).contains(QStringLiteral("Old")));
    }

    void genreListIsSortedAndEndsWithUnchanged() {
        AppFixture fixture;
        app::CTagEditWnd editor(fixture.context());
        const QComboBox* box = editor.box(kGenre);
        QCOMPARE(box->count(), 149);
        QStringList genres;
        for (int i = 0; i + 1 < box->count(); ++i) {
            genres << box->itemText(i);
        }
        QCOMPARE(box->itemText(148), QStringLiteral("<unchanged>"));
        const QCollator collator = app::nameCollator();
        QVERIFY(std::is_sorted(genres.begin(), genres.end(), [&](const QString& a, const QString& b) {
            return collator.compare(a, b) < 0;
        }));
        for (const char* stored : {"Psychedelic", "Folk/Rock", "Acapella", "Christian Gangs",
                                   "Contemporary Cristian", "Cristian Rock"}) {
            QVERIFY2(genres.contains(QLatin1String(stored)), stored);
        }
    }

    void filenameToTagsFollowsThePattern_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QStringList>("expected"); // title, artist, track; "-" for untouched
        QTest::newRow("track, artist, title")
            << QStringLiteral("07. Some Artist - Some Song.mp3")
            << QStringLiteral("<track>. <artist> - <title>")
            << QStringList{QStringLiteral("Some Song"), QStringLiteral("Some Artist"), QStringLiteral("07")};
        QTest::newRow("separator missing")
            << QStringLiteral("Artist Only.mp3") << QStringLiteral("<artist> - <title>")
            << QStringList{QString(), QStringLiteral("-"), QStringLiteral("-")};
        QTest::newRow("two tokens split at a blank")
            << QStringLiteral("12 Name Here.mp3") << QStringLiteral("<TRACK><Title>")
            << QStringList{QStringLiteral("Name Here"), QStringLiteral("-"), QStringLiteral("12")};
    }
    void filenameToTagsFollowsThePattern() {
        QFETCH(QString, file);
        QFETCH(QString, pattern);
        QFETCH(QStringList, expected);
        const QString folder =
            makeFolder({{file, {QStringLiteral("Was"), QStringLiteral("Was"), {}, QStringLiteral("99")}}});
        QVERIFY(!folder.isEmpty());
        const QByteArray before = audioDigest(folder + QLatin1Char('/') + file);
        AppFixture fixture;
        auto page = pageOn(fixture, folder, {file});
        QCOMPARE(page->applyConversion(Direction::FilenameToTags, app::toU16(pattern)), 1);
        audio::TagAccess tags(fixture.context().plugins);
        const std::int32_t ids[] = {TagId_Title, TagId_Artist, TagId_Track};
        for (int i = 0; i < 3; ++i) {
            const QString want = expected[i] == QStringLiteral("-")
                                     ? (i == 2 ? QStringLiteral("99") : QStringLiteral("Was"))
                                     : expected[i];
            QCOMPARE(readTag(tags, folder + QLatin1Char('/') + file, ids[i]), want);
        }
        QCOMPARE(audioDigest(folder + QLatin1Char('/') + file), before);
        QCOMPARE(fixture.settings().readText("HelperConvert1"),
                 std::optional<std::u16string>(u"\"" + app::toU16(pattern) + u"\";"));
        QVERIFY(fixture.prompts.shown.isEmpty());
    }

    void tagsToFilenameRenamesWithoutReplacingAnything() {
        const QString folder =
            makeFolder({{QStringLiteral("x.mp3"),
                         {QStringLiteral("Some Song"), QStringLiteral("AC/DC?"), {}, QStringLiteral("07")}},
                        {QStringLiteral("clash.mp3"),
                         {QStringLiteral("Song"), QStringLiteral("Taken"), {}, QStringLiteral("1")}},
                        {QStringLiteral("1. Taken - Song.mp3"), {}},
                        {QStringLiteral("untagged.mp3"), {}}});
        QVERIFY(!folder.isEmpty());
        QVERIFY(
            QFile(folder + QStringLiteral("/notes.mp3")).open(QIODevice::WriteOnly)); // no tagger takes it
        const QByteArray before = audioDigest(folder + QStringLiteral("/x.mp3"));
        const QByteArray taken = audioDigest(folder + QStringLiteral("/1. Taken - Song.mp3"));
        AppFixture fixture;
        auto page = pageOn(fixture, folder,
                           {QStringLiteral("x.mp3"), QStringLiteral("clash.mp3"),
                            QStringLiteral("untagged.mp3"), QStringLiteral("notes.mp3")});
        QCOMPARE(page->applyConversion(Direction::TagsToFilename, u"<track>. <artist> - <title>"), 1);
        // untagged.mp3 has none of the pattern's tags: it keeps its name instead of becoming ".  - .mp3".
        QCOMPARE(names(folder),
                 (QStringList{QStringLiteral("07. ACDC - Some Song.mp3"),
                              QStringLiteral("1. Taken - Song.mp3"), QStringLiteral("clash.mp3"),
                              QStringLiteral("notes.mp3"), QStringLiteral("untagged.mp3")}));
        QCOMPARE(audioDigest(folder + QStringLiteral("/07. ACDC - Some Song.mp3")), before);
        QCOMPARE(audioDigest(folder + QStringLiteral("/1. Taken - Song.mp3")), taken);
        QCOMPARE(page->fileList()->rowCount(), 5); // read again
        QCOMPARE(fixture.prompts.shown.size(), 1);
        const QString report = fixture.prompts.shown.front();
        QVERIFY2(report.startsWith(QStringLiteral("Warning|3 of 4 files could not be converted")),
                 qPrintable(report));
        QVERIFY(report.contains(QStringLiteral("clash.mp3")) && report.contains(QStringLiteral("notes.mp3")));
        QVERIFY(report.contains(QStringLiteral("untagged.mp3")) &&
                report.contains(QStringLiteral("none of the pattern's tags")));

        page->fileList()->selectRows(
            {page->fileList()->rowOf(app::toU16(folder + QStringLiteral("/clash.mp3")))});
        QCOMPARE(page->applyConversion(Direction::TagsToFilename, u"no tokens here"), 0);
        QVERIFY(QFile::exists(folder + QStringLiteral("/clash.mp3")));
        QCOMPARE(fixture.settings().readText("HelperConvert2"),
                 std::optional<std::u16string>(u"\"no tokens here\";\"<track>. <artist> - <title>\";"));
    }

    void tagsToFilenameWithEveryTagEmptyKeepsTheName() {
        const QString folder = makeFolder({{QStringLiteral("plain.mp3"), {}}});
        QVERIFY(!folder.isEmpty());
        AppFixture fixture;
        auto page = pageOn(fixture, folder, {QStringLiteral("plain.mp3")});
        QCOMPARE(page->applyConversion(Direction::TagsToFilename, u"<artist><title>"), 0);
        QCOMPARE(names(folder), QStringList{QStringLiteral("plain.mp3")});
        QCOMPARE(fixture.prompts.shown.size(), 1); // listed with the reason
        QVERIFY(fixture.prompts.shown.front().contains(QStringLiteral("none of the pattern's tags")));
    }

    void conversionWindowDisablesThePageUntilItCloses() {
        const QString folder = makeFolder({{QStringLiteral("05 Tune.mp3"), {}}});
        QVERIFY(!folder.isEmpty());
        AppFixture fixture;
        fixture.settings().writeText("HelperConvert1", u"\"<track> <title>\";\"<title>\";");
        auto page = pageOn(fixture, folder, {QStringLiteral("05 Tune.mp3")});
        page->runCommand(cmd::kTagsToFilename);
        app::CConvertDlg* window = page->conversionWindow();
        QVERIFY(window != nullptr);
        QCOMPARE(window->windowTitle(), QStringLiteral("Tags -> Filename"));
        QCOMPARE(window->patternBox()->currentText(), QStringLiteral("<track>. <artist> - <title>"));
        QVERIFY(!page->isEnabled());
        window->cancel();
        QTRY_VERIFY(page->isEnabled());
        QCOMPARE(page->conversionWindow(), nullptr);

        page->runCommand(cmd::kFilenameToTags);
        window = page->conversionWindow();
        QCOMPARE(window->windowTitle(), QStringLiteral("Filename -> Tags"));
        QCOMPARE(window->patternBox()->currentText(), QStringLiteral("<track> <title>"));
        window->apply();
        QTRY_VERIFY(page->isEnabled());
        audio::TagAccess tags(fixture.context().plugins);
        QCOMPARE(readTag(tags, folder + QStringLiteral("/05 Tune.mp3"), TagId_Title), QStringLiteral("Tune"));
        QCOMPARE(readTag(tags, folder + QStringLiteral("/05 Tune.mp3"), TagId_Track), QStringLiteral("05"));
    }

    void failedWritesAreNamedAfterTheCommit() {
        const QString folder = makeFolder({{QStringLiteral("a.mp3"), {}}, {QStringLiteral("b.mp3"), {}}});
        QVERIFY(!folder.isEmpty());
        AppFixture fixture;
        app::CTagEditWnd editor(fixture.context());
        QCOMPARE(editor.loadSelection(paths(folder, {QStringLiteral("a.mp3"), QStringLiteral("b.mp3")})), 2);
        QVERIFY(QFile::remove(folder + QStringLiteral("/b.mp3")));
        editor.box(kYear)->setEditText(QStringLiteral("1999"));
        editor.commitAndClear();
        QCOMPARE(fixture.prompts.shown.size(), 1);
        QVERIFY(fixture.prompts.shown.front().startsWith(
            QStringLiteral("Warning|Tags could not be written to 1 of 2 files")));
        QVERIFY(fixture.prompts.shown.front().contains(folder + QStringLiteral("/b.mp3")));
        audio::TagAccess tags(fixture.context().plugins);
        QCOMPARE(readTag(tags, folder + QStringLiteral("/a.mp3"), TagId_Year), QStringLiteral("1999"));
    }

    // Lyrics in a comment and an over-long title survive an edit of another field whole, and a long
    // value the user does retype is written whole too.
    void longValuesSurviveEditsOfOtherFields() {
        const QString folder = home_.path() + QStringLiteral("/long");
        QVERIFY(QDir().mkpath(folder));
        QString lyrics;
        for (int line = 0; lyrics.size() < 2699; ++line) {
            lyrics += QStringLiteral("Verse line %1, sung twice over the chorus\n").arg(line);
        }
        lyrics = lyrics.left(2699);
        const QString title = QStringLiteral("T").repeated(1500);
        const QString file = folder + QStringLiteral("/a.mp3");
        QVERIFY(makeTone(file, 440, 44100, 1, 1.0,
                         {QStringLiteral("-metadata"), QStringLiteral("comment=") + lyrics,
                          QStringLiteral("-metadata"), QStringLiteral("title=") + title}));
        AppFixture fixture;
        audio::TagAccess tags(fixture.context().plugins);
        QVERIFY(succeeded(tags.open(app::toU16(file))));
        const std::optional<std::u16string> stored = tags.readTag(TagId_Comment);
        tags.close();
        QVERIFY(stored.has_value());
        QCOMPARE(stored->size(), std::size_t{2699});
        app::CTagEditWnd editor(fixture.context());
        QCOMPARE(editor.loadSelection({app::toU16(file)}), 1);
        QCOMPARE(editor.box(kTitle)->currentText(), title);
        editor.box(kYear)->setEditText(QStringLiteral("2001"));
        editor.commitAndClear();
        QVERIFY(fixture.prompts.shown.isEmpty());
        const auto whole = [&](std::int32_t tag) {
            const bool opened = succeeded(tags.open(app::toU16(file)));
            const std::optional<std::u16string> value = tags.readTag(tag);
            tags.close();
            return opened && value ? app::toQString(*value) : QStringLiteral("<unreadable>");
        };
        QCOMPARE(whole(TagId_Year), QStringLiteral("2001"));
        QCOMPARE(whole(TagId_Comment), app::toQString(*stored));
        QCOMPARE(whole(TagId_Title), title);
        QCOMPARE(fixture.settings().readText("HelperComments"), std::optional<std::u16string>());

        QCOMPARE(editor.loadSelection({app::toU16(file)}), 1);
        editor.box(kTitle)->setEditText(title + QStringLiteral("!"));
        editor.commitAndClear();
        QCOMPARE(whole(TagId_Title), title + QStringLiteral("!"));
        QCOMPARE(whole(TagId_Comment), app::toQString(*stored));
    }
};

QTEST_MAIN(TagsTest)
#include "TagsTest.moc"
