#include "engine/Playlist.h"

#include "platform/os/Paths.h"

#include <climits>
#include <cwchar>

namespace tonemirror::engine {

std::string toLocaleText(const std::u16string& text) {
    std::string out;
    out.reserve(text.size());
    std::mbstate_t state{};
    char buffer[MB_LEN_MAX];
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            out.push_back('?');
            continue;
        }
        const std::size_t n = std::wcrtomb(buffer, static_cast<wchar_t>(cp), &state);
        if (n == static_cast<std::size_t>(-1)) {
            out.push_back('?');
            state = std::mbstate_t{};
        } else {
            out.append(buffer, n);
        }
    }
    return out;
}

std::string formatPlaylist(const std::vector<DuplicatePair>& rows, std::size_t* leftOut) {
    const auto breaksLine = [](const std::u16string& path) {
        return path.find_first_of(u"\r\n") != path.npos;
    };
    std::string out = "#EXTM3U\r\n";
    std::size_t unwritable = 0;
    for (const DuplicatePair& row : rows) {
        if (row.path1.empty()) {
            continue;
        }
        if (breaksLine(row.path1) || breaksLine(row.path2)) {
            ++unwritable;
            continue;
        }
        out += os::toNativeName(row.path1);
        out += "\r\n";
        if (!row.path2.empty()) {
            out += os::toNativeName(row.path2);
            out += "\r\n";
        }
    }
    if (leftOut != nullptr) {
        *leftOut = unwritable;
    }
    return out;
}

} // namespace tonemirror::engine
