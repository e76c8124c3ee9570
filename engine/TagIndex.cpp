#include "engine/TagIndex.h"

#include <algorithm>
#include <bit>
#include <unordered_map>

namespace tonemirror::engine {

namespace {

std::size_t runStarts(std::size_t length, std::size_t run) {
    return length >= run ? length - run + 1 : 0;
}

// The fewest distinct runs a text of shape x shares with any indexed text of `length` units when
// their likeness reaches t (kNone when no count up to x's own runs lets them). The bound rises with
// the shared runs and with the other text's repeats, so the most repeats an indexed text may have
// give the fewest; that other texts of such a shape may not have that many runs only lowers the
// count, which reads more lists but misses nothing.
std::size_t fewestSharedAtLength(analysis::RunShape x, std::size_t length, float t) {
    const analysis::RunShape y{length, TagIndex::repeatCap(length), x.run};
    std::size_t low = 0;
    std::size_t high = runStarts(x.length, x.run) - x.repeats;
    if (analysis::likenessWithSharedRuns(x, y, high) < t) {
        return TagIndex::kNone;
    }
    while (low < high) { // the first count that reaches t lies in [low, high]
        const std::size_t middle = low + (high - low) / 2;
        if (analysis::likenessWithSharedRuns(x, y, middle) >= t) {
            high = middle;
        } else {
            low = middle + 1;
        }
    }
    // No text has more distinct runs than starts.
    return low > runStarts(length, x.run) ? TagIndex::kNone : low;
}

} // namespace

void TagIndex::clear() {
    runs_.clear();
    for (auto& space : spaces_) {
        for (auto& list : space.byLength) {
            list.clear();
        }
        space.whole.clear();
    }
}

TagIndex::Plan TagIndex::planFor(analysis::RunShape pairs, analysis::RunShape triples, float threshold) {
    Plan plan;
    for (std::size_t length = 1; length <= kShortLength; ++length) {
        plan.pairsByLength[length] = fewestSharedAtLength(pairs, length, threshold);
        plan.triplesByLength[length] = fewestSharedAtLength(triples, length, threshold);
    }
    for (std::size_t length = kShortLength + 1; length <= kLongest; ++length) {
        const std::size_t shared = fewestSharedAtLength(triples, length, threshold);
        if (shared == 0) {
            plan.narrows = false;
            return plan;
        }
        plan.triples = std::min(plan.triples, shared);
    }
    return plan;
}

analysis::RunShape TagIndex::runsOf(std::u16string_view text, std::size_t run,
                                    std::vector<std::uint64_t>& out) {
    out.clear();
    for (std::size_t i = 0; i + run <= text.size(); ++i) {
        std::uint64_t units = 0;
        for (std::size_t k = 0; k < run; ++k) {
            units = units << 16 | text[i + k];
        }
        out.push_back(units);
    }
    const std::size_t starts = out.size();
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return {text.size(), starts - out.size(), run};
}

std::uint64_t TagIndex::keyOf(std::uint64_t run, std::size_t runLength, std::size_t lengthClass,
                              std::size_t space) {
    // 48 bits of units, then the run length, the length class (0..15) and the space (0..2).
    return run << 8 | (runLength == 3 ? 0x80u : 0u) | lengthClass << 2 | space;
}

void TagIndex::post(List& list, std::uint32_t position) {
    if (list.empty() || list.back() != position) { // one entry per track, whichever text
        list.push_back(position);
    }
}

void TagIndex::addText(std::u16string_view text, std::size_t space, std::uint32_t position) {
    thread_local std::vector<std::uint64_t> pairs;
    thread_local std::vector<std::uint64_t> triples;
    Space& own = spaces_[space];
    const analysis::RunShape pairShape = runsOf(text, 2, pairs);
    const analysis::RunShape tripleShape = runsOf(text, 3, triples);
    const bool isShort = text.size() <= kShortLength;
    if (text.size() > kLongest || tripleShape.repeats > repeatCap(text.size()) ||
        (isShort && pairShape.repeats > repeatCap(text.size()))) {
        post(own.whole, position);
        return;
    }
    const std::size_t lengthClass = isShort ? text.size() : 0;
    for (const std::uint64_t run : triples) {
        post(runs_[keyOf(run, 3, lengthClass, space)], position);
    }
    if (isShort) {
        post(own.byLength[text.size()], position);
        for (const std::uint64_t run : pairs) {
            post(runs_[keyOf(run, 2, lengthClass, space)], position);
        }
    }
}

// Titles and artists are compared with each other; a file name with a file name, and with the other
// track's title or artist only where this track lacks one; albums with albums.
std::array<std::u16string_view, 4> TagIndex::textsBySpace(const analysis::TrackRecord& record,
                                                          std::u16string_view& nameAsTag) {
    const bool lacksTag = record.titleText.empty() || record.artistText.empty();
    nameAsTag = lacksTag ? std::u16string_view(record.nameText) : std::u16string_view();
    return {std::u16string_view(record.titleText), std::u16string_view(record.artistText),
            std::u16string_view(record.nameText), std::u16string_view(record.albumText)};
}

void TagIndex::add(std::uint32_t position, const analysis::TrackRecord& record) {
    std::u16string_view nameAsTag;
    const auto texts = textsBySpace(record, nameAsTag);
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if (!texts[i].empty()) {
            addText(texts[i], kSpaceOf[i], position);
        }
    }
    if (!nameAsTag.empty()) {
        addText(nameAsTag, kTagSpace, position);
    }
}

