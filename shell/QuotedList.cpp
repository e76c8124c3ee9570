#include "shell/QuotedList.h"

namespace tonemirror::shell {

std::u16string stripDoubleQuotes(std::u16string_view item) {
    std::u16string out;
    out.reserve(item.size());
    for (const char16_t c : item) {
        if (c != u'"') {
            out.push_back(c);
        }
    }
    return out;
}

std::u16string formatQuotedList(const std::vector<std::u16string>& items) {
    std::u16string text;
    for (const auto& item : items) {
        text += u'"';
        text += stripDoubleQuotes(item);
        text += u"\";";
    }
    return text;
}

std::vector<std::u16string> parseQuotedList(std::u16string_view text) {
    std::vector<std::u16string> items;
    std::size_t position = 0;
    while (true) {
        const std::size_t open = text.find(u'"', position);
        if (open == std::u16string_view::npos) {
            break;
        }
        const std::size_t close = text.find(u'"', open + 1);
        if (close == std::u16string_view::npos) {
            break;
        }
        items.emplace_back(text.substr(open + 1, close - open - 1));
        position = close + 1;
    }
    return items;
}

} // namespace tonemirror::shell
