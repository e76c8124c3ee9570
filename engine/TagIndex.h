#pragma once

#include "analysis/TextLikeness.h"
#include "analysis/TrackRecord.h"

#include <array>
#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tonemirror::engine {

// Finds the tracks whose tag score with a query can reach a threshold from the runs their texts share.
// The tag score is a weighted mean of text likenesses between one text of each track (titles and
// artists with each other, file names with file names, albums with albums, and a file name with a
// title or artist where its track lacks one), so a pair reaching t has two texts whose likeness
// reaches t, and such texts share at least as many distinct runs as analysis::likenessWithSharedRuns
// asks for their shapes. A text that must share m of its d runs shares one of any d - m + 1 of them,
// so a query reads only the lists of its runs that hold the fewest texts: runs that nearly every text
// has (" - ", common words) are left out. Texts are listed by their runs of three units; texts up to
// kShortLength units, for which runs of three say less, also by their runs of two and by their
// length, and each query reads for each such length whichever of the three costs least. Texts the
// count cannot speak for (very long ones, ones that repeat many runs) are in a list read whole.
// Not synchronised, like ContentIndex.
class TagIndex {
public:
    void clear();
    // Adds the texts of the track at `position` (one more than the last added).
    void add(std::uint32_t position, const analysis::TrackRecord& record);

    // Calls visit(position) for every added track before `below` whose tag score with `record` may
    // reach `threshold` (and for others; a position may come more than once). False, before visiting
    // any, when the runs narrow nothing down: a threshold so low, or a text so short, that long texts
    // reach it without a shared run, or lists that together hold more than `budget` entries (visiting
    // them would cost more than going through every earlier track); then every earlier track is a
    // candidate.
    template <typename Visit>
    bool query(const analysis::TrackRecord& record, float threshold, std::uint32_t below, std::size_t budget,
               Visit&& visit) const;

    // Texts up to this length are listed by length and by runs of two units too.
    static constexpr std::size_t kShortLength = 15;
    // Texts longer than this, or repeating more runs, are in the list read whole.
    static constexpr std::size_t kLongest = 255;
    // The most repeated runs an indexed text of this length may have.
    static constexpr std::size_t repeatCap(std::size_t length) { return 3 + length / 8; }

    // What a query reads for one of its texts: for each short length, the fewest runs of two and of
    // three that a text of that length reaching the threshold shares with it (kNone: no such text
    // reaches it; 0 for both: every text of that length is a candidate); for longer texts the fewest
    // runs of three. narrows is false when a longer text could reach the threshold without a shared run.
    static constexpr std::size_t kNone = SIZE_MAX;
    struct Plan {
        bool narrows = true;
        std::array<std::size_t, kShortLength + 1> pairsByLength{};
        std::array<std::size_t, kShortLength + 1> triplesByLength{};
        std::size_t triples = kNone;
    };
    // `pairs` and `triples` are the query text's shapes for runs of two and of three units.
    static Plan planFor(analysis::RunShape pairs, analysis::RunShape triples, float threshold);

private:
    // planFor, kept per thread for the shapes and thresholds met so far.
    static const Plan& planOf(analysis::RunShape pairs, analysis::RunShape triples, float threshold);
    // Which texts are compared with which: titles with artists, names with names, albums with albums.
    static constexpr std::size_t kSpaces = 3;
    static constexpr std::size_t kTagSpace = 0;
    static constexpr std::size_t kSpaceOf[4] = {kTagSpace, kTagSpace, 1, 2}; // title, artist, name, album

    using List = std::vector<std::uint32_t>;
    struct Space {
        std::array<List, kShortLength + 1> byLength;
        List whole;
    };

    // The distinct runs of `run` units of a text, each as its units, and its shape.
    static analysis::RunShape runsOf(std::u16string_view text, std::size_t run,
                                     std::vector<std::uint64_t>& out);
    // The list key of a run among the texts of a space and length class (0: longer than kShortLength).
    static std::uint64_t keyOf(std::uint64_t run, std::size_t runLength, std::size_t lengthClass,
                               std::size_t space);
    static void post(List& list, std::uint32_t position);
    // The texts of a record in the order of kSpaceOf, and its name again when it also stands for a
    // missing title or artist (empty otherwise).
    static std::array<std::u16string_view, 4> textsBySpace(const analysis::TrackRecord& record,
                                                           std::u16string_view& nameAsTag);
    void addText(std::u16string_view text, std::size_t space, std::uint32_t position);
    // The lists whose union holds every candidate of `record`; false when every track is one.
    bool listsFor(const analysis::TrackRecord& record, float threshold,
                  std::vector<const List*>& lists) const;
    bool addTextLists(std::u16string_view text, std::size_t space, float threshold,
                      std::vector<const List*>& lists) const;
    // The lists of enough of `runs` that every text sharing `needed` of them is in one (the runs
    // whose lists hold the fewest entries), appended to `lists`; returns their entries.
    std::size_t rarest(std::vector<std::uint64_t>& runs, std::size_t runLength, std::size_t lengthClass,
                       std::size_t space, std::size_t needed, std::vector<const List*>& lists) const;

    std::unordered_map<std::uint64_t, List> runs_;
    std::array<Space, kSpaces> spaces_;
};

template <typename Visit>
bool TagIndex::query(const analysis::TrackRecord& record, float threshold, std::uint32_t below,
                     std::size_t budget, Visit&& visit) const {
    thread_local std::vector<const List*> lists;
    if (!listsFor(record, threshold, lists)) {
        return false;
    }
    std::size_t entries = 0;
    for (const auto* list : lists) {
        entries += list->size();
    }
    if (entries > budget) {
        return false;
    }
    for (const auto* list : lists) {
        for (const std::uint32_t p : *list) {
            if (p >= below) {
                break; // positions are added in increasing order
            }
            visit(p);
        }
    }
    return true;
}

} // namespace tonemirror::engine
