#include "engine/PairListFormat.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string_view>

namespace tonemirror::engine::pair_list {

namespace {

constexpr std::string_view kSignature = "TMPAIRS\n";
constexpr std::uint32_t kLayoutVersion = 1;
constexpr std::size_t kHeaderSize = 8 + 4 + 4 + 5 * 4 + 8 + 8;
constexpr std::size_t kTrackSize = 12;
constexpr std::size_t kPairSize = 8;
constexpr std::size_t kCheckSize = 8;
constexpr std::uint32_t kVerifyFlag = 1;
constexpr std::uint32_t kAccurateFlag = 2;
constexpr std::uint32_t kPrintsIndexedFlag = 4;

std::uint64_t checkOf(std::span<const std::byte> bytes) {
    std::uint64_t h = 0x9E3779B97F4A7C15ull ^ bytes.size();
    for (const std::byte b : bytes) {
        h = (h ^ static_cast<std::uint64_t>(b)) * 0x100000001B3ull;
        h ^= h >> 29;
    }
    return h;
}

class Writer {
public:
    explicit Writer(std::vector<std::byte>& out) : out_(out) {}
    void u32(std::uint32_t v) { bytes(v, 4); }
    void u64(std::uint64_t v) { bytes(v, 8); }
    void f32(float v) { u32(std::bit_cast<std::uint32_t>(v)); }

private:
    void bytes(std::uint64_t v, int count) {
        for (int i = 0; i < count; ++i) {
            out_.push_back(static_cast<std::byte>((v >> (8 * i)) & 0xFF));
        }
    }
    std::vector<std::byte>& out_;
};

// Reads from a span whose length the caller has checked.
class Reader {
public:
    explicit Reader(std::span<const std::byte> in) : in_(in) {}
    std::uint32_t u32() { return static_cast<std::uint32_t>(bytes(4)); }
    std::uint64_t u64() { return bytes(8); }
    float f32() { return std::bit_cast<float>(u32()); }

private:
    std::uint64_t bytes(int count) {
        std::uint64_t v = 0;
        for (int i = 0; i < count; ++i) {
            v |= static_cast<std::uint64_t>(in_[at_ + i]) << (8 * i);
        }
        at_ += static_cast<std::size_t>(count);
        return v;
    }
    std::span<const std::byte> in_;
    std::size_t at_ = 0;
};

std::uint32_t flagsOf(const PairRule& rule) {
    return (rule.verify ? kVerifyFlag : 0) | (rule.accurate ? kAccurateFlag : 0) |
           (rule.printsIndexed ? kPrintsIndexedFlag : 0);
}

// Every track's identity with its rank, ascending.
std::vector<std::pair<std::uint64_t, std::uint32_t>> sortedTracks(std::span<const std::uint64_t> identities) {
    std::vector<std::pair<std::uint64_t, std::uint32_t>> tracks;
    tracks.reserve(identities.size());
    for (std::size_t r = 0; r < identities.size() && r < kNoRank; ++r) {
        tracks.emplace_back(identities[r], static_cast<std::uint32_t>(r));
    }
    std::sort(tracks.begin(), tracks.end());
    return tracks;
}

struct Header {
    PairRule rule;
    std::uint64_t tracks = 0;
    std::uint64_t pairs = 0;
};

std::optional<Header> readHeader(std::span<const std::byte> bytes) {
    if (bytes.size() < kHeaderSize + kCheckSize ||
        std::memcmp(bytes.data(), kSignature.data(), kSignature.size()) != 0) {
        return std::nullopt;
    }
    Reader in(bytes.subspan(kSignature.size()));
    if (in.u32() != kLayoutVersion || in.u32() != kComparisonVersion) {
        return std::nullopt;
    }
    Header h;
    h.rule.method = static_cast<std::int32_t>(in.u32());
    h.rule.contentThreshold = in.f32();
    h.rule.tagsThreshold = in.f32();
    h.rule.acousticThreshold = in.f32();
    const std::uint32_t flags = in.u32();
    h.rule.verify = (flags & kVerifyFlag) != 0;
    h.rule.accurate = (flags & kAccurateFlag) != 0;
    h.rule.printsIndexed = (flags & kPrintsIndexedFlag) != 0;
    h.tracks = in.u64();
    h.pairs = in.u64();
    // The counts must describe exactly the bytes there are, checked before anything is sized by them.
    const std::size_t body = bytes.size() - kHeaderSize - kCheckSize;
    if ((flags & ~(kVerifyFlag | kAccurateFlag | kPrintsIndexedFlag)) != 0 || h.tracks > body / kTrackSize ||
        h.pairs > body / kPairSize || h.tracks * kTrackSize + h.pairs * kPairSize != body ||
        h.tracks >= kNoRank) {
        return std::nullopt;
    }
    return h;
}

bool readTracks(Reader& in, std::size_t count, PairList& list) {
    list.identities.resize(count);
    list.ranks.resize(count);
    std::vector<bool> seen(count, false);
    for (std::size_t i = 0; i < count; ++i) {
        list.identities[i] = in.u64();
        list.ranks[i] = in.u32();
        const std::uint32_t rank = list.ranks[i];
        // Ascending by identity, then rank: one list, one layout.
        const bool ascending = i == 0 || list.identities[i - 1] < list.identities[i] ||
                               (list.identities[i - 1] == list.identities[i] && list.ranks[i - 1] < rank);
        if (rank >= count || seen[rank] || !ascending) {
            return false;
        }
        seen[rank] = true;
    }
    return true;
}

// The newer partners of every rank, from the older ones.
void invert(PairList& list) {
    const std::size_t tracks = list.trackCount();
    list.laterStarts.assign(tracks + 1, 0);
    for (const std::uint32_t older : list.olders) {
        ++list.laterStarts[older + 1];
    }
    for (std::size_t r = 0; r < tracks; ++r) {
        list.laterStarts[r + 1] += list.laterStarts[r];
    }
    list.newers.resize(list.olders.size());
    std::vector<std::uint32_t> next(list.laterStarts.begin(), list.laterStarts.end() - 1);
    for (std::uint32_t newer = 0; newer < tracks; ++newer) {
        for (const std::uint32_t older : list.partnersOf(newer)) {
            list.newers[next[older]++] = newer;
        }
    }
}

bool readPairs(Reader& in, std::size_t tracks, std::size_t count, PairList& list) {
    list.starts.assign(tracks + 1, 0);
    list.olders.resize(count);
    std::uint64_t last = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t newer = in.u32();
        const std::uint32_t older = in.u32();
        const std::uint64_t both = (static_cast<std::uint64_t>(newer) << 32) | older;
        if (newer >= tracks || older >= newer || (i > 0 && both <= last)) {
            return false;
        }
        last = both;
        list.olders[i] = older;
        ++list.starts[newer + 1];
    }
    for (std::size_t r = 0; r < tracks; ++r) {
        list.starts[r + 1] += list.starts[r];
    }
    invert(list);
    return true;
}

} // namespace

