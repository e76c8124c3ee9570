#include "engine/PrintIndex.h"

namespace tonemirror::engine {

namespace {

std::size_t hashOf(std::uint32_t word) {
    // Print words are far from uniform in their low bits (quiet frames change few of them).
    return static_cast<std::size_t>((static_cast<std::uint64_t>(word) * 0x9E3779B97F4A7C15ull) >> 32);
}

} // namespace

void PrintIndex::clear() {
    slots_.clear();
    used_ = 0;
    entries_.clear();
}

std::size_t PrintIndex::slotOf(std::uint32_t word) const {
    const std::size_t mask = slots_.size() - 1;
    std::size_t at = hashOf(word) & mask;
    while (slots_[at].newest != kNone && slots_[at].word != word) {
        at = (at + 1) & mask;
    }
    return at;
}

void PrintIndex::grow() {
    std::vector<Slot> old = std::move(slots_);
    slots_.assign(old.empty() ? 1024 : 2 * old.size(), Slot{});
    for (const Slot& s : old) {
        if (s.newest != kNone) {
            slots_[slotOf(s.word)] = s;
        }
    }
}

void PrintIndex::add(std::uint32_t position, std::span<const std::uint32_t> words) {
    for (const std::uint32_t word : words) {
        if (2 * (used_ + 1) > slots_.size()) {
            grow();
        }
        Slot& slot = slots_[slotOf(word)];
        if (slot.newest == kNone) {
            slot.word = word;
            ++used_;
        }
        entries_.push_back({position, slot.newest});
        slot.newest = static_cast<std::uint32_t>(entries_.size() - 1);
    }
}

} // namespace tonemirror::engine
