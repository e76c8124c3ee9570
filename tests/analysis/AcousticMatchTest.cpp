#include "analysis/AcousticMatch.h"
#include "analysis/AcousticFingerprinter.h"
#include "analysis/CComparer.h"
#include "support/TestSignals.h"
#include "support/ToneSong.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace tonemirror::analysis {
namespace {

constexpr std::size_t kSecond = 22050;

std::vector<float> song(std::uint32_t seed, double seconds) {
    fakes::ToneSynth synth(seed);
    std::vector<float> out(static_cast<std::size_t>(seconds * kSecond));
    for (std::size_t i = 0; i < out.size(); ++i) {
        out[i] = static_cast<float>(synth.sample(i));
    }
    return out;
}

AcousticPrint printOf(const std::vector<float>& samples) {
    AcousticFingerprinter fingerprinter;
    AcousticPrint print;
    EXPECT_EQ(fingerprinter.compute(samples.data(), samples.size(), print), S_OK);
    return print;
}

// The 60 s a verifying scan would print of a copy that starts `skip` samples into the original
// (negative: after that much silence).
std::vector<float> excerpt(const std::vector<float>& x, std::ptrdiff_t skip, double seconds = 60.0) {
    std::vector<float> out;
    if (skip < 0) {
        out.assign(static_cast<std::size_t>(-skip), 0.0f);
        skip = 0;
    }
    out.insert(out.end(), x.begin() + skip, x.end());
    out.resize(static_cast<std::size_t>(seconds * kSecond), 0.0f);
    return out;
}

// Through 11025 per second and back: the top half of the band is gone, the rest interpolated.
std::vector<float> resampledCopy(const std::vector<float>& x) {
    std::vector<float> out(x.size());
    for (std::size_t i = 0; i + 2 < x.size(); i += 2) {
        const float a = 0.5f * (x[i] + x[i + 1]);
        const float b = 0.5f * (x[i + 2] + x[i + 3 < x.size() ? i + 3 : i + 2]);
        out[i] = a;
        out[i + 1] = 0.5f * (a + b);
    }
    return out;
}

// Coarse quantisation plus hiss, as a poorly encoded copy.
std::vector<float> roughCopy(const std::vector<float>& x) {
    std::vector<float> out(x.size());
    std::uint32_t noise = 99;
    for (std::size_t i = 0; i < x.size(); ++i) {
        noise = noise * 1664525u + 1013904223u;
        const float hiss = (static_cast<float>(noise >> 8) / 16777216.0f - 0.5f) * 0.02f;
        out[i] = std::round((x[i] + hiss) * 64.0f) / 64.0f;
    }
    return out;
}

struct CopyCase {
    std::string name;
    std::function<std::vector<float>(const std::vector<float>&)> make;
};

void PrintTo(const CopyCase& c, std::ostream* os) {
    *os << c.name;
}

class AcousticCopies : public ::testing::TestWithParam<CopyCase> {};

TEST_P(AcousticCopies, ACopyOfTheRecordingScoresHighAnotherPieceLow) {
    const std::vector<float> original = song(7, 75.0);
    const AcousticPrint reference = printOf(excerpt(original, 0));
    const AcousticPrint copy = printOf(GetParam().make(original));
    const AcousticPrint other = printOf(excerpt(song(8, 75.0), 0));

    const float same = compareAcoustic(reference, copy);
    EXPECT_GE(same, 0.75f);
    EXPECT_EQ(same, compareAcoustic(copy, reference));
    EXPECT_LE(compareAcoustic(copy, other), 0.3f);
    // Deciding against a threshold gives the same score for the copy, and turns the other down.
    EXPECT_EQ(compareAcousticAtLeast(reference, copy, 0.5f), same);
    EXPECT_LT(compareAcousticAtLeast(copy, other, 0.5f), 0.5f);
    EXPECT_EQ(compareAcousticAtLeast(copy, other, 0.0f), compareAcoustic(copy, other));
    // Verification also asks for shared words: the copy has them, the other piece not.
    EXPECT_TRUE(printsShareWords(reference, copy));
    EXPECT_FALSE(printsShareWords(copy, other));
}

INSTANTIATE_TEST_SUITE_P(
    Variants, AcousticCopies,
    ::testing::Values(
        CopyCase{"Identical", [](const auto& x) { return excerpt(x, 0); }},
        CopyCase{"TenDecibelsQuieter",
                 [](const auto& x) {
                     auto y = excerpt(x, 0);
                     for (float& v : y) {
                         v *= 0.316f;
                     }
                     return y;
                 }},
        CopyCase{"ThreeSecondsOfSilenceFirst", [](const auto& x) { return excerpt(x, -3 * kSecond); }},
        CopyCase{"StartsHalfAFrameLate", [](const auto& x) { return excerpt(x, 1365); }},
        CopyCase{"StartsEightSecondsIn", [](const auto& x) { return excerpt(x, 8 * kSecond); }},
        CopyCase{"TwelveSecondsOfSilenceFirst", [](const auto& x) { return excerpt(x, -12 * kSecond); }},
        CopyCase{"FadedInAndOutAndSquashed",
                 [](const auto& x) {
                     auto y = excerpt(x, 0);
                     const float fade = 4.0f * kSecond;
                     for (std::size_t i = 0; i < y.size(); ++i) {
                         const float edge = static_cast<float>(std::min(i, y.size() - 1 - i));
                         // Hard compression towards one level, then the fades.
                         const float v = std::tanh(8.0f * y[i]) * 0.9f;
                         y[i] = v * std::min(1.0f, edge / fade);
                     }
                     return y;
                 }},
        CopyCase{"OnlyTheFirstThirtySeconds", [](const auto& x) { return excerpt(x, 0, 30.0); }},
        CopyCase{"HalfTheSampleRate", [](const auto& x) { return resampledCopy(excerpt(x, 0)); }},
        CopyCase{"RoughAndLateAndQuiet",
                 [](const auto& x) {
                     auto y = roughCopy(excerpt(x, 2 * kSecond + 333));
                     for (float& v : y) {
                         v *= 0.5f;
                     }
                     return y;
                 }}),
    [](const auto& p) { return p.param.name; });

// Pairs of words that differ in at most one bit, counted the plain way.
std::size_t nearPairsPlainly(const AcousticPrint& a, const AcousticPrint& b) {
    std::vector<std::uint32_t> x(a.begin(), a.end());
    std::vector<std::uint32_t> y(b.begin(), b.end());
    for (auto* v : {&x, &y}) {
        std::sort(v->begin(), v->end());
        v->erase(std::unique(v->begin(), v->end()), v->end());
    }
    std::size_t pairs = 0;
    for (const std::uint32_t w : x) {
        for (const std::uint32_t u : y) {
            pairs += std::popcount(w ^ u) <= 1 ? 1 : 0;
        }
    }
    return pairs;
}

std::size_t nearPairs(const AcousticPrint& a, const AcousticPrint& b) {
    std::vector<std::uint32_t> words[2];
    std::vector<std::uint32_t> swapped[2];
    distinctPrintWords(a, words[0], swapped[0]);
    distinctPrintWords(b, words[1], swapped[1]);
    return nearWordPairs({words[0], swapped[0]}, {words[1], swapped[1]}, SIZE_MAX);
}

struct WordsCase {
    const char* name;
    AcousticPrint first;
    AcousticPrint second;
    std::size_t pairs;
};

void PrintTo(const WordsCase& c, std::ostream* os) {
    *os << c.name;
}

class NearWords : public ::testing::TestWithParam<WordsCase> {};

TEST_P(NearWords, CountsEachPairOfWordsOneBitApartOnce) {
    const WordsCase& c = GetParam();
    EXPECT_EQ(nearPairs(c.first, c.second), c.pairs);
    EXPECT_EQ(nearPairs(c.second, c.first), c.pairs);
    EXPECT_EQ(nearPairsPlainly(c.first, c.second), c.pairs);
}

INSTANTIATE_TEST_SUITE_P(Pairs, NearWords,
                         ::testing::Values(WordsCase{"Equal", {0x12345678u}, {0x12345678u}, 1},
                                           WordsCase{"RepeatedWordsCountOnce", {7u, 7u, 7u}, {7u, 7u}, 1},
                                           WordsCase{"LowestBit", {0x12345678u}, {0x12345679u}, 1},
                                           WordsCase{"HighestBit", {0x12345678u}, {0x92345678u}, 1},
                                           WordsCase{"BitsInBothHalves", {0x12345678u}, {0x12355679u}, 0},
                                           WordsCase{"TwoLowBits", {0x12345678u}, {0x1234567Bu}, 0},
                                           WordsCase{"TwoHighBits", {0x12345678u}, {0x32245678u}, 0},
                                           WordsCase{"OneWordNearTwo", {0u}, {1u, 2u, 0x10000u, 3u}, 3},
                                           WordsCase{"SameLowHalvesOnly",
                                                     {0xAAAA0000u, 0x5555FFFFu},
                                                     {0xBBBB0000u, 0x5555FFFEu},
                                                     1},
                                           WordsCase{"Empty", {}, {1u}, 0}),
                         [](const auto& p) { return std::string(p.param.name); });

// Random prints with words planted exactly, one bit off in either half, or two bits off: the merge over
// both orders finds exactly the plain count, and stops at the number asked for.
TEST(NearWordsProperty, MatchesThePlainCountOnRandomPrints) {
    std::mt19937 rng(17);
    for (int round = 0; round < 60; ++round) {
        AcousticPrint a(1 + rng() % 300);
        AcousticPrint b(1 + rng() % 300);
        // Few distinct halves, so that words agreeing in one half are common.
        const std::uint32_t halves = 1 + rng() % 64;
        for (auto* p : {&a, &b}) {
            for (auto& w : *p) {
                w = ((rng() % halves) << 16 | (rng() % halves)) ^ (1u << (rng() % 32));
            }
        }
        for (int k = 0; k < 5; ++k) {
            const std::uint32_t w = a[rng() % a.size()];
            b[rng() % b.size()] = rng() % 3 == 0 ? w : w ^ (1u << (rng() % 32)) ^ (1u << (rng() % 32));
        }
        const std::size_t plain = nearPairsPlainly(a, b);
        ASSERT_EQ(nearPairs(a, b), plain) << "round " << round;
        std::vector<std::uint32_t> words[2];
        std::vector<std::uint32_t> swapped[2];
        distinctPrintWords(a, words[0], swapped[0]);
        distinctPrintWords(b, words[1], swapped[1]);
        EXPECT_EQ(nearWordPairs({words[0], swapped[0]}, {words[1], swapped[1]}, 2),
                  std::min<std::size_t>(plain, 2));
        EXPECT_EQ(printsShareWords(a, b), plain >= kNearWordPairs);
    }
}

// The score as first written: every alignment, every block, the most frames in matching blocks.
float acousticPlainly(const AcousticPrint& a, const AcousticPrint& b) {
    const auto na = static_cast<std::ptrdiff_t>(std::min(a.size(), kMaxAcousticWords));
    const auto nb = static_cast<std::ptrdiff_t>(std::min(b.size(), kMaxAcousticWords));
    if (std::min(na, nb) < static_cast<std::ptrdiff_t>(kMinAcousticWords)) {
        return 0.0f;
    }
    std::ptrdiff_t best = 0;
    for (std::ptrdiff_t shift = -kMaxAcousticShift; shift <= kMaxAcousticShift; ++shift) {
        const std::ptrdiff_t begin = std::max<std::ptrdiff_t>(0, shift);
        const std::ptrdiff_t end = std::min(na, nb + shift);
        if (end - begin < static_cast<std::ptrdiff_t>(kMinAcousticWords)) {
            continue;
        }
        std::ptrdiff_t matched = 0;
        for (std::ptrdiff_t at = begin; at < end; at += kAcousticBlock) {
            const std::ptrdiff_t len = std::min<std::ptrdiff_t>(kAcousticBlock, end - at);
            int bits = 0;
            for (std::ptrdiff_t i = at; i < at + len; ++i) {
                bits +=
                    std::popcount(a[static_cast<std::size_t>(i)] ^ b[static_cast<std::size_t>(i - shift)]);
            }
            if (static_cast<float>(bits) <= kBlockErrorLimit * static_cast<float>(len * 32)) {
                matched += len;
            }
        }
        best = std::max(best, matched);
    }
    return static_cast<float>(best) / static_cast<float>(std::min(na, nb));
}

// Random prints and copies of them (cut at either end, shifted, bits flipped at several rates, runs of
// damaged blocks): the score skips alignments and blocks that cannot beat the best so far, and must
// still give exactly the plain score.
TEST(AcousticMatchProperty, EqualsThePlainScoreOnCopiesAndStrangers) {
    std::mt19937 rng(23);
    const auto flip = [&](AcousticPrint& p, unsigned oneIn) {
        for (auto& w : p) {
            for (unsigned bit = 0; bit < 32; ++bit) {
                w ^= rng() % oneIn == 0 ? 1u << bit : 0u;
            }
        }
    };
    for (int round = 0; round < 300; ++round) {
        AcousticPrint a(rng() % 1100);
        for (auto& w : a) {
            w = rng();
        }
        AcousticPrint b;
        if (round % 5 == 0 || a.empty()) {
            b.resize(rng() % 1100);
            for (auto& w : b) {
                w = rng();
            }
        } else {
            const std::size_t from = rng() % std::min<std::size_t>(a.size(), 140);
            const std::size_t to = from + rng() % (a.size() - from + 1);
            b.assign(a.begin() + static_cast<std::ptrdiff_t>(from),
                     a.begin() + static_cast<std::ptrdiff_t>(to));
            flip(b, 2 + rng() % 12);
            for (std::size_t at = rng() % 64; at + 24 < b.size(); at += 40 + rng() % 200) {
                std::fill(b.begin() + static_cast<std::ptrdiff_t>(at),
                          b.begin() + static_cast<std::ptrdiff_t>(at + rng() % 24), rng());
            }
        }
        ASSERT_EQ(compareAcoustic(a, b), acousticPlainly(a, b)) << "round " << round;
        ASSERT_EQ(compareAcoustic(b, a), acousticPlainly(b, a)) << "round " << round;
    }
}

// Songs that share their opening and then go apart are not copies of each other: the score is the
// share of the compared span that matches, not how well the best few seconds do.
TEST(AcousticMatch, ASharedOpeningScoresOnlyItsShareOfTheSpan) {
    const std::vector<float> original = song(31, 75.0);
    const std::vector<float> other = song(32, 75.0);
    for (const double sharedSeconds : {8.0, 15.0}) {
        const auto shared = static_cast<std::ptrdiff_t>(sharedSeconds * kSecond);
        std::vector<float> medley(original.begin(), original.begin() + shared);
        medley.insert(medley.end(), other.begin() + shared, other.end());
        const float score = compareAcoustic(printOf(excerpt(original, 0)), printOf(excerpt(medley, 0)));
        EXPECT_GE(score, 0.7f * sharedSeconds / 60.0) << sharedSeconds;
        EXPECT_LE(score, 1.2f * sharedSeconds / 60.0 + 0.05) << sharedSeconds;
        EXPECT_LT(compareAcousticAtLeast(printOf(excerpt(original, 0)), printOf(excerpt(medley, 0)), 0.5f),
                  0.5f);
    }
}

TEST(AcousticMatch, UnrelatedPiecesStayNearChance) {
    std::vector<AcousticPrint> prints;
    for (std::uint32_t seed = 20; seed < 26; ++seed) {
        prints.push_back(printOf(excerpt(song(seed, 31.0), 0, 30.0)));
    }
    for (std::size_t i = 0; i < prints.size(); ++i) {
        for (std::size_t j = i + 1; j < prints.size(); ++j) {
            EXPECT_LE(compareAcoustic(prints[i], prints[j]), 0.45f) << i << " vs " << j;
        }
    }
}

TEST(AcousticMatch, ShiftsBeyondTheSearchOrTooShortAPrintDoNotMatch) {
    AcousticPrint a(240);
    std::uint32_t state = 1;
    for (auto& w : a) {
        state = state * 1664525u + 1013904223u;
        w = state;
    }
    // Shifted by the largest shift searched, either way round: found whole. One frame more: outside
    // the search, and the rest looks random.
    const AcousticPrint near(a.begin() + kMaxAcousticShift, a.end());
    const AcousticPrint far(a.begin() + kMaxAcousticShift + 1, a.end());
    EXPECT_FLOAT_EQ(compareAcoustic(a, near), 1.0f);
    EXPECT_FLOAT_EQ(compareAcoustic(near, a), 1.0f);
    EXPECT_FLOAT_EQ(compareAcousticAtLeast(near, a, 0.9f), 1.0f);
    EXPECT_LT(compareAcoustic(a, far), 0.1f);
    EXPECT_LT(compareAcoustic(far, a), 0.1f);
    EXPECT_EQ(compareAcoustic(a, AcousticPrint(a.begin(), a.begin() + kMinAcousticWords - 1)), 0.0f);
    EXPECT_EQ(compareAcoustic(a, {}), 0.0f);
    // Frames of the shorter print that the other does not reach count against the match.
    const AcousticPrint head(a.begin(), a.begin() + 120);
    AcousticPrint tail(a.begin() + 60, a.begin() + 180);
    EXPECT_NEAR(compareAcoustic(head, tail), 0.5f, 0.07f);
    EXPECT_EQ(compareAcoustic(head, tail), compareAcoustic(tail, head));
    // Every bit different at every shift is as far from a match as it gets.
    const AcousticPrint zeros(200, 0u);
    const AcousticPrint ones(200, ~0u);
    EXPECT_EQ(compareAcoustic(zeros, ones), 0.0f);
    EXPECT_EQ(compareAcoustic(ones, ones), 1.0f);
}

TEST(AcousticFingerprinter, AFewFramesOrASteadyToneGiveNoPrint) {
    AcousticFingerprinter fingerprinter;
    AcousticPrint print{1, 2, 3};
    const std::vector<float> shortSound = song(3, 1.0);
    EXPECT_EQ(fingerprinter.compute(shortSound.data(), shortSound.size(), print), E_FAIL);
    EXPECT_TRUE(print.empty());
    // Two steady tones would share almost every bit, so neither gets a print.
    std::vector<float> tone(20 * kSecond);
    for (std::size_t i = 0; i < tone.size(); ++i) {
        tone[i] = 0.5f * static_cast<float>(std::sin(2.0 * M_PI * 440.0 * static_cast<double>(i) / kSecond));
    }
    print = {1};
    EXPECT_EQ(fingerprinter.compute(tone.data(), tone.size(), print), E_FAIL);
    EXPECT_TRUE(print.empty());
    // The context is reusable after a failure, and odd values are tolerated.
    std::vector<float> full = song(3, 30.0);
    full[100] = NAN;
    full[200] = 40.0f;
    EXPECT_EQ(fingerprinter.compute(full.data(), full.size(), print), S_OK);
    EXPECT_GT(print.size(), 200u);
}

std::vector<std::byte> bytes(std::initializer_list<int> values) {
    std::vector<std::byte> out;
    for (int v : values) {
        out.push_back(static_cast<std::byte>(v));
    }
    return out;
}

TEST(AcousticStorage, RoundTripsAndEmptyStaysEmpty) {
    const AcousticPrint print = {0x01020304u, 0xFFFFFFFFu, 0u, 0x80000001u};
    std::vector<std::byte> stored;
    encodeAcousticPrint(print, 1, stored);
    EXPECT_EQ(stored, bytes({1, 1, 4, 0, 4, 3, 2, 1, 255, 255, 255, 255, 0, 0, 0, 0, 1, 0, 0, 128}));
    AcousticPrint back;
    ASSERT_EQ(decodeAcousticPrint(stored, 1, back), S_OK);
    EXPECT_EQ(back, print);

    encodeAcousticPrint({}, 1, stored);
    EXPECT_TRUE(stored.empty());
    EXPECT_EQ(decodeAcousticPrint(stored, 1, back), S_OK);
    EXPECT_TRUE(back.empty());

    // The largest print stored: every word kept.
    const AcousticPrint largest(kMaxAcousticWords, 0xA5A5A5A5u);
    encodeAcousticPrint(largest, 1, stored);
    ASSERT_EQ(decodeAcousticPrint(stored, 1, back), S_OK);
    EXPECT_EQ(back, largest);

    // Another algorithm's print is well formed but not comparable.
    back = {5};
    EXPECT_EQ(decodeAcousticPrint(bytes({1, 3, 1, 0, 9, 9, 9, 9}), 1, back), kOtherAlgorithm);
    EXPECT_TRUE(back.empty());
}

struct BadPrintCase {
    const char* name;
    std::vector<std::byte> data;
};

void PrintTo(const BadPrintCase& c, std::ostream* os) {
    *os << c.name;
}

class BadStoredPrint : public ::testing::TestWithParam<BadPrintCase> {};

TEST_P(BadStoredPrint, IsRefusedAndLeavesNothing) {
    AcousticPrint out{7};
    EXPECT_EQ(decodeAcousticPrint(GetParam().data, 1, out), E_INVALIDARG);
    EXPECT_TRUE(out.empty());
}

std::vector<std::byte> claimingWords(std::size_t claimed, std::size_t present) {
    std::vector<std::byte> out =
        bytes({1, 1, static_cast<int>(claimed & 0xFF), static_cast<int>(claimed >> 8)});
    out.resize(kAcousticHeadSize + 4 * present, std::byte{0x5A});
    return out;
}

INSTANTIATE_TEST_SUITE_P(Malformed, BadStoredPrint,
                         ::testing::Values(BadPrintCase{"OneByte", bytes({1})},
                                           BadPrintCase{"HalfAHead", bytes({1, 1, 1})},
                                           BadPrintCase{"UnknownFormat", bytes({2, 1, 1, 0, 0, 0, 0, 0})},
                                           BadPrintCase{"NoWords", claimingWords(0, 0)},
                                           BadPrintCase{"FewerWordsThanClaimed", claimingWords(2, 1)},
                                           BadPrintCase{"MoreWordsThanClaimed", claimingWords(1, 2)},
                                           BadPrintCase{"OneWordTooMany", claimingWords(1025, 1025)},
                                           BadPrintCase{"HugeClaim", claimingWords(65535, 3)}),
                         [](const auto& p) { return std::string(p.param.name); });

fakes::Signal toPcm(const std::vector<float>& x) {
    fakes::Signal s(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) {
        s[i] = static_cast<std::int16_t>(std::lround(std::clamp(x[i], -1.0f, 1.0f) * 32767.0f));
    }
    return s;
}

// The long print goes on past the excerpt without a gap or a repeat, while the content fingerprint
// still sees the excerpt alone.
TEST(AcousticAnalysis, TheLongPrintCoversTheOpeningAndLeavesTheContentFingerprintAlone) {
    const std::vector<float> music = song(12, 100.0);
    std::vector<float> late(2 * kSecond + 501, 0.0f);
    late.insert(late.end(), music.begin(), music.end());
    auto signals = std::make_shared<fakes::SignalMap>(fakes::SignalMap{{u"a.wav", toPcm(late)}});
    CComparer comparer(fakes::makeSignalSource(signals));
    ASSERT_EQ(comparer.analyseFile(u"a.wav"), S_OK);
    const TrackRecord brief = comparer.record();
    EXPECT_FALSE(brief.acousticPrintLong);
    comparer.setLongPrint(true);
    ASSERT_EQ(comparer.analyseFile(u"a.wav"), S_OK);
    const TrackRecord& full = comparer.record();
    EXPECT_TRUE(full.acousticPrintLong);
    EXPECT_EQ(full.meanSpectrum, brief.meanSpectrum);
    EXPECT_EQ(full.levelProfile, brief.levelProfile);
    const auto frames = [](double seconds) {
        return static_cast<std::size_t>(seconds * kAcousticFramesPerSecond);
    };
    EXPECT_GT(full.acousticPrint.size(), frames(kAcousticSpanLength / double(kSecond) - 3.0));
    EXPECT_LE(full.acousticPrint.size(), frames(kAcousticSpanLength / double(kSecond)) + 1);
    // The print of the samples themselves, from where the music starts.
    const AcousticPrint direct = printOf(excerpt(music, 0, kAcousticSpanLength / double(kSecond)));
    EXPECT_GE(compareAcoustic(full.acousticPrint, direct), 0.9f);
    EXPECT_LE(compareAcoustic(full.acousticPrint, brief.acousticPrint), 1.0f);
    EXPECT_GE(compareAcoustic(full.acousticPrint, brief.acousticPrint), 0.95f)
        << "the excerpt's print is its head";
}

TEST(AcousticAnalysis, AnalysingAFileMakesThePrintAndSilenceBeforeItDoesNotMatter) {
    const std::vector<float> music = song(11, 40.0);
    std::vector<float> late(4 * kSecond + 77, 0.0f);
    late.insert(late.end(), music.begin(), music.end());
    auto signals = std::make_shared<fakes::SignalMap>(
        fakes::SignalMap{{u"a.wav", toPcm(music)}, {u"b.wav", toPcm(late)}});
    CComparer comparer(fakes::makeSignalSource(signals));
    ASSERT_EQ(comparer.analyseFile(u"a.wav"), S_OK);
    const AcousticPrint first = comparer.record().acousticPrint;
    ASSERT_EQ(comparer.analyseFile(u"b.wav"), S_OK);
    EXPECT_GT(first.size(), 200u);
    EXPECT_GE(compareAcoustic(first, comparer.record().acousticPrint), 0.8f);
}

// The screen of compareAcousticAtLeast, word by word: at some alignment, the blocks whose every fourth
// word pair differs in at most the block limit plus 0.1 of their bits cover the threshold's share of
// the shorter print less 0.05, and so does the overlap.
bool passesScreen(const AcousticPrint& a, const AcousticPrint& b, float threshold) {
    const auto na = static_cast<std::ptrdiff_t>(std::min(a.size(), kMaxAcousticWords));
    const auto nb = static_cast<std::ptrdiff_t>(std::min(b.size(), kMaxAcousticWords));
    const auto block = static_cast<std::ptrdiff_t>(kAcousticBlock);
    if (std::min(na, nb) < static_cast<std::ptrdiff_t>(kMinAcousticWords)) {
        return false;
    }
    const float needed = (threshold - 0.05f) * static_cast<float>(std::min(na, nb));
    for (std::ptrdiff_t shift = -kMaxAcousticShift; shift <= kMaxAcousticShift; ++shift) {
        const std::ptrdiff_t begin = std::max<std::ptrdiff_t>(0, shift);
        const std::ptrdiff_t end = std::min(na, nb + shift);
        if (end - begin < static_cast<std::ptrdiff_t>(kMinAcousticWords) ||
            static_cast<float>(end - begin) < needed) {
            continue;
        }
        std::ptrdiff_t possible = 0;
        for (std::ptrdiff_t at = begin; at < end; at += block) {
            std::uint32_t bits = 0;
            std::size_t looked = 0;
            for (std::ptrdiff_t i = at; i < std::min(at + block, end); i += 4, ++looked) {
                bits += static_cast<std::uint32_t>(
                    std::popcount(a[static_cast<std::size_t>(i)] ^ b[static_cast<std::size_t>(i - shift)]));
            }
            if (static_cast<float>(bits) <= (kBlockErrorLimit + 0.1f) * static_cast<float>(looked * 32)) {
                possible += std::min(block, end - at);
            }
        }
        if (static_cast<float>(possible) >= needed) {
            return true;
        }
    }
    return false;
}

TEST(AcousticMatch, DecidingAgainstAThresholdScreensEveryFourthWordOfEachAlignment) {
    std::mt19937 rng(21);
    std::size_t passed = 0;
    std::size_t failedScreen = 0;
    for (const std::size_t length :
         {15u, 16u, 17u, 18u, 19u, 21u, 50u, 81u, 83u, 85u, 239u, 240u, 400u, 1030u}) {
        for (const double flip : {0.2, 0.3, 0.32, 0.34, 0.35, 0.36, 0.38, 0.42, 0.45}) {
            AcousticPrint a(length);
            for (auto& w : a) {
                w = static_cast<std::uint32_t>(rng());
            }
            // A later start, a shorter end and some bits flipped.
            const std::size_t skip = rng() % 7;
            AcousticPrint b(
                a.begin() + static_cast<std::ptrdiff_t>(std::min(skip, a.size())),
                a.end() - static_cast<std::ptrdiff_t>(std::min<std::size_t>(rng() % 5, a.size() - skip)));
            std::bernoulli_distribution flipped(flip);
            for (auto& w : b) {
                for (int bit = 0; bit < 32; ++bit) {
                    w ^= flipped(rng) ? (1u << bit) : 0u;
                }
            }
            for (const float threshold : {0.3f, 0.5f, 0.7f}) {
                const bool screened = passesScreen(a, b, threshold);
                EXPECT_EQ(compareAcousticAtLeast(a, b, threshold), screened ? compareAcoustic(a, b) : 0.0f)
                    << length << " " << flip << " " << threshold;
                (screened ? passed : failedScreen) += 1;
            }
        }
    }
    EXPECT_GT(passed, 10u);
    EXPECT_GT(failedScreen, 10u);
}

} // namespace
} // namespace tonemirror::analysis