std::uint32_t PairList::rankOf(std::uint64_t identity) const {
    const auto at = std::lower_bound(identities.begin(), identities.end(), identity);
    // An identity held by two tracks names neither.
    if (at == identities.end() || *at != identity || (at + 1 != identities.end() && at[1] == identity)) {
        return kNoRank;
    }
    return ranks[static_cast<std::size_t>(at - identities.begin())];
}

std::vector<std::byte> format(const PairRule& rule, std::span<const std::uint64_t> identities,
                              std::vector<std::uint64_t> pairs) {
    const auto tracks = sortedTracks(identities);
    const std::uint64_t count = tracks.size();
    std::erase_if(pairs, [count](std::uint64_t p) {
        const std::uint64_t newer = p >> 32;
        const std::uint64_t older = p & 0xFFFFFFFFu;
        return newer >= count || older >= newer;
    });
    std::sort(pairs.begin(), pairs.end());
    pairs.erase(std::unique(pairs.begin(), pairs.end()), pairs.end());

    std::vector<std::byte> out;
    out.reserve(kHeaderSize + tracks.size() * kTrackSize + pairs.size() * kPairSize + kCheckSize);
    for (const char c : kSignature) {
        out.push_back(static_cast<std::byte>(c));
    }
    Writer w(out);
    w.u32(kLayoutVersion);
    w.u32(kComparisonVersion);
    w.u32(static_cast<std::uint32_t>(rule.method));
    w.f32(rule.contentThreshold);
    w.f32(rule.tagsThreshold);
    w.f32(rule.acousticThreshold);
    w.u32(flagsOf(rule));
    w.u64(count);
    w.u64(pairs.size());
    for (const auto& [identity, rank] : tracks) {
        w.u64(identity);
        w.u32(rank);
    }
    for (const std::uint64_t p : pairs) {
        w.u32(static_cast<std::uint32_t>(p >> 32));
        w.u32(static_cast<std::uint32_t>(p));
    }
    w.u64(checkOf(out));
    return out;
}

void seal(std::span<std::byte> bytes) {
    if (bytes.size() < kCheckSize) {
        return;
    }
    const std::size_t checked = bytes.size() - kCheckSize;
    std::uint64_t check = checkOf(bytes.first(checked));
    for (std::size_t i = 0; i < kCheckSize; ++i, check >>= 8) {
        bytes[checked + i] = static_cast<std::byte>(check & 0xFF);
    }
}

std::optional<PairList> parse(std::span<const std::byte> bytes) {
    const std::optional<Header> header = readHeader(bytes);
    if (!header) {
        return std::nullopt;
    }
    const std::size_t checked = bytes.size() - kCheckSize;
    if (Reader(bytes.subspan(checked)).u64() != checkOf(bytes.first(checked))) {
        return std::nullopt;
    }
    PairList list;
    list.rule = header->rule;
    Reader in(bytes.subspan(kHeaderSize));
    const auto tracks = static_cast<std::size_t>(header->tracks);
    if (!readTracks(in, tracks, list) ||
        !readPairs(in, tracks, static_cast<std::size_t>(header->pairs), list)) {
        return std::nullopt;
    }
    return list;
}

} // namespace tonemirror::engine::pair_list
