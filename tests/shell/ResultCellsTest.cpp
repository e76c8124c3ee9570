// The texts, colours and orders of the results list and the details pane.
#include "shell/ResultCells.h"

#include "engine/DetailsRecord.h"
#include "shell/NameText.h"
#include "shell/ResultsExport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <clocale>
#include <cmath>

namespace {

using namespace tonemirror::shell;
using tonemirror::engine::DetailsRecord;
using tonemirror::engine::DuplicatePair;

struct PercentCase {
    const char* name;
    PercentColumn column;
    float value;
    PercentState state;
    const char16_t* text; // for Value only
};

void PrintTo(const PercentCase& c, std::ostream* os) {
    *os << c.name;
}

class PercentCellTest : public ::testing::TestWithParam<PercentCase> {};

TEST_P(PercentCellTest, StateAndText) {
    const PercentCase& c = GetParam();
    EXPECT_EQ(percentState(c.column, c.value), c.state);
    if (c.state == PercentState::Value) {
        EXPECT_EQ(percentText(c.value), c.text);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cells, PercentCellTest,
    ::testing::Values(
        PercentCase{"ContentValue", PercentColumn::Content, 87.5f, PercentState::Value, u"87.5%"},
        PercentCase{"ContentZero", PercentColumn::Content, 0.0f, PercentState::Value, u"0.0%"},
        PercentCase{"TagsFull", PercentColumn::Tags, 100.0f, PercentState::Value, u"100.0%"},
        PercentCase{"TagsRoundedToOneDecimal", PercentColumn::Tags, 66.66f, PercentState::Value, u"66.7%"},
        PercentCase{"ContentWithoutAScore", PercentColumn::Content, -100.0f, PercentState::Dash, nullptr},
        PercentCase{"TagsWithoutAScore", PercentColumn::Tags, -1.0f, PercentState::Dash, nullptr},
        PercentCase{"ExperimentalWaiting", PercentColumn::Experimental, -1.0f, PercentState::Wait, nullptr},
        PercentCase{"ExperimentalWaitingHalfway", PercentColumn::Experimental, -0.5f, PercentState::Wait,
                    nullptr},
        PercentCase{"ExperimentalJustBelowWaiting", PercentColumn::Experimental, -1.01f,
                    PercentState::NotAvailable, nullptr},
        PercentCase{"ExperimentalNotAvailable", PercentColumn::Experimental, -100.0f,
                    PercentState::NotAvailable, nullptr},
        PercentCase{"ExperimentalHalfRoundsToEven", PercentColumn::Experimental, 12.25f, PercentState::Value,
                    u"12.2%"},
        // The acoustic match has no "wait": a negative value is a track without a print.
        PercentCase{"AcousticZero", PercentColumn::Acoustic, 0.0f, PercentState::Value, u"0.0%"},
        PercentCase{"AcousticValue", PercentColumn::Acoustic, 93.74f, PercentState::Value, u"93.7%"},
        PercentCase{"AcousticWithoutAPrint", PercentColumn::Acoustic, -1.0f, PercentState::NotAvailable,
                    nullptr},
        PercentCase{"AcousticFarBelow", PercentColumn::Acoustic, -100.0f, PercentState::NotAvailable,
                    nullptr}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(PercentTextTest, PointWhateverTheLocale) {
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = previous != nullptr ? previous : "C";
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr) {
        GTEST_SKIP() << "no German locale on this machine";
    }
    EXPECT_EQ(percentText(42.5f), u"42.5%");
    EXPECT_EQ(sizeText(4456448), u"4.25 Mb");
    EXPECT_EQ(bitRateText(1411000), u"1.41 Mbit");
    std::setlocale(LC_NUMERIC, saved.c_str());
}

struct ColourCase {
    const char* name;
    PercentColumn column;
    float value;
    Rgb top;
    Rgb bottom;
};

void PrintTo(const ColourCase& c, std::ostream* os) {
    *os << c.name;
}

class BarColourTest : public ::testing::TestWithParam<ColourCase> {};

TEST_P(BarColourTest, GradientEnds) {
    const ColourCase& c = GetParam();
    const BarColours colours = barColours(c.column, c.value);
    EXPECT_EQ(colours.top, c.top);
    EXPECT_EQ(colours.bottom, c.bottom);
}

// x = floor(v) * 170 / 100 in whole numbers: 87.9 -> 87 -> 147.
INSTANTIATE_TEST_SUITE_P(
    Columns, BarColourTest,
    ::testing::Values(
        ColourCase{
            "ContentWholePercentsOnly", PercentColumn::Content, 87.9f, {0xAA, 0xAA, 0xFF}, {108, 108, 255}},
        ColourCase{"ContentZeroIsWhite", PercentColumn::Content, 0.0f, {0xAA, 0xAA, 0xFF}, {255, 255, 255}},
        ColourCase{"TagsFull", PercentColumn::Tags, 100.0f, {0xAA, 0xFF, 0xAA}, {85, 255, 85}},
        ColourCase{"TagsCappedAtFull", PercentColumn::Tags, 250.0f, {0xAA, 0xFF, 0xAA}, {85, 255, 85}},
        ColourCase{
            "ExperimentalHalf", PercentColumn::Experimental, 50.0f, {0xFF, 0xAA, 0xAA}, {255, 170, 170}},
        ColourCase{
            "ExperimentalOnePercent", PercentColumn::Experimental, 1.0f, {0xFF, 0xAA, 0xAA}, {255, 254, 254}},
        ColourCase{"AcousticFull", PercentColumn::Acoustic, 100.0f, {0xFF, 0xD5, 0xAA}, {255, 170, 85}},
        ColourCase{
            "AcousticZeroIsWhite", PercentColumn::Acoustic, 0.0f, {0xFF, 0xD5, 0xAA}, {255, 255, 255}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(BarFillTest, WholePixelsOfTheCappedValue) {
    EXPECT_EQ(barFillWidth(100, 57.0f), 57); // not 56 from 0.57 * 100
    EXPECT_EQ(barFillWidth(62, 87.5f), 54);  // 54.25
    EXPECT_EQ(barFillWidth(62, 150.0f), 62);
    EXPECT_EQ(barFillWidth(62, 0.0f), 0);
    EXPECT_EQ(barFillWidth(0, 90.0f), 0);
    EXPECT_EQ(barFillWidth(-3, 90.0f), 0);
    EXPECT_EQ(barFillWidth(62, NAN), 0);
}

struct TextCase {
    const char* name;
    std::uint64_t value;
    const char16_t* text;
};

void PrintTo(const TextCase& c, std::ostream* os) {
    *os << c.name;
}

class DurationTextTest : public ::testing::TestWithParam<TextCase> {};
TEST_P(DurationTextTest, MinutesAndTwoDigitSeconds) {
    EXPECT_EQ(durationText(static_cast<std::uint32_t>(GetParam().value)), GetParam().text);
}
INSTANTIATE_TEST_SUITE_P(Values, DurationTextTest,
                         ::testing::Values(TextCase{"Zero", 0, u"0:00"},
                                           TextCase{"MinutesAndSeconds", 187000, u"3:07"},
                                           TextCase{"SecondsPaddedToTwoDigits", 65000, u"1:05"},
                                           TextCase{"PartSecondsDropped", 59999, u"0:59"},
                                           TextCase{"AnHour", 3600000, u"60:00"},
                                           TextCase{"Largest", 4294967295u, u"71582:47"}),
                         [](const auto& p) { return std::string(p.param.name); });

class SizeTextTest : public ::testing::TestWithParam<TextCase> {};
TEST_P(SizeTextTest, MebibytesWithTwoDecimals) {
    EXPECT_EQ(sizeText(GetParam().value), GetParam().text);
}
INSTANTIATE_TEST_SUITE_P(Values, SizeTextTest,
                         ::testing::Values(TextCase{"Zero", 0, u"0.00 Mb"},
                                           TextCase{"QuarterMebibytes", 4456448, u"4.25 Mb"},
                                           TextCase{"OneMebibyte", 1048576, u"1.00 Mb"},
                                           TextCase{"BeyondFourGigabytes", 5368709120ull, u"5120.00 Mb"}),
                         [](const auto& p) { return std::string(p.param.name); });

class BitRateTextTest : public ::testing::TestWithParam<TextCase> {};
TEST_P(BitRateTextTest, ThreeSignificantDigits) {
    EXPECT_EQ(bitRateText(static_cast<std::uint32_t>(GetParam().value)), GetParam().text);
}
INSTANTIATE_TEST_SUITE_P(Values, BitRateTextTest,
                         ::testing::Values(TextCase{"Unknown", 0, u"n/a"},
                                           TextCase{"BelowAThousand", 999, u"999"},
                                           TextCase{"AThousand", 1000, u"1000"},
                                           TextCase{"JustAboveAThousand", 1001, u"1 Kbit"},
                                           TextCase{"Kilobits128", 128000, u"128 Kbit"},
                                           TextCase{"Kilobits320", 320000, u"320 Kbit"},
                                           TextCase{"KilobitsWithADecimal", 96500, u"96.5 Kbit"},
                                           TextCase{"JustBelowAMillion", 999999, u"1000 Kbit"},
                                           TextCase{"AMillion", 1000000, u"1000 Kbit"},
                                           TextCase{"JustAboveAMillion", 1000001, u"1 Mbit"},
                                           TextCase{"Megabits", 1411000, u"1.41 Mbit"},
                                           TextCase{"Largest", 4294967295u, u"4290 Mbit"}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(DetailsEmphasisTest, OnlyTheStrictlyLargerValueOfTwoRecords) {
    DetailsRecord left;
    left.durationMs = 65000;
    left.sizeBytes = 100;
    left.bitRate = 128000;
    DetailsRecord right = left;
    right.durationMs = 64000;
    right.sizeBytes = 2097152; // "2.00 Mb" beside "0.00 Mb"
    EXPECT_EQ(detailsEmphasis(&left, &right), (DetailsEmphasis{true, false, false}));
    EXPECT_EQ(detailsEmphasis(&right, &left), (DetailsEmphasis{false, true, false}));
    EXPECT_EQ(detailsEmphasis(&left, nullptr), DetailsEmphasis{});
    EXPECT_EQ(detailsEmphasis(nullptr, &left), DetailsEmphasis{});
}

// Values that differ only below what the pane shows are not bold on either side.
// A lossless file beats a lossy one only while it is not a lossy file in lossless clothing.
TEST(DetailsEmphasisTest, QualityFormatAndTagsFavourTheBetterCopy) {
    DetailsRecord flac;
    flac.lossless = true;
    flac.sampleRate = 44100;
    flac.tagFields = 3;
    DetailsRecord mp3;
    mp3.sampleRate = 44100;
    mp3.tagFields = 1;
    EXPECT_TRUE(detailsEmphasis(&flac, &mp3).quality);
    EXPECT_FALSE(detailsEmphasis(&mp3, &flac).quality);
    EXPECT_FALSE(detailsEmphasis(&flac, &mp3).format); // the same rate
    EXPECT_TRUE(detailsEmphasis(&flac, &mp3).tags);
    flac.probablyTranscoded = true;
    EXPECT_FALSE(detailsEmphasis(&flac, &mp3).quality);
    mp3.sampleRate = 48000;
    EXPECT_TRUE(detailsEmphasis(&mp3, &flac).format);
}

TEST(DetailsEmphasisTest, EqualShownTextsAreNeverBold) {
    DetailsRecord left;
    left.durationMs = 40900;            // "0:40"
    left.sizeBytes = 1048576 * 4 + 100; // "4.00 Mb"
    left.bitRate = 128400;              // "128 Kbit"
    DetailsRecord right;
    right.durationMs = 40100;
    right.sizeBytes = 1048576 * 4;
    right.bitRate = 128000;
    EXPECT_EQ(detailsEmphasis(&left, &right), DetailsEmphasis{});
    EXPECT_EQ(detailsEmphasis(&right, &left), DetailsEmphasis{});
    right.durationMs = 39900; // "0:39"
    EXPECT_EQ(detailsEmphasis(&left, &right), (DetailsEmphasis{true, false, false}));
}

struct SortCase {
    const char* name;
    bool flag;
    std::vector<std::uint32_t> order;
};

void PrintTo(const SortCase& c, std::ostream* os) {
    *os << c.name;
}

class PercentOrderTest : public ::testing::TestWithParam<SortCase> {};

// Rows 1 and 4 are equal and keep their order both ways; the markers go last, -1 before -100.
TEST_P(PercentOrderTest, StableAndMarkersLast) {
    const std::vector<float> values{-100.0f, 50.0f, -1.0f, 87.5f, 50.0f, 0.0f, NAN};
    const auto order = stableRowOrder(
        static_cast<std::uint32_t>(values.size()),
        [&](std::uint32_t a, std::uint32_t b) { return percentBefore(values[a], values[b]); },
        GetParam().flag);
    EXPECT_EQ(order, GetParam().order);
}

INSTANTIATE_TEST_SUITE_P(Directions, PercentOrderTest,
                         ::testing::Values(SortCase{"HighestFirst", true, {3, 1, 4, 5, 2, 0, 6}},
                                           SortCase{"LowestFirst", false, {6, 0, 2, 5, 1, 4, 3}}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(MarkOrderTest, UnmarkedFirstThenReversed) {
    const std::vector<bool> marked{true, false, true, false};
    const auto before = [&](std::uint32_t a, std::uint32_t b) { return markBefore(marked[a], marked[b]); };
    EXPECT_EQ(stableRowOrder(4, before, true), (std::vector<std::uint32_t>{1, 3, 0, 2}));
    EXPECT_EQ(stableRowOrder(4, before, false), (std::vector<std::uint32_t>{0, 2, 1, 3}));
}

// The desktop program's export and the command line's --format share these writers.
TEST(ResultsExportTest, JsonAndCsvCarryTheSameFields) {
    DuplicatePair row;
    row.path1 = u"/m\u00fcsic/a, \"b\".mp3";
    row.path2 = u"/music/c.mp3";
    row.contentPercent = 87.5f;
    row.experimentalPercent = -1.0f;
    row.acousticPercent = 93.5f;
    const auto json = nlohmann::json::parse(formatResultsJson({row}, nullptr));
    ASSERT_EQ(json["pairs"].size(), 1u);
    EXPECT_EQ(json["pairs"][0]["path1"], "/m\xC3\xBCsic/a, \"b\".mp3");
    EXPECT_EQ(json["pairs"][0]["contentPercent"], 87.5);
    EXPECT_EQ(json["pairs"][0]["tagsPercent"], -100.0);
    EXPECT_EQ(json["pairs"][0]["acousticPercent"], 93.5);
    EXPECT_FALSE(json.contains("counters"));
    EXPECT_EQ(formatResultsCsv({row}, nullptr),
              "path1,path2,contentPercent,tagsPercent,experimentalPercent,acousticPercent\r\n"
              "\"/m\xC3\xBCsic/a, \"\"b\"\".mp3\",\"/music/c.mp3\",87.5,-100,-1,93.5\r\n");
    const ScanSummary summary{6, 5, 4, 1.5, true};
    const auto withCounters = nlohmann::json::parse(formatResultsJson({row}, &summary));
    EXPECT_EQ(withCounters["counters"]["pairsFound"], 1);
    EXPECT_EQ(withCounters["interrupted"], true);
    EXPECT_NE(formatResultsCsv({row}, &summary).find("\r\n\r\nfilesQueued,"), std::string::npos);
}

} // namespace

// --- names in windows ---

struct WindowNameCase {
    const char* name;
    std::u16string text;
    std::string shown;
};

class WindowNameTest : public ::testing::TestWithParam<WindowNameCase> {};

// A name that is not UTF-8 shows which bytes it holds instead of a replacement mark.
TEST_P(WindowNameTest, ShowsWhatCannotBeSeenAsEscapes) {
    EXPECT_EQ(tonemirror::shell::windowText(GetParam().text), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Names, WindowNameTest,
    ::testing::Values(WindowNameCase{"Plain", u"/m/Caf\u00e9 - A\\B.mp3", "/m/Caf\xC3\xA9 - A\\B.mp3"},
                      WindowNameCase{"Latin1Byte", u"/m/Caf\xDCE9.mp3", "/m/Caf\\xE9.mp3"},
                      WindowNameCase{"Controls", u"a\nb\x1B", "a\\x0Ab\\x1B"},
                      WindowNameCase{"PairKept", u"\U0001F3B5.ogg", "\xF0\x9F\x8E\xB5.ogg"},
                      WindowNameCase{"OtherLoneSurrogate", u"x\xD800y", "x\\uD800y"}),
    [](const auto& testCase) { return std::string(testCase.param.name); });
