#include "engine/TagIndex.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <span>
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

// The most likeness a text of shape x has with any indexed text of `shortest` to `longest` units that
// shares s of its distinct runs, for each s from `from` on (bounds for fewer are never asked: 1). As
// above, the most repeats an indexed text may have give the most.
TagIndex::LikenessByShared likenessByShared(analysis::RunShape x, std::size_t shortest, std::size_t longest,
                                            std::size_t from) {
    const std::size_t distinct = runStarts(x.length, x.run) - x.repeats;
    TagIndex::LikenessByShared table(distinct + 1, 255);
    for (std::size_t shared = from; shared <= distinct; ++shared) {
        float most = 0.0f;
        for (std::size_t length = shortest; length <= longest; ++length) {
            const analysis::RunShape y{length, TagIndex::repeatCap(length), x.run};
            most = std::max(most, analysis::likenessWithSharedRuns(x, y, shared));
        }
        table[shared] = TagIndex::likenessByte(most);
    }
    return table;
}

// The tracks one query names, with the parts each was named for, and while a group is read, each
// track's entries in it; marks per position, told apart from earlier queries and groups by rounds in
// their high bits. Written without branches on the marks: whether a position comes for the first time
// is a coin toss to the processor.
static_assert(TagIndex::kMostNeeded <= 255, "a group's entries are counted in a byte");

class Marks {
public:
    void start(std::uint32_t below) {
        below_ = below;
        if (parts_.size() < std::size_t{below} + 1) { // one more: a write past the last found is dropped
            parts_.resize(std::size_t{below} + 1, 0);
            entries_.resize(std::size_t{below} + 1, 0);
            likeness_.resize(std::size_t{below} + 1, 0);
            found_.resize(std::size_t{below} + 1);
            touched_.resize(std::size_t{below} + 1);
        }
        if (++queryRound_ == kQueryRounds) {
            std::fill(parts_.begin(), parts_.end(), 0u);
            queryRound_ = 1;
        }
        foundCount_ = 0;
    }
    void nameAll(const std::vector<std::uint32_t>& list, unsigned parts) {
        for (const std::uint32_t p : list) {
            if (p >= below_) {
                break; // positions are added in increasing order
            }
            name(p, parts, 255);
        }
    }
    // Names for `parts` the positions found in `need` of the lists or more, each with the likeness
    // its entries e allow (likeness[min(e + unread, last)]; 1 without a table).
    void nameCounted(std::span<const std::vector<std::uint32_t>* const> lists, std::size_t need,
                     unsigned parts, std::span<const std::uint8_t> likeness, std::size_t unread) {
        if (++groupRound_ == kGroupRounds) {
            std::fill(entries_.begin(), entries_.end(), 0u);
            groupRound_ = 1;
        }
        const std::uint32_t mark = groupRound_ << 8;
        std::size_t touched = 0;
        for (const auto* list : lists) {
            for (const std::uint32_t p : *list) {
                if (p >= below_) {
                    break;
                }
                const std::uint32_t e = entries_[p];
                const bool first = (e & ~255u) != mark;
                touched_[touched] = p;
                touched += first ? 1 : 0;
                const std::uint32_t base = first ? mark : e;
                entries_[p] = base + ((base & 255u) != 255u ? 1u : 0u); // TagIndex::kMostNeeded at most
            }
        }
        for (std::size_t k = 0; k < touched; ++k) {
            const std::size_t e = entries_[touched_[k]] & 255u;
            if (e >= need) {
                // A count held at its most may stand for more entries: then any number of runs.
                const std::size_t shared = e == 255 ? SIZE_MAX : e + unread;
                const std::uint8_t most =
                    likeness.empty() ? 255 : likeness[std::min(shared, likeness.size() - 1)];
                name(touched_[k], parts, most);
            }
        }
    }
    std::span<const std::uint32_t> named() const { return {found_.data(), foundCount_}; }
    unsigned partsOf(std::uint32_t p) const { return parts_[p] & 15u; }
    // The most likeness of a named part (a byte), from the groups that named it.
    std::uint8_t likenessOf(std::uint32_t p, unsigned part) const {
        return static_cast<std::uint8_t>(likeness_[p] >> (8 * part));
    }

private:
    static constexpr std::uint32_t kQueryRounds = std::uint32_t{1} << 28;
    static constexpr std::uint32_t kGroupRounds = std::uint32_t{1} << 24;
    void name(std::uint32_t p, unsigned parts, std::uint8_t most) {
        const std::uint32_t v = parts_[p];
        const std::uint32_t mark = queryRound_ << 4;
        const bool first = (v & ~15u) != mark;
        found_[foundCount_] = p;
        foundCount_ += first ? 1 : 0;
        parts_[p] = (first ? mark : v) | parts;
        std::uint32_t bytes = first ? 0u : likeness_[p]; // one byte a part, the greatest named with
        for (unsigned part = 0; part < 4; ++part) {
            const unsigned shift = 8 * part;
            if ((parts >> part & 1u) != 0 && ((bytes >> shift) & 255u) < most) {
                bytes = (bytes & ~(255u << shift)) | std::uint32_t{most} << shift;
            }
        }
        likeness_[p] = bytes;
    }

