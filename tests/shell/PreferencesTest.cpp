#include "shell/Preferences.h"
#include "shell/SettingNames.h"

#include "support/FileContents.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;
namespace names = tonemirror::shell::settings;
using tonemirror::engine::ScanPreferences;
using tonemirror::fakes::readText;
using tonemirror::fakes::TempFolder;
using tonemirror::fakes::writeText;
using namespace tonemirror::shell;

class PreferencesTest : public ::testing::Test {
protected:
    fs::path file(const char* name = "Tonemirror.json") const { return folder_ / name; }
    SettingsStore loaded(const std::string& bytes) {
        writeText(file(), bytes);
        SettingsStore store(file());
        EXPECT_EQ(store.load(), SettingsStore::LoadStatus::Loaded);
        return store;
    }
    TempFolder folder_;
};

struct StoredScanCase {
    const char* name;
    const char* json;
    ScanPreferences expected;
};

ScanPreferences scanWith(void (*change)(ScanPreferences&)) {
    ScanPreferences values;
    change(values);
    return values;
}

class StoredScanTest : public PreferencesTest, public ::testing::WithParamInterface<StoredScanCase> {};

TEST_P(StoredScanTest, ReadsAsWindowCreationDoes) {
    SettingsStore store = loaded(GetParam().json);
    const ScanPreferences read = readScanPreferences(store);
    const ScanPreferences& expected = GetParam().expected;
    EXPECT_EQ(read.compareMethod, expected.compareMethod);
    EXPECT_EQ(read.accurate, expected.accurate);
    EXPECT_FLOAT_EQ(read.contentThreshold, expected.contentThreshold);
    EXPECT_FLOAT_EQ(read.tagsThreshold, expected.tagsThreshold);
    EXPECT_EQ(read.verifyMatches, expected.verifyMatches);
    EXPECT_FLOAT_EQ(read.acousticThreshold, expected.acousticThreshold);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StoredScanTest,
    ::testing::Values(StoredScanCase{"Empty", "{}", {}},
                      StoredScanCase{
                          "Stored", R"({"CompareMethod":2,"Accurate":5,"SensitivityContent":83,
            "SensitivityTags":0,"VerifyMatches":1,"SensitivityAcoustic":64})",
                          scanWith([](ScanPreferences& v) { v = {2, true, 0.83f, 0.0f, true, 0.64f}; })},
                      // Taken without a range check, as before; texts where numbers belong count as missing.
                      StoredScanCase{"OutOfRange", R"({"SensitivityContent":150,"SensitivityTags":"90"})",
                                     scanWith([](ScanPreferences& v) { v.contentThreshold = 1.5f; })},
                      StoredScanCase{"MethodZeroIsBoth", R"({"CompareMethod":0})", {}},
                      StoredScanCase{"MethodSevenIsBoth", R"({"CompareMethod":7})", {}}),
    [](const auto& test) { return std::string(test.param.name); });

// Every slider position comes back as itself through the stored percentage.
TEST(ThresholdPercentTest, EveryPositionRoundTrips) {
    for (std::uint32_t percent = 0; percent <= 150; ++percent) {
        EXPECT_EQ(tonemirror::engine::percentFromThreshold(tonemirror::engine::thresholdFromPercent(percent)),
                  percent);
    }
}

// OK in Options writes the file once, with the bytes the value-by-value writes gave.
TEST_F(PreferencesTest, OptionsWriteTheSameBytesAsSeparateWrites) {
    for (const bool accurateChanged : {false, true}) {
        SCOPED_TRACE(accurateChanged);
        fs::remove(file("a.json"));
        fs::remove(file("b.json"));
        SettingsStore batch(file("a.json"));
        SettingsStore single(file("b.json"));
        ASSERT_EQ(batch.load(), SettingsStore::LoadStatus::Missing);
        ASSERT_EQ(single.load(), SettingsStore::LoadStatus::Missing);
        OptionsPreferences chosen;
        chosen.compareMethod = 1;
        chosen.checkUpdates = false;
        chosen.accurate = accurateChanged;
        chosen.contentThreshold = 0.83f;
        chosen.tagsThreshold = 1.5f;
        chosen.acousticThreshold = 0.64f;
        ASSERT_TRUE(writeOptionsPreferences(batch, chosen, ScanPreferences{}));

        single.writeNumber(names::kCheckUpdate, 0);
        single.writeNumber(names::kCompareMethod, 1);
        if (accurateChanged) {
            single.writeNumber(names::kAccurate, 1);
        }
        single.writeNumber(names::kSensitivityContent, 83);
        single.writeNumber(names::kSensitivityTags, 150);
        single.writeNumber(names::kVerifyMatches, 0);
        single.writeNumber(names::kSensitivityAcoustic, 64);
        EXPECT_EQ(readText(file("a.json")), readText(file("b.json")));
    }
}

