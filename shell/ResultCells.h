#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace tonemirror::engine {
struct DetailsRecord;
}

namespace tonemirror::shell {

// --- percent cells of the results list ---

enum class PercentColumn { Content, Tags, Experimental, Acoustic };

// What a percent cell shows: the number, "-" (content and tags below their threshold), the
// translated "wait" (experimental score pending) or "n/a" (experimental comparison off or below it;
// for the acoustic match, a track without a print).
enum class PercentState { Value, Dash, Wait, NotAvailable };
PercentState percentState(PercentColumn column, float value);

// The number with one decimal and "%", for example "87.5%"; a point whatever the locale.
std::u16string percentText(float value);

// Bars are drawn only in cells at least this wide.
inline constexpr int kMinimumBarCellWidth = 20;

struct Rgb {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

// The bar's vertical gradient for a value (capped at 100): a fixed light colour at the top and, at
// the bottom, a colour that deepens as the value rises.
struct BarColours {
    Rgb top;
    Rgb bottom;
};
BarColours barColours(PercentColumn column, float value);

// Pixels of a bar `width` wide that a value fills: width x value / 100 truncated, the value capped
// to 0..100.
int barFillWidth(int width, float value);

// --- details pane ---

// Minutes, a colon and two digits of seconds: 187000 ms -> "3:07".
std::u16string durationText(std::uint32_t durationMs);
// Mebibytes with two decimals: "4.25 Mb".
std::u16string sizeText(std::uint64_t sizeBytes);
// "n/a" for 0, the plain number up to 1000, then Kbit and Mbit with three significant digits:
// "128 Kbit", "1.41 Mbit".
std::u16string bitRateText(std::uint32_t bitRate);

// Which of one file's values are written in bold: those strictly larger than the other file's whose
// shown texts differ too. Nothing is bold unless both records are there.
struct DetailsEmphasis {
    bool duration = false;
    bool size = false;
    bool bitRate = false;
    bool quality = false; // lossless (and not probably transcoded) beside a lossy copy
    bool format = false;  // the higher sample rate
    bool tags = false;    // more tag fields filled
    friend bool operator==(const DetailsEmphasis&, const DetailsEmphasis&) = default;
};
DetailsEmphasis detailsEmphasis(const engine::DetailsRecord* mine, const engine::DetailsRecord* other);

// --- sort orders of the results list, as they are with the direction flag set ---

// Unmarked rows before marked ones.
inline bool markBefore(bool a, bool b) {
    return !a && b;
}

// Highest percentage first; the negative markers (-1 pending, -100 off) after every score.
inline bool percentBefore(float a, float b) {
    const auto key = [](float v) { return std::isnan(v) ? -std::numeric_limits<float>::infinity() : v; };
    return key(a) > key(b);
}

// Row indexes rearranged by a stable sort: `before(i, j)` says row i goes first when the direction
// flag is set; with the flag cleared the order is reversed. Equal rows keep their order.
template <class Before>
std::vector<std::uint32_t> stableRowOrder(std::uint32_t rowCount, Before before, bool directionFlag) {
    std::vector<std::uint32_t> order(rowCount);
    for (std::uint32_t i = 0; i < rowCount; ++i) {
        order[i] = i;
    }
    if (directionFlag) {
        std::stable_sort(order.begin(), order.end(), before);
    } else {
        std::stable_sort(order.begin(), order.end(),
                         [&before](std::uint32_t a, std::uint32_t b) { return before(b, a); });
    }
    return order;
}

} // namespace tonemirror::shell
