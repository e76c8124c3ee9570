#include "engine/Playlist.h"

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
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
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

std::string formatPlaylist(const std::vector<DuplicatePair>& rows) {
    std::string out = "#EXTM3U\r\n";
    for (const DuplicatePair& row : rows) {
        const std::string first = toLocaleText(row.path1);
        if (first.empty()) {
            continue;
        }
        out += first;
        out += "\r\n";
        if (const std::string second = toLocaleText(row.path2); !second.empty()) {
            out += second;
            out += "\r\n";
        }
    }
    return out;
}

} // namespace tonemirror::engine
