#include "shell/RecentValues.h"

#include <algorithm>

namespace tonemirror::shell {

void pushRecentValue(std::vector<std::u16string>& values, std::u16string_view value, std::size_t limit) {
    if (value.empty()) {
        return;
    }
    std::erase_if(values, [&](const std::u16string& entry) { return entry == value; });
    values.insert(values.begin(), std::u16string(value));
    if (values.size() > limit) {
        values.resize(limit);
    }
}

} // namespace tonemirror::shell