std::size_t TagIndex::rarest(std::vector<std::uint64_t>& runs, std::size_t runLength, std::size_t lengthClass,
                             std::size_t space, std::size_t needed, std::vector<const List*>& lists) const {
    if (needed == kNone || needed > runs.size()) {
        return 0; // no text sharing runs with this one reaches the threshold
    }
    thread_local std::vector<std::pair<std::size_t, const List*>> found;
    found.clear();
    static const List kEmpty;
    for (const std::uint64_t run : runs) {
        const auto it = runs_.find(keyOf(run, runLength, lengthClass, space));
        const List* list = it == runs_.end() ? &kEmpty : &it->second;
        found.emplace_back(list->size(), list);
    }
    // Of the runs a match must share, one is among any (distinct - needed + 1): the rarest.
    const auto read = static_cast<std::ptrdiff_t>(runs.size() - needed + 1);
    std::partial_sort(found.begin(), found.begin() + read, found.end(),
                      [](const auto& a, const auto& b) { return a.first < b.first; });
    std::size_t entries = 0;
    for (std::ptrdiff_t i = 0; i < read; ++i) {
        entries += found[static_cast<std::size_t>(i)].first;
        lists.push_back(found[static_cast<std::size_t>(i)].second);
    }
    return entries;
}

const TagIndex::Plan& TagIndex::planOf(analysis::RunShape pairs, analysis::RunShape triples,
                                       float threshold) {
    thread_local std::unordered_map<std::uint64_t, Plan> plans; // by threshold and shapes
    const bool fits = pairs.length < 0xFFFF && pairs.repeats < 0xFF && triples.repeats < 0xFF;
    const std::uint64_t key = std::uint64_t{std::bit_cast<std::uint32_t>(threshold)} << 32 |
                              std::uint64_t{pairs.length} << 16 | pairs.repeats << 8 | triples.repeats;
    auto it = fits ? plans.find(key) : plans.end();
    if (it == plans.end()) {
        if (plans.size() > 65536) { // real texts come in a few thousand shapes
            plans.clear();
        }
        it = plans.insert_or_assign(fits ? key : ~std::uint64_t{0}, planFor(pairs, triples, threshold)).first;
    }
    return it->second;
}

bool TagIndex::addTextLists(std::u16string_view text, std::size_t space, float threshold,
                            std::vector<const List*>& lists) const {
    thread_local std::vector<std::uint64_t> pairs;
    thread_local std::vector<std::uint64_t> triples;
    thread_local std::vector<const List*> byPairs;
    thread_local std::vector<const List*> byTriples;
    const Plan& plan = planOf(runsOf(text, 2, pairs), runsOf(text, 3, triples), threshold);
    if (!plan.narrows) {
        return false;
    }
    const Space& own = spaces_[space];
    lists.push_back(&own.whole);
    rarest(triples, 3, 0, space, plan.triples, lists);
    for (std::size_t length = 1; length <= kShortLength; ++length) {
        const std::size_t needPairs = plan.pairsByLength[length];
        const std::size_t needTriples = plan.triplesByLength[length];
        if (needPairs == kNone || needTriples == kNone) {
            continue; // no text of this length reaches the threshold
        }
        if (needPairs == 0 && needTriples == 0) {
            lists.push_back(&own.byLength[length]);
            continue;
        }
        // Either kind of run names every candidate of this length (one that needs none does not
        // count); the one with fewer entries is read.
        byPairs.clear();
        byTriples.clear();
        const std::size_t viaPairs =
            needPairs == 0 ? SIZE_MAX : rarest(pairs, 2, length, space, needPairs, byPairs);
        const std::size_t viaTriples =
            needTriples == 0 ? SIZE_MAX : rarest(triples, 3, length, space, needTriples, byTriples);
        const auto& cheaper = viaPairs <= viaTriples ? byPairs : byTriples;
        lists.insert(lists.end(), cheaper.begin(), cheaper.end());
    }
    return true;
}

bool TagIndex::listsFor(const analysis::TrackRecord& record, float threshold,
                        std::vector<const List*>& lists) const {
    lists.clear();
    if (!(threshold > 0.0f)) {
        return false; // every pair reaches it
    }
    std::u16string_view nameAsTag;
    const auto texts = textsBySpace(record, nameAsTag);
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if (!texts[i].empty() && !addTextLists(texts[i], kSpaceOf[i], threshold, lists)) {
            return false;
        }
    }
    return nameAsTag.empty() || addTextLists(nameAsTag, kTagSpace, threshold, lists);
}

} // namespace tonemirror::engine