    std::uint32_t below_ = 0;
    std::vector<std::uint32_t> parts_;    // query round << 4 | parts named for
    std::vector<std::uint32_t> entries_;  // group round << 8 | entries in the group
    std::vector<std::uint32_t> likeness_; // per part, valid for the parts named in this query round
    std::vector<std::uint32_t> found_;
    std::vector<std::uint32_t> touched_;
    std::size_t foundCount_ = 0;
    std::uint32_t queryRound_ = 0;
    std::uint32_t groupRound_ = 0;
};

} // namespace

void TagIndex::clear() {
    runs_.clear();
    lists_.assign(1, List{});
    texts_.clear();
    for (List& list : byTexts_) {
        list.clear();
    }
    for (auto& space : spaces_) {
        for (auto& list : space.byLength) {
            list.clear();
        }
        space.whole.clear();
    }
}

std::size_t TagIndex::bandOf(std::size_t length) {
    const auto after = std::upper_bound(kBandStarts.begin(), kBandStarts.end(), length);
    return static_cast<std::size_t>(after - kBandStarts.begin()) - 1;
}

TagIndex::Plan TagIndex::planFor(analysis::RunShape pairs, analysis::RunShape triples, float threshold) {
    Plan plan;
    for (std::size_t length = 1; length <= kShortLength; ++length) {
        plan.pairsByLength[length] = fewestSharedAtLength(pairs, length, threshold);
        plan.triplesByLength[length] = fewestSharedAtLength(triples, length, threshold);
        if (plan.pairsByLength[length] != kNone && plan.pairsByLength[length] != 0) {
            plan.pairLikeness[length] = likenessByShared(pairs, length, length, plan.pairsByLength[length]);
        }
        if (plan.triplesByLength[length] != kNone && plan.triplesByLength[length] != 0) {
            plan.tripleLikeness[length] =
                likenessByShared(triples, length, length, plan.triplesByLength[length]);
        }
    }
    for (std::size_t band = 0; band < kBands; ++band) {
        std::size_t& need = plan.triplesByBand[band];
        need = kNone;
        for (std::size_t length = kBandStarts[band]; length < kBandStarts[band + 1]; ++length) {
            const std::size_t shared = fewestSharedAtLength(triples, length, threshold);
            if (shared == 0) {
                plan.narrows = false;
                return plan;
            }
            need = std::min(need, shared);
        }
        plan.triples = std::min(plan.triples, need);
        if (need != kNone) {
            plan.tripleLikeness[bandClass(band)] =
                likenessByShared(triples, kBandStarts[band], kBandStarts[band + 1] - 1, need);
        }
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

std::uint8_t TagIndex::likenessByte(float likeness) {
    // In double, where 255 x a float is exact, so that the byte never rounds a bound down.
    const double scaled = std::ceil(static_cast<double>(std::clamp(likeness, 0.0f, 1.0f)) * 255.0);
    return static_cast<std::uint8_t>(scaled);
}

float TagIndex::likenessOfByte(std::uint8_t byte) {
    return static_cast<float>(byte / 255.0);
}

std::uint64_t TagIndex::keyOf(std::uint64_t run, std::size_t runLength, std::size_t space) {
    // 48 bits of units, then the run length and the space (0..2).
    return run << 8 | (runLength == 3 ? 0x80u : 0u) | space;
}

TagIndex::List& TagIndex::listOf(std::uint64_t key, std::size_t lengthClass) {
    std::uint32_t& place = runs_[key].byClass[lengthClass];
    if (place == 0) {
        place = static_cast<std::uint32_t>(lists_.size());
        lists_.emplace_back();
    }
    return lists_[place];
}

void TagIndex::findRuns(const std::vector<std::uint64_t>& runs, std::size_t runLength, std::size_t space,
                        std::vector<const RunLists*>& out) const {
    out.clear();
    for (const std::uint64_t run : runs) {
        const auto it = runs_.find(keyOf(run, runLength, space));
        out.push_back(it == runs_.end() ? nullptr : &it->second);
    }
}

void TagIndex::post(List& list, std::uint32_t position) {
    if (list.empty() || list.back() != position) { // one entry per track, whichever text
        list.push_back(position);
    }
}

void TagIndex::postText(std::u16string_view text, std::size_t space, Postings& out) {
    thread_local std::vector<std::uint64_t> pairs;
    thread_local std::vector<std::uint64_t> triples;
    const auto at = static_cast<std::uint8_t>(space);
    const analysis::RunShape pairShape = runsOf(text, 2, pairs);
    const analysis::RunShape tripleShape = runsOf(text, 3, triples);
    const bool isShort = text.size() <= kShortLength;
    if (text.size() > kLongest || tripleShape.repeats > repeatCap(text.size()) ||
        (isShort && pairShape.repeats > repeatCap(text.size()))) {
        out.items.push_back({0, 0, at, Postings::kWhole});
        return;
    }
    const auto lengthClass =
        static_cast<std::uint16_t>(isShort ? text.size() : bandClass(bandOf(text.size())));
    for (const std::uint64_t run : triples) {
        out.items.push_back({keyOf(run, 3, space), lengthClass, at, Postings::kRun});
    }
    if (isShort) {
        out.items.push_back({0, static_cast<std::uint16_t>(text.size()), at, Postings::kByLength});
        for (const std::uint64_t run : pairs) {
            out.items.push_back({keyOf(run, 2, space), lengthClass, at, Postings::kRun});
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

void TagIndex::postingsOf(const analysis::TrackRecord& record, Postings& out) {
    out.items.clear();
    out.texts = static_cast<std::uint8_t>(analysis::tagTextsOf(record));
    std::u16string_view nameAsTag;
    const auto texts = textsBySpace(record, nameAsTag);
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if (!texts[i].empty()) {
            postText(texts[i], kSpaceOf[i], out);
        }
    }
    if (!nameAsTag.empty()) {
        postText(nameAsTag, kTagSpace, out);
    }
}

void TagIndex::resolve(Postings& postings) const {
    for (Postings::Item& item : postings.items) {
        if (item.kind == Postings::kRun) {
            const auto it = runs_.find(item.key);
            item.list = it == runs_.end() ? 0 : it->second.byClass[item.lengthClass];
        }
    }
}

void TagIndex::add(std::uint32_t position, const analysis::TrackRecord& record) {
    thread_local Postings postings;
    postingsOf(record, postings);
    add(position, postings);
}

void TagIndex::add(std::uint32_t position, const Postings& postings) {
    if (texts_.size() <= position) {
        texts_.resize(position + std::size_t{1}, 0);
    }
    texts_[position] = postings.texts;
    post(byTexts_[postings.texts], position);
    for (const Postings::Item& item : postings.items) {
        Space& own = spaces_[item.space];
        switch (item.kind) {
        case Postings::kRun:
            post(item.list != 0 ? lists_[item.list] : listOf(item.key, item.lengthClass), position);
            break;
        case Postings::kWhole:
            post(own.whole, position);
            break;
        case Postings::kByLength:
            post(own.byLength[item.lengthClass], position);
            break;
        }
    }
}

void TagIndex::rarest(const std::vector<const RunLists*>& runs, std::size_t lengthClass, std::size_t needed,
                      bool extraReads, Pick& pick) const {
    pick.lists.clear();
    pick.need = 0;
    pick.entries = 0;
    pick.unread = 0;
    if (needed == kNone || needed > runs.size()) {
        return; // no text sharing runs with this one reaches the level
    }
    thread_local std::vector<std::pair<std::size_t, const List*>> found;
    found.clear();
    for (const RunLists* run : runs) {
        const List* list = &lists_[run == nullptr ? 0 : run->byClass[lengthClass]];
        found.emplace_back(list->size(), list);
    }
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    // Of the runs a match must share, one is among any (distinct - needed + 1): the rarest. Each list
    // read beyond them asks one entry more of a match, which turns away the tracks that share only a
    // rare run or two; read them while they cost little beside the ones that must be read.
    const std::size_t fewest = runs.size() - needed + 1;
    std::size_t read = 0;
    for (; read < fewest; ++read) {
        pick.entries += found[read].first;
    }
    std::size_t entries = pick.entries;
    while (extraReads && read < found.size() && read - fewest + 1 < kMostNeeded &&
           entries + found[read].first <= kExtraReads * pick.entries + kSmallList) {
        entries += found[read++].first;
    }
    for (std::size_t i = 0; i < read; ++i) {
        pick.lists.push_back(found[i].second);
    }
    pick.need = read - fewest + 1;
    pick.unread = runs.size() - read;
}

const TagIndex::Plan& TagIndex::planOf(analysis::RunShape pairs, analysis::RunShape triples,
                                       float threshold) {
    thread_local std::unordered_map<std::uint64_t, Plan> plans; // by threshold and shapes
    const bool fits = pairs.length < 0xFFFF && pairs.repeats < 0xFF && triples.repeats < 0xFF;
    const std::uint64_t key = std::uint64_t{std::bit_cast<std::uint32_t>(threshold)} << 32 |
                              std::uint64_t{pairs.length} << 16 | pairs.repeats << 8 | triples.repeats;
    auto it = fits ? plans.find(key) : plans.end();
    if (it == plans.end()) {
        if (plans.size() > 16384) { // real texts come in a few thousand shapes; a plan takes up to 2 KB
            plans.clear();
        }
        it = plans.insert_or_assign(fits ? key : ~std::uint64_t{0}, planFor(pairs, triples, threshold)).first;
    }
    return it->second;
}

void TagIndex::addGroup(Search& search, const std::vector<const List*>& lists, std::size_t need,
                        unsigned parts) {
    Group group;
    group.begin = search.lists.size();
    search.lists.insert(search.lists.end(), lists.begin(), lists.end());
    group.end = search.lists.size();
    group.need = need;
    group.parts = static_cast<std::uint8_t>(parts);
    search.groups.push_back(group);
}

void TagIndex::addCountedGroup(Search& search, const Pick& pick, unsigned parts,
                               const LikenessByShared& likeness) {
    addGroup(search, pick.lists, pick.need, parts);
    Group& group = search.groups.back();
    group.likenessAt = search.likeness.size();
    group.likenessCount = likeness.size();
    group.unread = pick.unread;
    search.likeness.insert(search.likeness.end(), likeness.begin(), likeness.end());
}

bool TagIndex::addTextLists(std::u16string_view text, std::size_t space, float threshold, unsigned parts,
                            bool extraReads, Search& search) const {
    thread_local std::vector<std::uint64_t> pairs;
    thread_local std::vector<std::uint64_t> triples;
    thread_local Pick byPairs;
    thread_local Pick byTriples;
    thread_local std::vector<const RunLists*> pairLists;
    thread_local std::vector<const RunLists*> tripleLists;
    const Plan& plan = planOf(runsOf(text, 2, pairs), runsOf(text, 3, triples), threshold);
    if (!plan.narrows) {
        return false;
    }
    findRuns(pairs, 2, space, pairLists);
    findRuns(triples, 3, space, tripleLists);
    const Space& own = spaces_[space];
    addGroup(search, {&own.whole}, 1, parts);
    for (std::size_t band = 0; band < kBands; ++band) {
        rarest(tripleLists, bandClass(band), plan.triplesByBand[band], extraReads, byTriples);
        if (byTriples.need != 0) {
            addCountedGroup(search, byTriples, parts, plan.tripleLikeness[bandClass(band)]);
        }
    }
    for (std::size_t length = 1; length <= kShortLength; ++length) {
        const std::size_t needPairs = plan.pairsByLength[length];
        const std::size_t needTriples = plan.triplesByLength[length];
        if (needPairs == kNone || needTriples == kNone) {
            continue; // no text of this length reaches the level
        }
        if (needPairs == 0 && needTriples == 0) {
            addGroup(search, {&own.byLength[length]}, 1, parts);
            continue;
        }
        // Either kind of run names every candidate of this length (one that needs none does not
        // count); the one with fewer entries is read.
        rarest(pairLists, length, needPairs == 0 ? kNone : needPairs, extraReads, byPairs);
        rarest(tripleLists, length, needTriples == 0 ? kNone : needTriples, extraReads, byTriples);
        const bool pairsName = needPairs != 0;
        const bool triplesName = needTriples != 0;
        const bool byPairsCheaper = pairsName && (!triplesName || byPairs.entries <= byTriples.entries);
        const Pick& cheaper = byPairsCheaper ? byPairs : byTriples;
        if (cheaper.need != 0) {
            addCountedGroup(search, cheaper, parts,
                            byPairsCheaper ? plan.pairLikeness[length] : plan.tripleLikeness[length]);
        }
    }
    return true;
}

float TagIndex::lookupLevel(float threshold) {
    thread_local std::uint32_t thresholdBits = 0;
    thread_local float level = 0.0f;
    thread_local bool ready = false;
    if (ready && std::bit_cast<std::uint32_t>(threshold) == thresholdBits) {
        return level;
    }
    // Every part alone at 1, the others at the level, stays under the threshold.
    const auto under = [threshold](float others) {
        for (unsigned part = 1; part <= analysis::kAlbumPart; part <<= 1) {
            const auto value = [&](unsigned p) { return p == part ? 1.0f : others; };
            if (analysis::tagsScoreWithParts(value(analysis::kTitlePart), value(analysis::kArtistPart),
                                             value(analysis::kNamePart), value(analysis::kAlbumPart),
                                             15u) >= threshold) {
                return false;
            }
        }
        return true;
    };
    std::uint32_t low = 0; // the greatest level that stays under lies in [low, high]
    std::uint32_t high = std::bit_cast<std::uint32_t>(std::max(threshold, 0.0f));
    if (!under(0.0f)) {
        high = 0;
    }
    while (low < high) {
        const std::uint32_t middle = high - (high - low) / 2;
        if (under(std::bit_cast<float>(middle))) {
            low = middle;
        } else {
            high = middle - 1;
        }
    }
    level = std::bit_cast<float>(low);
    thresholdBits = std::bit_cast<std::uint32_t>(threshold);
    ready = true;
    return level;
}

void TagIndex::searchFor(const analysis::TrackRecord& record, float threshold, float level, bool extraReads,
                         Search& search) const {
    search.lists.clear();
    search.groups.clear();
    search.likeness.clear();
    search.unnamed = {};
    std::u16string_view nameAsTag;
    const auto bySpace = textsBySpace(record, nameAsTag);
    const unsigned texts = analysis::tagTextsOf(record);
    // A file name stands in for the title or artist the newer track lacks.
    const unsigned nameStandsFor = ~texts & (analysis::kTitlePart | analysis::kArtistPart);
    const std::array<std::u16string_view, 5> sources = {bySpace[0], bySpace[1], bySpace[2], bySpace[3],
                                                        nameAsTag};
    constexpr std::array<std::size_t, 5> kSpace = {kSpaceOf[0], kSpaceOf[1], kSpaceOf[2], kSpaceOf[3],
                                                   kTagSpace};
    const std::array<unsigned, 5> partsOf = {analysis::kTitlePart, analysis::kArtistPart, analysis::kNamePart,
                                             analysis::kAlbumPart, nameStandsFor};
    for (std::size_t i = 0; i < sources.size(); ++i) {
        if (sources[i].empty()) {
            continue;
        }
        float used = level;
        if (!(level < threshold &&
              addTextLists(sources[i], kSpace[i], level, partsOf[i], extraReads, search))) {
            used = threshold; // too short to narrow at the level
            if (!addTextLists(sources[i], kSpace[i], threshold, partsOf[i], extraReads, search)) {
                used = 1.0f; // nor at the threshold: its parts are not looked up at all
            }
        }
        for (std::size_t part = 0; part < 4; ++part) {
            if (partsOf[i] & (1u << part)) {
                search.unnamed[part] = std::max(search.unnamed[part], used);
            }
        }
    }
    addUnboundedTracks(texts, threshold, search);
    search.entries = 0;
    for (const List* list : search.lists) {
        search.entries += list->size();
    }
}

// A track no group names has each part under its bound. With every bound at a level or the threshold,
// its score stays under the threshold (up to the rounding of the mean, which callers allow for). A part
// not looked up may be anything up to 1; then whether the other parts keep a track under the threshold
// depends on which texts it has, and the tracks whose texts do not are read whole.
void TagIndex::addUnboundedTracks(unsigned texts, float threshold, Search& search) const {
    const auto& u = search.unnamed;
    if (std::all_of(u.begin(), u.end(), [threshold](float bound) { return bound <= threshold; })) {
        return;
    }
    for (unsigned theirs = 0; theirs < byTexts_.size(); ++theirs) {
        const unsigned counted = analysis::partsAlwaysCounted(texts, theirs);
        if (analysis::tagsScoreWithParts(u[0], u[1], u[2], u[3], counted) >= threshold) {
            addGroup(search, {&byTexts_[theirs]}, 1, 0);
        }
    }
}

namespace {

// Whether a track may reach the threshold with each part it was named for at the most its entries
// allow: the texts of a part that no group named stay under the part's unnamed bound. (With one
// query text a part, a group's bound for a named text is never under the level that text was looked
// up at, so the larger of the two is the group's; kept for a part that more texts stand for.)
bool reachesCounted(const std::array<float, 4>& unnamed, const Marks& marks, std::uint32_t p, unsigned parts,
                    unsigned counted, float threshold) {
    std::array<float, 4> bounds = unnamed;
    for (unsigned part = 0; part < 4; ++part) {
        if ((parts >> part & 1u) != 0) {
            bounds[part] = std::max(bounds[part], TagIndex::likenessOfByte(marks.likenessOf(p, part)));
        }
    }
    return analysis::tagsScoreWithParts(bounds[0], bounds[1], bounds[2], bounds[3], counted) >= threshold;
}

} // namespace

bool TagIndex::count(const Search& search, unsigned texts, float threshold, std::uint32_t below,
                     std::vector<std::uint32_t>& out, const std::function<bool()>& pause) const {
    thread_local Marks marks;
    marks.start(below);
    std::size_t read = 0;
    for (const Group& group : search.groups) {
        if (pause && read >= entriesBetweenPauses_) {
            read = 0;
            if (!pause()) {
                return false;
            }
        }
        const std::span<const List* const> lists(search.lists.data() + group.begin, group.end - group.begin);
        if (group.need <= 1 && group.likenessCount == 0) { // any entry names the track
            for (const List* list : lists) {
                marks.nameAll(*list, group.parts);
            }
        } else {
            marks.nameCounted(lists, group.need, group.parts,
                              {search.likeness.data() + group.likenessAt, group.likenessCount}, group.unread);
        }
        for (const List* list : lists) {
            read += list->size();
        }
    }
    // Whether a track may reach the threshold, by the parts always counted and those it was named for.
    std::array<std::int8_t, 256> reaches;
    reaches.fill(-1);
    out.clear();
    for (const std::uint32_t p : marks.named()) {
        const unsigned parts = marks.partsOf(p);
        const unsigned counted = analysis::partsAlwaysCounted(texts, texts_[p]);
        const unsigned key = counted << 4 | parts;
        if (reaches[key] < 0) {
            const auto bound = [&](unsigned part) {
                return (parts >> part & 1u) ? 1.0f : search.unnamed[part];
            };
            reaches[key] =
                analysis::tagsScoreWithParts(bound(0), bound(1), bound(2), bound(3), counted) >= threshold;
        }
        if (reaches[key] != 0 && reachesCounted(search.unnamed, marks, p, parts, counted, threshold)) {
            out.push_back(p);
        }
    }
    return true;
}

bool TagIndex::select(const analysis::TrackRecord& record, float threshold, std::uint32_t below,
                      std::size_t budget, std::vector<std::uint32_t>& out,
                      const std::function<bool()>& pause) const {
    out.clear();
    if (!(threshold > 0.0f)) {
        return false; // every pair reaches it
    }
    thread_local Search search;
    const std::size_t reads = budget > SIZE_MAX / kReadsPerBudget ? SIZE_MAX : budget * kReadsPerBudget;
    const float level = lookupLevel(threshold);
    // Too much to read: only the lists that must be read, then every text at the threshold, which
    // reads less and names more tracks.
    const auto fits = [&](float at, bool extraReads) {
        searchFor(record, threshold, at, extraReads, search);
        return search.entries <= reads;
    };
    if (!fits(level, true) && !fits(level, false) && !fits(threshold, false)) {
        return false;
    }
    return count(search, analysis::tagTextsOf(record), threshold, below, out, pause);
}

} // namespace tonemirror::engine