TEST_F(PreferencesTest, BatchKeepsValuesAnotherCopyWrote) {
    SettingsStore store = loaded(R"({"Language":"Deutsch"})");
    writeText(file(), R"({"Language":"Deutsch","Folders":"\"/music\";"})");
    ASSERT_TRUE(writeOptionsPreferences(store, OptionsPreferences{}, ScanPreferences{}));
    SettingsStore again(file());
    ASSERT_EQ(again.load(), SettingsStore::LoadStatus::Loaded);
    EXPECT_EQ(readLanguage(again), u"Deutsch");
    EXPECT_EQ(readScanFolders(again), std::vector<std::u16string>{u"/music"});
    EXPECT_EQ(again.readNumber(names::kCheckUpdate), 1u);
}

struct PlacementCase {
    const char* name;
    const char* json;
    std::optional<WindowPreferences::Rect> placement;
};

class PlacementTest : public PreferencesTest, public ::testing::WithParamInterface<PlacementCase> {};

TEST_P(PlacementTest, UsedOnlyWhenWholeAndNotEmpty) {
    SettingsStore store = loaded(GetParam().json);
    EXPECT_EQ(readWindowPreferences(store).placement, GetParam().placement);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PlacementTest,
    ::testing::Values(
        PlacementCase{"Whole", R"({"WindowLeft":10,"WindowTop":20,"WindowRight":110,"WindowBottom":220,
            "WindowMaximized":0})",
                      WindowPreferences::Rect{10, 20, 110, 220}},
        // Left of the primary screen: negative edges travel in the stored number's 32 bits.
        PlacementCase{"NegativeEdges", R"({"WindowLeft":4294967196,"WindowTop":0,"WindowRight":100,
            "WindowBottom":50,"WindowMaximized":1})",
                      WindowPreferences::Rect{-100, 0, 100, 50}},
        PlacementCase{"NoMaximizedFlag", R"({"WindowLeft":10,"WindowTop":20,"WindowRight":110,
            "WindowBottom":220})",
                      std::nullopt},
        PlacementCase{"Empty", R"({"WindowLeft":10,"WindowTop":20,"WindowRight":10,"WindowBottom":220,
            "WindowMaximized":0})",
                      std::nullopt}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(PreferencesTest, WindowRoundTrips) {
    SettingsStore store(file());
    ASSERT_EQ(store.load(), SettingsStore::LoadStatus::Missing);
    EXPECT_TRUE(readWindowPreferences(store).showToolbar);
    WindowPreferences window;
    window.showToolbar = false;
    window.placement = WindowPreferences::Rect{-1920, 5, -20, 1000};
    window.maximized = true;
    ASSERT_TRUE(writeWindowPreferences(store, window));
    SettingsStore again(file());
    ASSERT_EQ(again.load(), SettingsStore::LoadStatus::Loaded);
    const WindowPreferences read = readWindowPreferences(again);
    EXPECT_FALSE(read.showToolbar);
    EXPECT_TRUE(read.showStatusBar);
    EXPECT_EQ(read.placement, window.placement);
    EXPECT_TRUE(read.maximized);
}

struct KeeperCase {
    const char* name;
    const char16_t* stored; // null: nothing stored
    const char* expected;   // the rules read, in their stored form
};

class KeeperRulesTest : public PreferencesTest, public ::testing::WithParamInterface<KeeperCase> {};

