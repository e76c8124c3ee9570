#include "analysis/TagComparison.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>

namespace tonemirror::analysis {

namespace {

constexpr float kTitleWeight = 0.4f;
constexpr float kArtistWeight = 0.3f;
constexpr float kNameWeight = 0.15f;
constexpr float kAlbumWeight = 0.15f;

constexpr unsigned kTitle = kTitlePart;
constexpr unsigned kArtist = kArtistPart;
constexpr unsigned kName = kNamePart;
constexpr unsigned kAlbum = kAlbumPart;

struct Parts {
    float title = 0.0f;
    float artist = 0.0f;
    float name = 0.0f;
    float album = 0.0f;
    unsigned counted = 0; // kTitle | kArtist | ...: parts whose weight enters the sum
};

// The weighted mean of the counted parts. Parts not counted must be 0. Kept out of line so the score
// and its bound run the very same float operations: float rounding is monotone, so larger inputs can
// never give a smaller result, which the bound relies on.
[[gnu::noinline]] float combine(const Parts& p) {
    float weights = 0.0f;
    if (p.counted & kTitle) {
        weights += kTitleWeight;
    }
    if (p.counted & kArtist) {
        weights += kArtistWeight;
    }
    if (p.counted & kName) {
        weights += kNameWeight;
    }
    if (p.counted & kAlbum) {
        weights += kAlbumWeight;
    }
    if (!(weights > 0.0f)) {
        return 0.0f;
    }
    return (kTitleWeight * p.title + kArtistWeight * p.artist + kNameWeight * p.name +
            kAlbumWeight * p.album) /
           weights;
}

// Highest score possible when each part is at most its given value: a part not always counted may be
// 0 and then leaves the weight sum, which can raise the mean, so every such choice is tried.
float bestScore(float title, float artist, float name, float album, unsigned forced) {
    const float values[4] = {title, artist, name, album};
    unsigned optional = 0;
    for (unsigned i = 0; i < 4; ++i) {
        if (!(forced & (1u << i)) && values[i] > 0.0f) {
            optional |= 1u << i;
        }
    }
    float best = 0.0f;
    // Walk every subset of the optional parts.
    for (unsigned extra = optional;; extra = (extra - 1) & optional) {
        const unsigned counted = forced | extra;
        Parts p;
        p.counted = counted;
        p.title = (counted & kTitle) ? title : 0.0f;
        p.artist = (counted & kArtist) ? artist : 0.0f;
        p.name = (counted & kName) ? name : 0.0f;
        p.album = (counted & kAlbum) ? album : 0.0f;
        best = std::max(best, combine(p));
        if (extra == 0) {
            break;
        }
    }
    return best;
}

} // namespace

float compareTags(const TrackRecord& newer, const TrackRecord& older) noexcept {
    float title = textLikeness(newer.titleText, older.titleText);
    float artist = textLikeness(newer.artistText, older.artistText);
    // Title and artist exchanged in one of the two tracks.
    const float crossTitle = textLikeness(newer.titleText, older.artistText);
    const float crossArtist = textLikeness(newer.artistText, older.titleText);
    if (title <= crossTitle && artist <= crossArtist) {
        title = crossTitle;
        artist = crossArtist;
    }
    // A missing title or artist may be written in the other file's name.
    if (newer.titleText.empty()) {
        title = std::max(title, textLikeness(newer.nameText, older.titleText));
    }
    if (older.titleText.empty()) {
        title = std::max(title, textLikeness(newer.titleText, older.nameText));
    }
    if (newer.artistText.empty()) {
        artist = std::max(artist, textLikeness(newer.nameText, older.artistText));
    }
    if (older.artistText.empty()) {
        artist = std::max(artist, textLikeness(newer.artistText, older.nameText));
    }
    Parts p;
    p.title = title;
    p.artist = artist;
    p.name = textLikeness(newer.nameText, older.nameText);
    p.album = textLikeness(newer.albumText, older.albumText);
    p.counted = partsAlwaysCounted(tagTextsOf(newer), tagTextsOf(older));
    if (p.title != 0.0f) {
        p.counted |= kTitle;
    }
    if (p.artist != 0.0f) {
        p.counted |= kArtist;
    }
    if (p.name != 0.0f) {
        p.counted |= kName;
    }
    if (p.album != 0.0f) {
        p.counted |= kAlbum;
    }
    return combine(p);
}

unsigned tagTextsOf(const TrackRecord& record) noexcept {
    return (record.titleText.empty() ? 0u : kTitle) | (record.artistText.empty() ? 0u : kArtist) |
           (record.nameText.empty() ? 0u : kName) | (record.albumText.empty() ? 0u : kAlbum);
}

// A mismatch of a title, artist or name present on both sides counts as 0; so does an album's when
// only one side has one.
unsigned partsAlwaysCounted(unsigned newerTexts, unsigned olderTexts) noexcept {
    return (newerTexts & olderTexts & (kTitle | kArtist | kName)) | ((newerTexts | olderTexts) & kAlbum);
}

float tagsScoreWithParts(float title, float artist, float name, float album,
                         unsigned alwaysCounted) noexcept {
    return bestScore(title, artist, name, album, alwaysCounted & 15u);
}

TagSketch makeTagSketch(const TrackRecord& record) noexcept {
    return TagSketch{makeTextSketch(record.nameText), makeTextSketch(record.titleText),
                     makeTextSketch(record.artistText), makeTextSketch(record.albumText)};
}

namespace {

// The TagPart bits of the texts a sketch was made from.
unsigned textsOf(const TagSketch& sketch) {
    return (sketch.title.length != 0 ? kTitle : 0u) | (sketch.artist.length != 0 ? kArtist : 0u) |
           (sketch.name.length != 0 ? kName : 0u) | (sketch.album.length != 0 ? kAlbum : 0u);
}

unsigned forcedParts(const TagSketch& newer, const TagSketch& older) {
    return partsAlwaysCounted(textsOf(newer), textsOf(older));
}

struct Fallbacks {
    float title = 0.0f;
    float artist = 0.0f;
};

Fallbacks fallbackBounds(const TagSketch& newer, const TagSketch& older) {
    Fallbacks f;
    if (newer.title.length == 0) {
        f.title = textLikenessUpperBound(newer.name, older.title);
    }
    if (older.title.length == 0) {
        f.title = std::max(f.title, textLikenessUpperBound(newer.title, older.name));
    }
    if (newer.artist.length == 0) {
        f.artist = textLikenessUpperBound(newer.name, older.artist);
    }
    if (older.artist.length == 0) {
        f.artist = std::max(f.artist, textLikenessUpperBound(newer.artist, older.name));
    }
    return f;
}

// The swap decision depends on the exact values, so both outcomes are bounded and the larger taken;
// the fallbacks only raise a part, so their bounds are folded in with max. bestScore then covers the
// weight-sum choices.
float combineBounds(float title, float artist, float crossTitle, float crossArtist, const Fallbacks& fallback,
                    float name, float album, unsigned forced) {
    float best =
        bestScore(std::max(title, fallback.title), std::max(artist, fallback.artist), name, album, forced);
    if (crossTitle > title || crossArtist > artist) { // otherwise the swapped outcome is no higher
        best = std::max(best, bestScore(std::max(crossTitle, fallback.title),
                                        std::max(crossArtist, fallback.artist), name, album, forced));
    }
    return best;
}

// The least title bound that bestScore with every other part at 1 lifts to `floor`, for each set of
// always counted parts (2 when none does: bounds never exceed 1). bestScore rises with the title, so
// the first stage below is a comparison with this; non-negative floats order as their bits.
const std::array<float, 16>& leastTitles(float floor) {
    thread_local std::uint32_t floorBits = 0;
    thread_local bool ready = false;
    thread_local std::array<float, 16> least{};
    if (ready && std::bit_cast<std::uint32_t>(floor) == floorBits) {
        return least;
    }
    for (unsigned forced = 0; forced < least.size(); ++forced) {
        const auto reaches = [&](std::uint32_t bits) {
            return bestScore(std::bit_cast<float>(bits), 1.0f, 1.0f, 1.0f, forced) >= floor;
        };
        if (!(bestScore(0.0f, 1.0f, 1.0f, 1.0f, forced) < floor)) {
            least[forced] = 0.0f; // also a floor that is no number, which turns nothing down here
            continue;
        }
        std::uint32_t low = 0;
        std::uint32_t high = std::bit_cast<std::uint32_t>(1.0f);
        if (!reaches(high)) {
            least[forced] = 2.0f;
            continue;
        }
        while (low < high) { // the least passing bits lie in [low, high]
            const std::uint32_t middle = low + (high - low) / 2;
            if (reaches(middle)) {
                high = middle;
            } else {
                low = middle + 1;
            }
        }
        least[forced] = std::bit_cast<float>(high);
    }
    floorBits = std::bit_cast<std::uint32_t>(floor);
    ready = true;
    return least;
}

} // namespace

// Mirrors compareTags with every textLikeness replaced by its upper bound.
float compareTagsUpperBound(const TagSketch& newer, const TagSketch& older) noexcept {
    return combineBounds(
        textLikenessUpperBound(newer.title, older.title), textLikenessUpperBound(newer.artist, older.artist),
        textLikenessUpperBound(newer.title, older.artist), textLikenessUpperBound(newer.artist, older.title),
        fallbackBounds(newer, older), textLikenessUpperBound(newer.name, older.name),
        textLikenessUpperBound(newer.album, older.album), forcedParts(newer, older));
}

// Every swap and fallback outcome has its title and artist parts at most the largest of their bounds,
// and every part is at most 1; bestScore rises with each part, so a stage that falls short of the
// floor with the unknown parts at 1 shows that the full bound does too.
bool tagsBoundReaches(const TagSketch& newer, const TagSketch& older, float floor) noexcept {
    const unsigned forced = forcedParts(newer, older);
    const Fallbacks fallback = fallbackBounds(newer, older);
    const float title = textLikenessUpperBound(newer.title, older.title);
    const float crossTitle = textLikenessUpperBound(newer.title, older.artist);
    const float anyTitle = std::max({title, crossTitle, fallback.title});
    if (anyTitle < leastTitles(floor)[forced]) {
        return false;
    }
    const float artist = textLikenessUpperBound(newer.artist, older.artist);
    const float crossArtist = textLikenessUpperBound(newer.artist, older.title);
    if (bestScore(anyTitle, std::max({artist, crossArtist, fallback.artist}), 1.0f, 1.0f, forced) < floor) {
        return false;
    }
    return combineBounds(title, artist, crossTitle, crossArtist, fallback,
                         textLikenessUpperBound(newer.name, older.name),
                         textLikenessUpperBound(newer.album, older.album), forced) >= floor;
}

} // namespace tonemirror::analysis
