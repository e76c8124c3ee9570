#include "engine/IgnoreSet.h"

namespace tonemirror::engine {

bool IgnoreSet::insert(std::u16string first, std::u16string second) {
    return pairs_.emplace(std::move(first), std::move(second)).second;
}

bool IgnoreSet::contains(std::u16string_view first, std::u16string_view second) const {
    return pairs_.find(PairView{first, second}) != pairs_.end();
}

bool IgnoreSet::matches(std::u16string_view a, std::u16string_view b) const {
    return contains(a, b) || contains(b, a);
}

} // namespace tonemirror::engine
