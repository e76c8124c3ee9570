#include "engine/IgnoreListFormat.h"

#include "engine/IgnoreSet.h"

#include "platform/os/Paths.h"

#include <algorithm>
#include <initializer_list>
#include <string>
#include <string_view>

namespace tonemirror::engine::ignore_list {

namespace {

constexpr char16_t kQuote = u'"';

void putUnit(std::vector<std::byte>& out, char16_t c) {
    out.push_back(static_cast<std::byte>(c & 0xFF));
    out.push_back(static_cast<std::byte>(c >> 8));
}

void putText(std::vector<std::byte>& out, std::u16string_view text) {
    for (const char16_t c : text) {
        putUnit(out, c);
    }
}

bool startsWith(std::span<const std::byte> data, std::initializer_list<unsigned> bytes) {
    if (data.size() < bytes.size()) {
        return false;
    }
    std::size_t i = 0;
    for (const unsigned b : bytes) {
        if (static_cast<unsigned>(data[i++]) != b) {
            return false;
        }
    }
    return true;
}

std::u16string utf16(std::span<const std::byte> data, bool bigEndian) {
    std::u16string text(data.size() / 2, u'\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto a = static_cast<unsigned>(data[2 * i]);
        const auto b = static_cast<unsigned>(data[2 * i + 1]);
        text[i] = static_cast<char16_t>(bigEndian ? (a << 8) | b : a | (b << 8));
    }
    return text;
}

// The text of the file in UTF-16; `whole` is false when an odd last byte was left over.
std::u16string decode(std::span<const std::byte> data, bool& whole) {
    whole = true;
    const bool hasNul = std::any_of(data.begin(), data.end(), [](std::byte b) { return b == std::byte{0}; });
    if (startsWith(data, {0xEF, 0xBB, 0xBF}) ||
        (!hasNul && !startsWith(data, {0xFF, 0xFE}) && !startsWith(data, {0xFE, 0xFF}))) {
        const auto* bytes = reinterpret_cast<const char*>(data.data());
        return os::fromNativeName(std::string_view(bytes, data.size())); // paths keep every byte
    }
    whole = data.size() % 2 == 0;
    return utf16(data, startsWith(data, {0xFE, 0xFF}));
}

bool isSeparator(char16_t c) {
    return c == 0xFEFF || c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u',' || c == u';';
}

} // namespace

Parsed read(std::span<const std::byte> data, IgnoreSet& set) {
    Parsed result;
    bool whole = true;
    const std::u16string text = decode(data, whole);
    result.clean = whole;
    std::size_t pos = 0;
    for (;;) {
        std::size_t quotes[4];
        std::size_t from = pos;
        int found = 0;
        for (; found < 4; ++found) {
            const std::size_t q = text.find(kQuote, from);
            if (q == std::u16string::npos) {
                break;
            }
            quotes[found] = q;
            from = q + 1;
        }
        const std::size_t outsideEnd = found > 0 ? quotes[0] : text.size();
        for (std::size_t i = pos; i < outsideEnd; ++i) {
            result.clean = result.clean && isSeparator(text[i]);
        }
        if (found < 4) {
            result.clean = result.clean && found == 0; // a pair broken off
            break;
        }
        set.insert(text.substr(quotes[0] + 1, quotes[1] - quotes[0] - 1),
                   text.substr(quotes[2] + 1, quotes[3] - quotes[2] - 1));
        // Between the two paths only separators belong.
        for (std::size_t i = quotes[1] + 1; i < quotes[2]; ++i) {
            result.clean = result.clean && isSeparator(text[i]);
        }
        ++result.pairs;
        pos = quotes[3] + 1;
    }
    return result;
}

std::size_t parse(std::span<const std::byte> data, IgnoreSet& set) {
    return read(data, set).pairs;
}

Formatted format(const IgnoreSet& set) {
    Formatted out;
    out.bytes.reserve(2 + set.size() * 520 * 2);
    putUnit(out.bytes, 0xFEFF);
    for (const auto& [first, second] : set) {
        if (first.find(kQuote) != std::u16string::npos || second.find(kQuote) != std::u16string::npos) {
            ++out.skipped;
            continue;
        }
        putUnit(out.bytes, kQuote);
        putText(out.bytes, first);
        putText(out.bytes, u"\",\"");
        putText(out.bytes, second);
        putText(out.bytes, u"\"\r\n");
    }
    return out;
}

} // namespace tonemirror::engine::ignore_list
