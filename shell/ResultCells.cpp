#include "shell/ResultCells.h"

#include "engine/DetailsRecord.h"

#include <charconv>

namespace tonemirror::shell {

namespace {

std::u16string ascii(std::string_view text) {
    return std::u16string(text.begin(), text.end());
}

// Locale-independent fixed notation.
std::string fixed(double value, int decimals) {
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    return std::string(buffer, result.ptr);
}

// Three significant digits as %g writes them (no trailing zeros), but never in exponent notation:
// a rate that rounds to 1000 or more is written out ("1000", "4290").
std::string threeDigits(double value) {
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 3);
    std::string text(buffer, result.ptr);
    if (text.find('e') == std::string::npos) {
        return text;
    }
    double rounded = 0.0;
    std::from_chars(text.data(), text.data() + text.size(), rounded);
    return fixed(rounded, 0);
}

float capped(float value) {
    return std::isnan(value) ? 0.0f : std::clamp(value, 0.0f, 100.0f);
}

} // namespace

PercentState percentState(PercentColumn column, float value) {
    if (value >= 0.0f) {
        return PercentState::Value;
    }
    if (column == PercentColumn::Acoustic) {
        return PercentState::NotAvailable;
    }
    if (column != PercentColumn::Experimental) {
        return PercentState::Dash;
    }
    return value >= -1.0f ? PercentState::Wait : PercentState::NotAvailable;
}

std::u16string percentText(float value) {
    return ascii(fixed(static_cast<double>(value), 1) + "%");
}

BarColours barColours(PercentColumn column, float value) {
    const int x = static_cast<int>(std::floor(capped(value))) * 170 / 100;
    const auto deep = static_cast<std::uint8_t>(255 - x);
    switch (column) {
    case PercentColumn::Content:
        return {{0xAA, 0xAA, 0xFF}, {deep, deep, 255}};
    case PercentColumn::Tags:
        return {{0xAA, 0xFF, 0xAA}, {deep, 255, deep}};
    case PercentColumn::Acoustic: // amber, apart from the three colours of the other scores
        return {{0xFF, 0xD5, 0xAA}, {255, static_cast<std::uint8_t>(255 - x / 2), deep}};
    case PercentColumn::Experimental:
        break;
    }
    return {{0xFF, 0xAA, 0xAA}, {255, deep, deep}};
}

int barFillWidth(int width, float value) {
    if (width <= 0) {
        return 0;
    }
    // width x value first, so a whole percentage of a whole width is exact (57% of 100 is 57).
    return static_cast<int>(static_cast<double>(width) * static_cast<double>(capped(value)) / 100.0);
}

std::u16string durationText(std::uint32_t durationMs) {
    const std::uint32_t minutes = durationMs / 60000;
    const std::uint32_t seconds = (durationMs / 1000) % 60;
    const char digits[] = {static_cast<char>('0' + seconds / 10), static_cast<char>('0' + seconds % 10),
                           '\0'};
    return ascii(std::to_string(minutes) + ":" + digits);
}

std::u16string sizeText(std::uint64_t sizeBytes) {
    return ascii(fixed(static_cast<double>(sizeBytes) / 1048576.0, 2) + " Mb");
}

std::u16string bitRateText(std::uint32_t bitRate) {
    if (bitRate == 0) {
        return u"n/a";
    }
    if (bitRate <= 1000) {
        return ascii(std::to_string(bitRate));
    }
    if (bitRate <= 1000000) {
        return ascii(threeDigits(bitRate * 0.001) + " Kbit");
    }
    return ascii(threeDigits(bitRate * 0.000001) + " Mbit");
}

DetailsEmphasis detailsEmphasis(const engine::DetailsRecord* mine, const engine::DetailsRecord* other) {
    if (mine == nullptr || other == nullptr) {
        return {};
    }
    // Bold marks a difference the reader can see: "0:40" beside "0:40" stays plain even when the
    // milliseconds differ.
    const auto truly = [](const engine::DetailsRecord* r) { return r->lossless && !r->probablyTranscoded; };
    return {mine->durationMs > other->durationMs &&
                durationText(mine->durationMs) != durationText(other->durationMs),
            mine->sizeBytes > other->sizeBytes && sizeText(mine->sizeBytes) != sizeText(other->sizeBytes),
            mine->bitRate > other->bitRate && bitRateText(mine->bitRate) != bitRateText(other->bitRate),
            truly(mine) && !truly(other),
            mine->sampleRate > other->sampleRate,
            mine->tagFields > other->tagFields};
}

} // namespace tonemirror::shell
