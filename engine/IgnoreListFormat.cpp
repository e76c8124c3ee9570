#include "engine/IgnoreListFormat.h"

#include "engine/IgnoreSet.h"

#include <string>
#include <string_view>

namespace tonemirror::engine::ignore_list {

namespace {

constexpr char16_t kQuote = u'"';

char16_t unitAt(std::span<const std::byte> data, std::size_t index) {
    return static_cast<char16_t>(static_cast<unsigned>(data[2 * index]) |
                                 (static_cast<unsigned>(data[2 * index + 1]) << 8));
}

void putUnit(std::vector<std::byte>& out, char16_t c) {
    out.push_back(static_cast<std::byte>(c & 0xFF));
    out.push_back(static_cast<std::byte>(c >> 8));
}

void putText(std::vector<std::byte>& out, std::u16string_view text) {
    for (const char16_t c : text) {
        putUnit(out, c);
    }
}

} // namespace

std::size_t parse(std::span<const std::byte> data, IgnoreSet& set) {
    const std::size_t units = data.size() / 2;
    std::size_t pos = 0;
    // Index just after the next quote at or after `pos`, or 0 when there is none.
    const auto nextQuote = [&](std::size_t from) -> std::size_t {
        for (std::size_t i = from; i < units; ++i) {
            if (unitAt(data, i) == kQuote) {
                return i + 1;
            }
        }
        return 0;
    };
    const auto text = [&](std::size_t begin, std::size_t endQuote) {
        std::u16string s;
        s.reserve(endQuote - begin);
        for (std::size_t i = begin; i < endQuote; ++i) {
            s.push_back(unitAt(data, i));
        }
        return s;
    };
    std::size_t pairs = 0;
    for (;;) {
        const std::size_t firstBegin = nextQuote(pos);
        if (firstBegin == 0) {
            break;
        }
        const std::size_t firstEnd = nextQuote(firstBegin);
        if (firstEnd == 0) {
            break;
        }
        const std::size_t secondBegin = nextQuote(firstEnd);
        if (secondBegin == 0) {
            break;
        }
        const std::size_t secondEnd = nextQuote(secondBegin);
        if (secondEnd == 0) {
            break;
        }
        set.insert(text(firstBegin, firstEnd - 1), text(secondBegin, secondEnd - 1));
        ++pairs;
        pos = secondEnd;
    }
    return pairs;
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
