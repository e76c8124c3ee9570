// The Options dialog and its effect on the main window, the About box and the update dialog.

#include "AppFixture.h"

#include "app/Prompts.h"
#include "app/common/PlainText.h"
#include "app/dialogs/CAboutDlg.h"
#include "app/dialogs/CKeeperRulesDlg.h"
#include "app/dialogs/COptionsDlg.h"
#include "app/dialogs/CUpdateDlg.h"
#include "app/results/CResultsPage.h"
#include "shell/Preferences.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QTimer>

#include <ctime>

using namespace tonemirror;
using namespace tonemirror::testing;

class DialogsTest : public QObject {
    Q_OBJECT

    QTemporaryDir data_; // XDG_DATA_HOME: the action journal a starting frame looks into

private slots:
    void initTestCase() { qputenv("XDG_DATA_HOME", QFile::encodeName(data_.path())); }

    void contentSliderSetsLabelStoredValueAndThreshold() {
        AppFixture fixture;
        auto frame = fixture.makeFrame();
        QVERIFY(frame->create());
        app::COptionsDlg dialog(
            app::OptionsValues{}, [] { return false; }, [] {});
        auto* slider = dialog.findChild<QSlider*>(QStringLiteral("1013"));
        auto* label = dialog.findChild<QLabel*>(QStringLiteral("1015"));
        QVERIFY(slider != nullptr && label != nullptr);
        QCOMPARE(slider->value(), 75);
        QCOMPARE(label->text(), QStringLiteral("0.75"));
        slider->setFocus();
        for (int i = 0; i < 8; ++i) {
            QTest::keyClick(slider, Qt::Key_Right);
        }
        QCOMPARE(slider->value(), 83);
        QCOMPARE(label->text(), QStringLiteral("0.83"));
        frame->applyOptions(dialog.values());
        QCOMPARE(fixture.settings().readNumber("SensitivityContent"), std::optional<std::uint32_t>(83));
        QCOMPARE(fixture.settings().readNumber("SensitivityTags"), std::optional<std::uint32_t>(75));
        QVERIFY(qFuzzyCompare(fixture.engine().settings().contentThreshold.load(), 0.83f));
    }

