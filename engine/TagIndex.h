#pragma once

#include "analysis/TagComparison.h"
#include "analysis/TextLikeness.h"
#include "analysis/TrackRecord.h"

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tonemirror::engine {

// Finds the tracks whose tag score with a query can reach a threshold from the runs their texts share.
// The tag score is a weighted mean of four parts, each a text likeness between one text of each track
// (titles and artists with each other, file names with file names, albums with albums, and a file
// name with a title or artist where its track lacks one). Texts whose likeness reaches a level share
// at least as many distinct runs as analysis::likenessWithSharedRuns asks for their shapes, and a text
// that must share m of the query text's d runs shares one of any d - m + 1 of them, so a query reads
// only the lists of the runs that hold the fewest texts (runs that nearly every text has, " - " or
// common words, are left out), and a few more, of which a match must then be in as many more. Each
// query text is looked up at a level well under the threshold; a track named by none of a part's
// texts has that part under its level, and only tracks whose score can still reach the threshold
// with the parts they were named for at the most the runs they were counted for allow and the others
// at their levels are candidates, so a pair of look-alike titles or a shared artist alone makes none
// where the other parts count, nor do file names that share only the artist. Texts are
// listed by their runs of three units, longer ones apart by bands of lengths; texts up to
// kShortLength units, for which runs of three say less, also by their runs of two and by their
// length, and each query reads for each such length whichever of the three costs least. Texts the
// count cannot speak for (very long ones, ones that repeat many runs) are in a list read whole. Not
// synchronised, like ContentIndex.
class TagIndex {
public:
    void clear();
    // The lists a track's texts go in, worked out of the texts alone (postingsOf, on any thread and
    // without the index), so that add need only file the track in them.
    struct Postings {
        enum Kind : std::uint8_t { kRun, kWhole, kByLength };
        struct Item {
            std::uint64_t key;         // of the run (kRun)
            std::uint16_t lengthClass; // kRun: the list's length class; kByLength: the text's length
            std::uint8_t space;
            Kind kind;
            std::uint32_t list = 0; // kRun: the list's place once found (resolve), else 0
        };
        std::uint8_t texts = 0; // analysis::tagTextsOf
        std::vector<Item> items;
    };
    static void postingsOf(const analysis::TrackRecord& record, Postings& out);
    // Finds the lists the runs of `postings` already have (reads the index only), so that add need not
    // look them up. The places stay valid until the index is cleared.
    void resolve(Postings& postings) const;
    // Adds the texts of the track at `position` (one more than the last added).
    void add(std::uint32_t position, const analysis::TrackRecord& record);
    void add(std::uint32_t position, const Postings& postings);

    // Calls visit(position) for every added track before `below` whose tag score with `record` (the
    // newer track of the pair, as for analysis::compareTags) may reach `threshold` (and for some
    // others), each once, in no particular order. False, before visiting any, when the threshold is
    // not above 0, or when the lists to read hold more than kReadsPerBudget x `budget` entries even
    // with every text looked up at the threshold (reading them would cost more than going through
    // every earlier track); then every earlier track is a candidate.
    // `pause`, when given, is called between the groups of lists the query reads, where it holds no
    // place in a list (tracks may be added meanwhile); when it returns false the query ends there,
    // false, having visited none.
    template <typename Visit>
    bool query(const analysis::TrackRecord& record, float threshold, std::uint32_t below, std::size_t budget,
               Visit&& visit, const std::function<bool()>& pause = {}) const;

    // A list entry costs a small fraction of a tag bound: a query reads up to this many entries for
    // each candidate it may hand over before going through every earlier track is cheaper.
    static constexpr std::size_t kReadsPerBudget = 4;
    // Entries a query reads, at least, between two pauses: some 30 microseconds.
    static constexpr std::size_t kEntriesBetweenPauses = 4096;
    void pauseEvery(std::size_t entries) { entriesBetweenPauses_ = entries; } // tests
    // A query reads lists beyond the ones it must while they hold at most this many times the entries
    // of those, plus kSmallList.
    static constexpr std::size_t kExtraReads = 3;
    static constexpr std::size_t kSmallList = 64;
    // The most entries a group asks of a track (so that a query counts them in a byte, saturating).
    static constexpr std::size_t kMostNeeded = 255;
    // The level each query text is looked up at for `threshold`: a part under it, with every other
    // part at 1, keeps a pair with all four texts under the threshold.
    static float lookupLevel(float threshold);

    // Texts up to this length are listed by length and by runs of two units too.
    static constexpr std::size_t kShortLength = 15;
    // Texts longer than this, or repeating more runs, are in the list read whole.
    static constexpr std::size_t kLongest = 255;
    // Longer texts are listed apart by bands of lengths, from each band's first length to the next's:
    // a query needs more shared runs with the longer bands, and none with bands it cannot reach.
    static constexpr std::size_t kBands = 4;
    static constexpr std::array<std::size_t, kBands + 1> kBandStarts = {kShortLength + 1, 24, 36, 56,
                                                                        kLongest + 1};
    // The lists of band b are those of length class bandClass(b): 0 for the first, after the short
    // lengths for the others.
    static constexpr std::size_t bandClass(std::size_t band) { return band == 0 ? 0 : kShortLength + band; }
    static constexpr std::size_t kClasses = kShortLength + kBands;
    // The band of a text longer than kShortLength (and up to kLongest).
    static std::size_t bandOf(std::size_t length);
    // The most repeated runs an indexed text of this length may have.
    static constexpr std::size_t repeatCap(std::size_t length) { return 3 + length / 8; }

    // What a query reads for one of its texts: for each short length, the fewest runs of two and of
    // three that a text of that length reaching the threshold shares with it (kNone: no such text
    // reaches it; 0 for both: every text of that length is a candidate); for longer texts the fewest
    // runs of three, in all and by band. narrows is false when a longer text could reach the threshold
    // without a shared run. And for each length class (bandClass: longer texts), by the runs of two and of
    // three that a text of the class shares with the query text, the most their likeness can be
    // (likenessByte; empty where the class is not read by that kind of run).
    static constexpr std::size_t kNone = SIZE_MAX;
    using LikenessByShared = std::vector<std::uint8_t>;
    struct Plan {
        bool narrows = true;
        std::array<std::size_t, kShortLength + 1> pairsByLength{};
        std::array<std::size_t, kShortLength + 1> triplesByLength{};
        std::size_t triples = kNone;
        std::array<std::size_t, kBands> triplesByBand{};
        std::array<LikenessByShared, kShortLength + 1> pairLikeness;
        std::array<LikenessByShared, kClasses> tripleLikeness;
    };
    // `pairs` and `triples` are the query text's shapes for runs of two and of three units.
    static Plan planFor(analysis::RunShape pairs, analysis::RunShape triples, float threshold);

    // A likeness rounded up to a byte (255: 1), and back: likenessOfByte(likenessByte(x)) >= x.
    static std::uint8_t likenessByte(float likeness);
    static float likenessOfByte(std::uint8_t byte);

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
    // The key of a run among the texts of a space.
    static std::uint64_t keyOf(std::uint64_t run, std::size_t runLength, std::size_t space);
    // The lists of one run, one for each length class (bandClass: longer than kShortLength), as places in
    // lists_ (0: none), so that a query finds them all with one lookup.
    struct RunLists {
        std::array<std::uint32_t, kClasses> byClass{};
    };
    List& listOf(std::uint64_t key, std::size_t lengthClass);
    // The RunLists of each of `runs` (null for a run no text has).
    void findRuns(const std::vector<std::uint64_t>& runs, std::size_t runLength, std::size_t space,
                  std::vector<const RunLists*>& out) const;
    static void post(List& list, std::uint32_t position);
    // The texts of a record in the order of kSpaceOf, and its name again when it also stands for a
    // missing title or artist (empty otherwise).
    static std::array<std::u16string_view, 4> textsBySpace(const analysis::TrackRecord& record,
                                                           std::u16string_view& nameAsTag);
    static void postText(std::u16string_view text, std::size_t space, Postings& out);
    // What a query reads: groups of lists, each group with the entries a track needs among its lists
    // to have a text that reaches the group's level with the query text, and the parts
    // (analysis::TagPart bits) that text stands for; and for each part the bound of a track that no
    // group names for it (the highest level its texts were looked up at, or 0 when the query has no
    // text for it).
    // A group of run lists also bounds the likeness of the texts it names from their entries: a text
    // with e entries shares at most e + unread of the query text's runs, and its likeness is at most
    // likeness[e + unread] (from `likenessAt` in Search::likeness; none: at most 1).
    struct Group {
        std::size_t begin = 0; // of lists
        std::size_t end = 0;
        std::size_t need = 1;
        std::uint8_t parts = 0;
        std::size_t likenessAt = 0;
        std::size_t likenessCount = 0;
        std::size_t unread = 0;
    };
    struct Search {
        std::vector<const List*> lists;
        std::vector<Group> groups;
        std::vector<std::uint8_t> likeness;
        std::array<float, 4> unnamed{};
        std::size_t entries = 0;
    };
    // The search for `record` with its texts looked up at `level` (or at `threshold`, for a text too
    // short to narrow at `level`, or not at all, for one that does not narrow at the threshold either).
    // `extraReads`: read lists beyond the ones that must be read (see rarest).
    void searchFor(const analysis::TrackRecord& record, float threshold, float level, bool extraReads,
                   Search& search) const;
    void addUnboundedTracks(unsigned texts, float threshold, Search& search) const;
    // query without the visits.
    bool select(const analysis::TrackRecord& record, float threshold, std::uint32_t below, std::size_t budget,
                std::vector<std::uint32_t>& out, const std::function<bool()>& pause) const;
    // The positions before `below` that a search names for parts with which they may reach
    // `threshold`; `texts`: the query's analysis::tagTextsOf.
    // False when `pause` ended it.
    bool count(const Search& search, unsigned texts, float threshold, std::uint32_t below,
               std::vector<std::uint32_t>& out, const std::function<bool()>& pause) const;
    // Adds the groups of one query text standing for `parts`; false when it does not narrow.
    bool addTextLists(std::u16string_view text, std::size_t space, float threshold, unsigned parts,
                      bool extraReads, Search& search) const;
    // The lists of enough of `runs` that every text sharing `needed` of them has `need` entries among
    // them (the runs whose lists hold the fewest entries); need 0 when no such text reaches the level.
    struct Pick {
        std::vector<const List*> lists;
        std::size_t need = 0;
        std::size_t entries = 0; // of the fewest lists that name every such text
        std::size_t unread = 0;  // runs whose lists are not among them
    };
    void rarest(const std::vector<const RunLists*>& runs, std::size_t lengthClass, std::size_t needed,
                bool extraReads, Pick& pick) const;
    static void addGroup(Search& search, const std::vector<const List*>& lists, std::size_t need,
                         unsigned parts);
    // A group of the lists `pick` chose, whose entries bound the likeness by `likeness`.
    static void addCountedGroup(Search& search, const Pick& pick, unsigned parts,
                                const LikenessByShared& likeness);

    std::unordered_map<std::uint64_t, RunLists> runs_;
    // lists_[0] stays empty. A deque, so that a list stays where it is while others are added (a
    // query that pauses keeps its lists).
    std::deque<List> lists_{1};
    std::size_t entriesBetweenPauses_ = kEntriesBetweenPauses;
    std::array<Space, kSpaces> spaces_;
    std::vector<std::uint8_t> texts_; // analysis::tagTextsOf of every position
    std::array<List, 16> byTexts_;    // the positions by their analysis::tagTextsOf
};

template <typename Visit>
bool TagIndex::query(const analysis::TrackRecord& record, float threshold, std::uint32_t below,
                     std::size_t budget, Visit&& visit, const std::function<bool()>& pause) const {
    thread_local std::vector<std::uint32_t> found;
    if (!select(record, threshold, below, budget, found, pause)) {
        return false;
    }
    for (const std::uint32_t p : found) {
        visit(p);
    }
    return true;
}

} // namespace tonemirror::engine
