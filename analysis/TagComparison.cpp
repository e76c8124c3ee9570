#include "analysis/TagComparison.h"

#include <algorithm>

namespace tonemirror::analysis {

namespace {

constexpr float kTitleWeight = 0.4f;
constexpr float kArtistWeight = 0.3f;
constexpr float kNameWeight = 0.15f;
constexpr float kAlbumWeight = 0.15f;

enum : unsigned { kTitle = 1, kArtist = 2, kName = 4, kAlbum = 8 };

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

// Parts counted whatever their score: a title, artist or name present on both sides (a mismatch then
// counts as 0), an album present on either side.
unsigned alwaysCounted(const TrackRecord& a, const TrackRecord& b) {
    unsigned counted = 0;
    if (!a.titleText.empty() && !b.titleText.empty()) {
        counted |= kTitle;
    }
    if (!a.artistText.empty() && !b.artistText.empty()) {
        counted |= kArtist;
    }
    if (!a.nameText.empty() && !b.nameText.empty()) {
        counted |= kName;
    }
    if (!a.albumText.empty() || !b.albumText.empty()) {
        counted |= kAlbum;
    }
    return counted;
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
    p.counted = alwaysCounted(newer, older);
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

TagSketch makeTagSketch(const TrackRecord& record) noexcept {
    return TagSketch{makeTextSketch(record.nameText), makeTextSketch(record.titleText),
                     makeTextSketch(record.artistText), makeTextSketch(record.albumText)};
}

// Mirrors compareTags with every textLikeness replaced by its upper bound. The swap decision depends
// on the exact values, so both outcomes are bounded and the larger taken; the fallbacks only raise a
// part, so their bounds are folded in with max. bestScore then covers the weight-sum choices.
float compareTagsUpperBound(const TrackRecord& newer, const TagSketch& newerSketch, const TrackRecord& older,
                            const TagSketch& olderSketch) noexcept {
    const auto bound = [](const std::u16string& a, const TextSketch& as, const std::u16string& b,
                          const TextSketch& bs) { return textLikenessUpperBound(a, as, b, bs); };
    const float title = bound(newer.titleText, newerSketch.title, older.titleText, olderSketch.title);
    const float artist = bound(newer.artistText, newerSketch.artist, older.artistText, olderSketch.artist);
    const float crossTitle = bound(newer.titleText, newerSketch.title, older.artistText, olderSketch.artist);
    const float crossArtist = bound(newer.artistText, newerSketch.artist, older.titleText, olderSketch.title);

    float titleFallback = 0.0f;
    float artistFallback = 0.0f;
    if (newer.titleText.empty()) {
        titleFallback = bound(newer.nameText, newerSketch.name, older.titleText, olderSketch.title);
    }
    if (older.titleText.empty()) {
        titleFallback = std::max(titleFallback,
                                 bound(newer.titleText, newerSketch.title, older.nameText, olderSketch.name));
    }
    if (newer.artistText.empty()) {
        artistFallback = bound(newer.nameText, newerSketch.name, older.artistText, olderSketch.artist);
    }
    if (older.artistText.empty()) {
        artistFallback = std::max(
            artistFallback, bound(newer.artistText, newerSketch.artist, older.nameText, olderSketch.name));
    }
    const float name = bound(newer.nameText, newerSketch.name, older.nameText, olderSketch.name);
    const float album = bound(newer.albumText, newerSketch.album, older.albumText, olderSketch.album);
    const unsigned forced = alwaysCounted(newer, older);

    float best =
        bestScore(std::max(title, titleFallback), std::max(artist, artistFallback), name, album, forced);
    if (crossTitle > title || crossArtist > artist) { // otherwise the swapped outcome is no higher
        best = std::max(best, bestScore(std::max(crossTitle, titleFallback),
                                        std::max(crossArtist, artistFallback), name, album, forced));
    }
    return best;
}

} // namespace tonemirror::analysis
