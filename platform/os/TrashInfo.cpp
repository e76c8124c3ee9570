#include "platform/os/TrashInfo.h"

#include <algorithm>
#include <cstring>

namespace tonemirror::os {

namespace {

constexpr std::string_view kGroup = "[Trash Info]";
constexpr std::string_view kPathKey = "Path=";
constexpr std::string_view kDateKey = "DeletionDate=";

bool keptAsIs(unsigned char byte) {
    return (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') ||
           (byte != '\0' && std::strchr("/-_.!~*'()", byte) != nullptr);
}

int hexValue(char digit) {
    if (digit >= '0' && digit <= '9') {
        return digit - '0';
    }
    if (digit >= 'a' && digit <= 'f') {
        return digit - 'a' + 10;
    }
    if (digit >= 'A' && digit <= 'F') {
        return digit - 'A' + 10;
    }
    return -1;
}

// One line without its end; a CR before the LF is dropped as other writers may add one.
std::string_view nextLine(std::string_view& text) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    return line;
}

} // namespace

std::string percentEncodePath(std::string_view bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (keptAsIs(byte)) {
            text.push_back(c);
        } else {
            text += {'%', kHex[byte >> 4], kHex[byte & 0x0F]};
        }
    }
    return text;
}

std::optional<std::string> percentDecodePath(std::string_view text) {
    std::string bytes;
    bytes.reserve(text.size());
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (text[at] != '%') {
            bytes.push_back(text[at]);
            continue;
        }
        if (text.size() - at < 3) {
            return std::nullopt;
        }
        const int high = hexValue(text[at + 1]);
        const int low = hexValue(text[at + 2]);
        if (high < 0 || low < 0 || (high == 0 && low == 0)) {
            return std::nullopt;
        }
        bytes.push_back(static_cast<char>(high * 16 + low));
        at += 2;
    }
    if (bytes.find('\0') != std::string::npos) {
        return std::nullopt;
    }
    return bytes;
}

std::string formatTrashInfo(const TrashInfo& info) {
    return std::string(kGroup) + "\n" + std::string(kPathKey) + percentEncodePath(info.path) + "\n" +
           std::string(kDateKey) + info.deletionDate + "\n";
}

std::optional<TrashInfo> parseTrashInfo(std::string_view text) {
    if (text.size() > kMaxTrashInfoBytes) {
        return std::nullopt;
    }
    std::optional<std::string> path;
    std::optional<std::string> date;
    bool inGroup = false;
    bool seenGroup = false;
    while (!text.empty()) {
        const std::string_view line = nextLine(text);
        if (line.empty() || line.front() == '#') {
            continue;
        }
        if (line.front() == '[') {
            if (line == kGroup && seenGroup) {
                return std::nullopt; // a second group of the same name: which one counts is unclear
            }
            inGroup = line == kGroup;
            seenGroup = seenGroup || inGroup;
            continue;
        }
        if (!inGroup) {
            continue;
        }
        if (line.starts_with(kPathKey)) {
            if (path) {
                return std::nullopt;
            }
            path = percentDecodePath(line.substr(kPathKey.size()));
            if (!path || path->empty()) {
                return std::nullopt;
            }
        } else if (line.starts_with(kDateKey)) {
            if (date) {
                return std::nullopt;
            }
            date = std::string(line.substr(kDateKey.size()));
            if (std::any_of(date->begin(), date->end(), [](char c) { return c >= 0 && c < 0x20; })) {
                date->clear(); // not a date; the path alone still lets the item go back
            }
        }
    }
    if (!path) {
        return std::nullopt;
    }
    return TrashInfo{std::move(*path), date.value_or(std::string())};
}

} // namespace tonemirror::os
