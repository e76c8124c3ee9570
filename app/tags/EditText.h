#pragma once

#include "app/AppContext.h"

#include <QString>

#include <string>

namespace tonemirror::app {

// Text typed into a box of the tag pane without its leading and trailing blanks, tabs, carriage
// returns and line feeds.
inline std::u16string trimmedEditText(const QString& text) {
    const std::u16string value = toU16(text);
    const std::size_t first = value.find_first_not_of(u" \t\r\n");
    if (first == std::u16string::npos) {
        return {};
    }
    return value.substr(first, value.find_last_not_of(u" \t\r\n") - first + 1);
}

} // namespace tonemirror::app
