#include "platform/os/WriteCopyName.h"

#include <algorithm>

namespace tonemirror::os {

namespace {

constexpr std::string_view kMarker = ".tonemirror-";
constexpr std::size_t kRandomChars = 6;
constexpr std::size_t kMaxKeptName = 200;

bool isLetterOrDigit(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

} // namespace

std::string writeCopyPattern(std::string_view fileName) {
    std::size_t kept = std::min(fileName.size(), kMaxKeptName);
    // Never keep half of a UTF-8 sequence: back off to the start of the character that was cut.
    if (kept < fileName.size()) {
        while (kept > 0 && (static_cast<unsigned char>(fileName[kept]) & 0xC0) == 0x80) {
            --kept;
        }
    }
    std::string pattern = ".";
    pattern.append(fileName.substr(0, kept)).append(kMarker).append(kRandomChars, 'X');
    return pattern;
}

bool isWriteCopyName(std::string_view fileName) {
    if (fileName.size() < 1 + kMarker.size() + kRandomChars || fileName.front() != '.') {
        return false;
    }
    const std::string_view tail = fileName.substr(fileName.size() - kRandomChars);
    const std::string_view marker =
        fileName.substr(fileName.size() - kRandomChars - kMarker.size(), kMarker.size());
    return marker == kMarker && std::all_of(tail.begin(), tail.end(), isLetterOrDigit);
}

} // namespace tonemirror::os