    // The sound check: its threshold follows the box, both are stored and read back by the next window.
    void verifyingBySoundIsStoredAndReadBack() {
        AppFixture fixture;
        {
            auto frame = fixture.makeFrame();
            QVERIFY(frame->create());
            QVERIFY(!fixture.engine().settings().verifyMatches.load());
            app::COptionsDlg dialog(app::OptionsValues{}, nullptr, nullptr);
            auto* verify = dialog.findChild<QCheckBox*>(QStringLiteral("1017"));
            auto* slider = dialog.findChild<QSlider*>(QStringLiteral("1018"));
            QVERIFY(verify != nullptr && slider != nullptr);
            QCOMPARE(slider->value(), 55); // the default sound threshold
            QVERIFY(!slider->isEnabled());
            verify->click();
            QVERIFY(slider->isEnabled());
            slider->setValue(64);
            QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("1019"))->text(), QStringLiteral("0.64"));
            frame->applyOptions(dialog.values());
            QCOMPARE(fixture.settings().readNumber("VerifyMatches"), std::optional<std::uint32_t>(1));
            QCOMPARE(fixture.settings().readNumber("SensitivityAcoustic"), std::optional<std::uint32_t>(64));
            QVERIFY(fixture.engine().settings().verifyMatches.load());
            QVERIFY(qFuzzyCompare(fixture.engine().settings().acousticThreshold.load(), 0.64f));
        }
        fixture.engine().settings().verifyMatches = false;
        fixture.engine().settings().acousticThreshold = 0.5f;
        auto again = fixture.makeFrame();
        QVERIFY(again->create());
        QVERIFY(fixture.engine().settings().verifyMatches.load());
        QVERIFY(qFuzzyCompare(fixture.engine().settings().acousticThreshold.load(), 0.64f));
    }

    void openingShowsTheValuesItWasGiven() {
        app::OptionsValues values;
        values.compareMethod = 2;
        values.checkUpdates = false;
        values.accurate = true;
        values.tagsThreshold = 1.5f; // stored without a range check: the slider stands at its end
        app::COptionsDlg dialog(values, nullptr, nullptr);
        QVERIFY(dialog.findChild<QRadioButton*>(QStringLiteral("1008"))->isChecked());
        QCOMPARE(dialog.findChild<QSlider*>(QStringLiteral("1014"))->value(), 100);
        QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("1016"))->text(), QStringLiteral("1.00"));
        QVERIFY(!dialog.findChild<QPushButton*>(QStringLiteral("32784"))->isEnabled());
        const app::OptionsValues read = dialog.values();
        QCOMPARE(read.compareMethod, 2);
        QVERIFY(!read.checkUpdates && read.accurate);
        QCOMPARE(read.tagsThreshold, 1.0f);
    }

    // Whatever number is stored, the slider shows it within its range and OK stores what it shows.
    void storedSensitivityIsClampedForTheSlider_data() {
        QTest::addColumn<std::uint32_t>("stored");
        QTest::addColumn<int>("shown");
        QTest::newRow("largest") << std::uint32_t{4294967295u} << 100;
        QTest::newRow("past int") << std::uint32_t{2147483648u} << 100;
        QTest::newRow("just over") << std::uint32_t{101} << 100;
        QTest::newRow("zero") << std::uint32_t{0} << 0;
        QTest::newRow("in range") << std::uint32_t{42} << 42;
    }
    void storedSensitivityIsClampedForTheSlider() {
        QFETCH(std::uint32_t, stored);
        QFETCH(int, shown);
        AppFixture fixture;
        fixture.settings().load();
        fixture.settings().writeNumber("SensitivityContent", stored);
        fixture.settings().writeNumber("SensitivityAcoustic", stored);
        auto frame = fixture.makeFrame();
        QVERIFY(frame->create());
        app::OptionsValues values;
        values.contentThreshold = fixture.engine().settings().contentThreshold.load();
        values.acousticThreshold = fixture.engine().settings().acousticThreshold.load();
        app::COptionsDlg dialog(values, nullptr, nullptr);
        QCOMPARE(dialog.findChild<QSlider*>(QStringLiteral("1013"))->value(), shown);
        QCOMPARE(dialog.findChild<QSlider*>(QStringLiteral("1018"))->value(), shown);
        QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("1015"))->text(), app::sliderLabel(shown));
        frame->applyOptions(dialog.values());
        QCOMPARE(fixture.settings().readNumber("SensitivityContent"),
                 std::optional<std::uint32_t>(static_cast<std::uint32_t>(shown)));
        QCOMPARE(fixture.settings().readNumber("SensitivityAcoustic"),
                 std::optional<std::uint32_t>(static_cast<std::uint32_t>(shown)));
    }

    // File names that look like markup show as they are, in every message box and tool tip.
    void fileNamesShowAsPlainText() {
        const QString name = QStringLiteral("/music/<b>Loud</b> & <img src=x>.mp3");
        app::MessageBoxPrompts prompts;
        QStringList seen;
        const auto answerNext = [&] {
            QTimer::singleShot(0, [&] {
                auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                if (box == nullptr) {
                    seen << QStringLiteral("no box");
                    return;
                }
                for (const QLabel* label : box->findChildren<QLabel*>()) {
                    if (label->text().contains(QStringLiteral("<b>"))) {
                        seen << (label->textFormat() == Qt::PlainText ? QStringLiteral("plain")
                                                                      : QStringLiteral("rich"));
                    }
                }
                box->done(QMessageBox::No);
            });
        };
        answerNext();
        prompts.warning(nullptr, QStringLiteral("Warning"), QStringLiteral("Cannot trash ") + name);
        answerNext();
        prompts.question(nullptr, QStringLiteral("Question"),
                         QStringLiteral("Ignore ") + name + QStringLiteral("?"));
        answerNext();
        prompts.confirmFiles(nullptr, QStringLiteral("Question"), QStringLiteral("Move to the trash?"),
                             {name, QStringLiteral("/music/plain.mp3")});
        QCOMPARE(seen,
                 (QStringList{QStringLiteral("plain"), QStringLiteral("plain"), QStringLiteral("plain")}));

        for (const QString& tip :
             {name, QStringLiteral("  two  blanks &amp; an entity"), QStringLiteral("a\nb")}) {
            QTextDocument shown;
            shown.setHtml(app::plainToolTip(tip));
            QCOMPARE(shown.toPlainText(), tip);
        }
    }

    void clearingTheCacheEndsTheDialogAndDiscardsOtherChanges() {
        AppFixture fixture;
        auto frame = fixture.makeFrame();
        QVERIFY(frame->create());
        bool cleared = false;
        app::COptionsDlg dialog(
            app::OptionsValues{},
            [&] { return fixture.prompts.question(nullptr, "Question", "Clear internal cache ?"); },
            [&] { cleared = true; });
        dialog.findChild<QRadioButton*>(QStringLiteral("1007"))->click();
        fixture.prompts.answer = false;
        dialog.findChild<QPushButton*>(QStringLiteral("32784"))->click();
        QVERIFY(!cleared);
        QCOMPARE(dialog.result(), 0);
        fixture.prompts.answer = true;
        dialog.open();
        dialog.findChild<QPushButton*>(QStringLiteral("32784"))->click();
        QVERIFY(cleared);
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QCOMPARE(fixture.engine().settings().compareMethod.load(), 3);
    }

    void experimentalColumnFollowsTheFlag() {
        AppFixture fixture;
        auto frame = fixture.makeFrame();
        QVERIFY(frame->create());
        app::CResultsPage* results = frame->resultsPage();
        QCOMPARE(results->experimentalColumnWidth(), 0);
        app::OptionsValues values;
        values.accurate = true;
        frame->applyOptions(values);
        QCOMPARE(results->experimentalColumnWidth(), 100);
        QCOMPARE(fixture.settings().readNumber("Accurate"), std::optional<std::uint32_t>(1));
        results->setExperimentalColumnVisible(true, 55);
        frame->applyOptions(values); // no change: the width is left alone
        QCOMPARE(results->experimentalColumnWidth(), 55);
        values.accurate = false;
        frame->applyOptions(values);
        QCOMPARE(results->experimentalColumnWidth(), 0);
        QCOMPARE(fixture.settings().readNumber("Accurate"), std::optional<std::uint32_t>(0));
    }

    void optionsTextsFitTheirControls() {
        app::COptionsDlg dialog(app::OptionsValues{}, nullptr, nullptr);
        dialog.show();
        for (QAbstractButton* button : dialog.findChildren<QAbstractButton*>()) {
            // A push button's size hint has a floor of its own; its text only needs a margin.
            const int needed = qobject_cast<QPushButton*>(button) != nullptr
                                   ? button->fontMetrics().horizontalAdvance(button->text()) + 8
                                   : button->sizeHint().width();
            QVERIFY2(needed <= button->width(), qPrintable(button->text()));
        }
        for (QLabel* label : dialog.findChildren<QLabel*>()) {
            QVERIFY2(label->sizeHint().width() <= label->width(), qPrintable(label->text()));
        }
    }

    void aboutVersionLine_data() {
        QTest::addColumn<quint32>("packed");
        QTest::addColumn<quint32>("build");
        QTest::addColumn<QString>("line");
        QTest::newRow("with build") << quint32(9) << quint32(330)
                                    << QStringLiteral("Version 0.9 (build 330)");
        QTest::newRow("no build") << quint32(65536 + 2) << quint32(0) << QStringLiteral("Version 1.2");
    }
    void aboutVersionLine() {
        QFETCH(quint32, packed);
        QFETCH(quint32, build);
        QFETCH(QString, line);
        AppFixture fixture;
        QCOMPARE(app::aboutVersionLine(fixture.context(), shell::LocalVersion{packed, build}), line);
    }

    void updateDialogShowsEachResult_data() {
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("link");
        QTest::addColumn<bool>("stored");
        QTest::newRow("error") << 0 << QStringLiteral("Internal server error, please try again later...")
                               << false << false;
        QTest::newRow("update") << 1 << QStringLiteral("Update available, please visit web-site:") << true
                                << true;
        QTest::newRow("offline") << 2
                                 << QStringLiteral(
                                        "Can't connect to server,\nplease check your connection to Internet")
                                 << false << false;
        QTest::newRow("current") << 3 << QStringLiteral("No update available,\nYou software is up to date")
                                 << false << true;
    }
    void updateDialogShowsEachResult() {
        QFETCH(int, result);
        QFETCH(QString, text);
        QFETCH(bool, link);
        QFETCH(bool, stored);
        AppFixture fixture;
        int successes = 0;
        // Opened with a result already known (2: no connection), which shows once the dialog runs.
        app::CUpdateDlg dialog(fixture.context(), 2, shell::LocalVersion{}, [&] { ++successes; });
        QCOMPARE(dialog.statusText(), QStringLiteral("Please wait..."));
        QTRY_COMPARE(dialog.statusText(),
                     QStringLiteral("Can't connect to server,\nplease check your connection to Internet"));
        dialog.showResult(result);
        QCOMPARE(dialog.statusText(), text);
        QCOMPARE(dialog.linkShown(), link);
        QCOMPARE(successes, stored ? 1 : 0);
    }

    void manualCheckAgainstAClosedPortSaysNoConnection() {
        AppFixture fixture;
        app::CUpdateDlg dialog(
            fixture.context(), 0, shell::LocalVersion{}, [] {}, shell::UpdateServer{"127.0.0.1", 9});
        QTRY_COMPARE_WITH_TIMEOUT(
            dialog.statusText(),
            QStringLiteral("Can't connect to server,\nplease check your connection to Internet"), 30000);
    }

    // The criteria in the stored order, the unused ones after them; Move up/down, a tick and Defaults
    // change what OK stores, and OK waits for at least one ticked criterion.
    void keeperRulesAreOrderedTickedAndStored() {
        AppFixture fixture;
        using shell::KeepCriterion;
        app::CKeeperRulesDlg dialog(fixture.context(),
                                    shell::KeeperRules({KeepCriterion::BitRate, KeepCriterion::Lossless}));
        QListWidget* list = dialog.list();
        QCOMPARE(list->count(), 7);
        QCOMPARE(list->item(0)->text(), QStringLiteral("Higher bit rate"));
        QCOMPARE(list->item(1)->checkState(), Qt::Checked);
        QCOMPARE(list->item(2)->text(), QStringLiteral("In a reference folder"));
        QCOMPARE(list->item(2)->checkState(), Qt::Unchecked);
        QCOMPARE(dialog.rules().text(), std::string("bitrate,lossless"));
        QVERIFY(!dialog.upButton()->isEnabled()); // the first row cannot go higher

        list->setCurrentRow(1);
        dialog.upButton()->click();
        QCOMPARE(list->currentRow(), 0);
        list->item(6)->setCheckState(Qt::Checked); // shorter path, last
        QCOMPARE(dialog.rules().text(), std::string("lossless,bitrate,shorter-path"));
        list->setCurrentRow(6);
        QVERIFY(!dialog.downButton()->isEnabled());

        for (int row = 0; row < list->count(); ++row) {
            list->item(row)->setCheckState(Qt::Unchecked);
        }
        QVERIFY(!dialog.okButton()->isEnabled());
        dialog.defaultsButton()->click();
        QVERIFY(dialog.okButton()->isEnabled());
        QCOMPARE(dialog.rules().text(), shell::KeeperRules().text());

        dialog.resize(dialog.sizeHint().expandedTo(dialog.size()));
        QVERIFY(!dialog.grab().isNull());

        // Through the Tools menu's function: what OK chose is what the settings hold.
        QTimer::singleShot(0, [] {
            auto* shown = qobject_cast<app::CKeeperRulesDlg*>(QApplication::activeModalWidget());
            QVERIFY(shown != nullptr);
            shown->list()->item(0)->setCheckState(Qt::Unchecked); // the reference criterion off
            shown->okButton()->click();
        });
        QVERIFY(app::editKeeperRules(fixture.context(), nullptr));
        QCOMPARE(shell::readKeeperRules(fixture.settings()).text(),
                 std::string("lossless,bitrate,samplerate,tags,longer,shorter-path"));
    }
};

QTEST_MAIN(DialogsTest)
#include "DialogsTest.moc"
