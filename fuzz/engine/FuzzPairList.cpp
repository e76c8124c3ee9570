// Feeds arbitrary bytes to the pair-list reader, as they are and with a fresh check so that the checks
// behind it are reached. Whatever it accepts must hold together (every rank and partner in range,
// partners older than their track, the newer lists the mirror of the older ones) and, written back
// out, read back the same.
#include "engine/PairListFormat.h"

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

using namespace tonemirror::engine;

namespace {

void check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

// Bit for bit: a threshold read as NaN is never equal to itself.
bool sameRule(const pair_list::PairRule& a, const pair_list::PairRule& b) {
    return a.method == b.method &&
           std::bit_cast<std::uint32_t>(a.contentThreshold) ==
               std::bit_cast<std::uint32_t>(b.contentThreshold) &&
           std::bit_cast<std::uint32_t>(a.tagsThreshold) == std::bit_cast<std::uint32_t>(b.tagsThreshold) &&
           std::bit_cast<std::uint32_t>(a.acousticThreshold) ==
               std::bit_cast<std::uint32_t>(b.acousticThreshold) &&
           a.verify == b.verify && a.accurate == b.accurate && a.printsIndexed == b.printsIndexed;
}

void checkList(const pair_list::PairList& list) {
    const std::size_t tracks = list.trackCount();
    check(list.identities.size() == tracks && list.ranks.size() == tracks);
    std::vector<std::uint64_t> identities(tracks);
    std::vector<std::uint64_t> pairs;
    std::size_t later = 0;
    for (std::size_t i = 0; i < tracks; ++i) {
        check(list.ranks[i] < tracks);
        identities[list.ranks[i]] = list.identities[i];
    }
    for (std::uint32_t newer = 0; newer < tracks; ++newer) {
        for (const std::uint32_t older : list.partnersOf(newer)) {
            check(older < newer);
            pairs.push_back((std::uint64_t{newer} << 32) | older);
        }
        for (const std::uint32_t other : list.laterPartnersOf(newer)) {
            check(other > newer && other < tracks);
            ++later;
        }
    }
    check(later == pairs.size());
    const auto again = pair_list::parse(pair_list::format(list.rule, identities, pairs));
    check(again.has_value() && sameRule(again->rule, list.rule) && again->identities == list.identities &&
          again->ranks == list.ranks && again->starts == list.starts && again->olders == list.olders);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::byte> bytes(reinterpret_cast<const std::byte*>(data),
                                 reinterpret_cast<const std::byte*>(data) + size);
    if (const auto list = pair_list::parse(bytes)) {
        checkList(*list);
    }
    pair_list::seal(bytes);
    if (const auto list = pair_list::parse(bytes)) {
        checkList(*list);
    }
    return 0;
}
