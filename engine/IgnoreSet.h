#pragma once

#include <set>
#include <string>
#include <string_view>
#include <utility>

namespace tonemirror::engine {

// Pairs of files the user declared not to be duplicates, ordered by the first path, then the second
// (UTF-16 code units). A pair and its mirror image are distinct entries; matches() treats them alike.
// Guarded by the TableLock.
class IgnoreSet {
public:
    using Pair = std::pair<std::u16string, std::u16string>;
    using PairView = std::pair<std::u16string_view, std::u16string_view>;

    // Lets lookups use views, so the comparison loop builds no strings.
    struct Less {
        using is_transparent = void;
        static PairView view(const Pair& p) { return {p.first, p.second}; }
        static const PairView& view(const PairView& p) { return p; }
        template <class A, class B>
        bool operator()(const A& a, const B& b) const {
            return view(a) < view(b);
        }
    };
    using Set = std::set<Pair, Less>;
    using const_iterator = Set::const_iterator;

    // False when exactly this pair (in this order) is already present.
    bool insert(std::u16string first, std::u16string second);
    bool contains(std::u16string_view first, std::u16string_view second) const;
    // True when (a, b) or (b, a) is present.
    bool matches(std::u16string_view a, std::u16string_view b) const;

    void clear() { pairs_.clear(); }
    std::size_t size() const { return pairs_.size(); }
    bool empty() const { return pairs_.empty(); }
    const_iterator begin() const { return pairs_.begin(); }
    const_iterator end() const { return pairs_.end(); }

private:
    Set pairs_;
};

} // namespace tonemirror::engine