TEST_P(KeeperRulesTest, ReadAsStoredOrTheDefaultOrder) {
    SettingsStore store(file());
    if (GetParam().stored != nullptr) {
        ASSERT_TRUE(store.writeText(names::kKeeperRules, GetParam().stored));
    }
    EXPECT_EQ(readKeeperPreferences(store).rules.text(), GetParam().expected);
}

constexpr const char* kDefaultRules = "reference,lossless,bitrate,samplerate,tags,longer,shorter-path";

INSTANTIATE_TEST_SUITE_P(Cases, KeeperRulesTest,
                         ::testing::Values(KeeperCase{"Missing", nullptr, kDefaultRules},
                                           KeeperCase{"Stored", u"bitrate,lossless", "bitrate,lossless"},
                                           KeeperCase{"UnknownName", u"bitrate,loudness", kDefaultRules},
                                           KeeperCase{"Empty", u"", kDefaultRules},
                                           // A wide character is no letter of a name, whatever its low byte.
                                           KeeperCase{"WideCharacter", u"\u0162itrate", kDefaultRules}),
                         [](const auto& test) { return std::string(test.param.name); });

TEST_F(PreferencesTest, ReferenceFoldersAreAQuotedList) {
    SettingsStore store(file());
    EXPECT_TRUE(readKeeperPreferences(store).referenceFolders.empty());
    ASSERT_TRUE(store.writeText(names::kReferenceFolders, u"\"/music/masters\";\"/archive\";"));
    EXPECT_EQ(readKeeperPreferences(store).referenceFolders,
              (std::vector<std::u16string>{u"/music/masters", u"/archive"}));
}

struct StoredRulesCase {
    const char* name;
    const char* json;
    const char* order; // as the rules read back write it
};

class StoredRulesTest : public PreferencesTest, public ::testing::WithParamInterface<StoredRulesCase> {};

// A stored order the rules cannot read must never leave the user without a way to pick the kept
// copy: it falls back to the default order.
TEST_P(StoredRulesTest, ReadOrFallBackToDefault) {
    SettingsStore store = loaded(GetParam().json);
    EXPECT_EQ(readKeeperRules(store).text(), GetParam().order);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StoredRulesTest,
    ::testing::Values(StoredRulesCase{"Missing", "{}",
                                      "reference,lossless,bitrate,samplerate,tags,longer,shorter-path"},
                      StoredRulesCase{"Stored", R"({"KeeperRules":"bitrate, lossless"})", "bitrate,lossless"},
                      StoredRulesCase{"Unknown", R"({"KeeperRules":"bitrate,loudest"})",
                                      "reference,lossless,bitrate,samplerate,tags,longer,shorter-path"},
                      StoredRulesCase{"Empty", R"({"KeeperRules":""})",
                                      "reference,lossless,bitrate,samplerate,tags,longer,shorter-path"},
                      StoredRulesCase{"NotAscii", R"({"KeeperRules":"bitrate,l\u014Essless"})",
                                      "reference,lossless,bitrate,samplerate,tags,longer,shorter-path"},
                      StoredRulesCase{"Number", R"({"KeeperRules":3})",
                                      "reference,lossless,bitrate,samplerate,tags,longer,shorter-path"}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(PreferencesTest, RulesAndReferenceFoldersRoundTrip) {
    SettingsStore store = loaded("{}");
    ASSERT_TRUE(writeKeeperRules(store, KeeperRules({KeepCriterion::SampleRate, KeepCriterion::Reference})));
    const std::vector<std::u16string> folders{u"/music/best", u"/mnt/archive; old"};
    ASSERT_TRUE(writeReferenceFolders(store, folders));
    SettingsStore again(file());
    ASSERT_EQ(again.load(), SettingsStore::LoadStatus::Loaded);
    EXPECT_EQ(readKeeperRules(again).text(), "samplerate,reference");
    EXPECT_EQ(readReferenceFolders(again), folders);
    EXPECT_EQ(again.readText(names::kReferenceFolders), u"\"/music/best\";\"/mnt/archive; old\";");
}

} // namespace
