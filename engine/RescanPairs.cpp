#include "engine/RescanPairs.h"

#include "engine/FileIo.h"
#include "platform/os/FileIdentity.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace tonemirror::engine {

namespace {

// Word at a time: a library's records take a fraction of a second together.
class Hasher {
public:
    void bytes(const void* data, std::size_t size) {
        const auto* p = static_cast<const unsigned char*>(data);
        word(size);
        for (; size >= 8; p += 8, size -= 8) {
            std::uint64_t w = 0;
            std::memcpy(&w, p, 8);
            word(w);
        }
        std::uint64_t tail = 0;
        if (size != 0) {
            std::memcpy(&tail, p, size);
        }
        word(tail);
    }
    template <typename T>
    void value(const T& v) {
        bytes(&v, sizeof v);
    }
    std::uint64_t digest() const { return mix(h_ ^ (h_ >> 31)); }

private:
    static std::uint64_t mix(std::uint64_t x) {
        x ^= x >> 33;
        x *= 0xFF51AFD7ED558CCDull;
        x ^= x >> 33;
        return x;
    }
    void word(std::uint64_t w) {
        h_ = (std::rotl(h_, 23) ^ mix(w + 0x9E3779B97F4A7C15ull)) * 0xC4CEB9FE1A85EC53ull;
    }
    std::uint64_t h_ = 0x243F6A8885A308D3ull;
};

// A list past this size is not a list this program wrote for any library.
constexpr std::uint64_t kMaxFileSize = std::uint64_t{4} << 30;

} // namespace

std::uint64_t trackIdentity(std::u16string_view path, const analysis::TrackRecord& record) {
    Hasher h;
    h.bytes(path.data(), path.size() * sizeof(char16_t));
    h.value(record.fileStamp.known);
    h.value(record.fileStamp.size);
    h.value(record.fileStamp.modifiedSeconds);
    h.value(record.fileStamp.modifiedNanoseconds);
    h.value(record.levelProfile);
    h.value(record.sectionCorrelations);
    // The spectrum as the comparisons read it: the halves (and their power of two). Lists of versions
    // that kept floats name other identities, so their pairs are worked out again once.
    h.bytes(record.meanSpectrum.halves(), record.meanSpectrum.size() * sizeof(std::uint16_t));
    h.value(record.meanSpectrum.exponent());
    for (const std::u16string* text :
         {&record.nameText, &record.titleText, &record.artistText, &record.albumText}) {
        h.bytes(text->data(), text->size() * sizeof(char16_t));
    }
    h.bytes(record.acousticPrint.data(), record.acousticPrint.size() * sizeof(std::uint32_t));
    h.value(record.acousticPrintLong);
    h.value(record.highCutoffKnown);
    h.value(record.highCutoffHz);
    return h.digest();
}

void RescanPairs::begin(const pair_list::PairRule& rule, std::optional<pair_list::PairList> stored,
                        std::size_t tracks) {
    rule_ = rule;
    stored_ = std::move(stored);
    identities_.clear();
    storedRanks_.clear();
    fresh_.clear();
    identities_.reserve(tracks);
    storedRanks_.reserve(tracks);
    positionOfRank_.assign(stored_ ? stored_->trackCount() : 0, -1);
    joinedRanks_.assign((positionOfRank_.size() + 63) / 64, 0);
    highestRank_ = 0;
    reused_.store(0, std::memory_order_relaxed);
    std::lock_guard hold(lock_);
    pairs_.clear();
    spoilt_ = false;
    finished_ = false;
}

bool RescanPairs::join(std::uint64_t identity) {
    const std::size_t position = identities_.size();
    identities_.push_back(identity);
    std::uint32_t rank = stored_ ? stored_->rankOf(identity) : pair_list::kNoRank;
    if (rank != pair_list::kNoRank && positionOfRank_[rank] != -1) {
        rank = pair_list::kNoRank; // never twice in one scan; a safe answer all the same
    }
    storedRanks_.push_back(rank);
    if (rank == pair_list::kNoRank) {
        fresh_.push_back(static_cast<std::uint32_t>(position));
        return false;
    }
    positionOfRank_[rank] = static_cast<std::int32_t>(position);
    joinedRanks_[rank / 64] |= std::uint64_t{1} << (rank % 64);
    highestRank_ = std::max(highestRank_, rank);
    return rule_ == stored_->rule;
}

bool RescanPairs::plan(std::size_t me, const pair_list::PairRule& rule, std::size_t budget,
                       std::vector<std::uint32_t>& direct, std::vector<std::uint32_t>& offered) const {
    direct.clear();
    offered.clear();
    if (!stored_ || me >= storedRanks_.size() || !(rule == rule_) || !(rule == stored_->rule)) {
        return false;
    }
    const std::uint32_t rank = storedRanks_[me];
    if (rank == pair_list::kNoRank) {
        return false;
    }
    const auto freshEnd = std::lower_bound(fresh_.begin(), fresh_.end(), static_cast<std::uint32_t>(me));
    if (static_cast<std::size_t>(freshEnd - fresh_.begin()) > budget) {
        return false;
    }
    direct.assign(fresh_.begin(), freshEnd);
    offerJoined(stored_->partnersOf(rank), me, offered);
    if (symmetric(rule)) {
        // The pair came out the same when the other track was the newer one last time.
        offerJoined(stored_->laterPartnersOf(rank), me, offered);
    } else if (!addTurnedRound(rank, me, budget, direct)) {
        return false;
    }
    return true;
}

bool RescanPairs::symmetric(const pair_list::PairRule& rule) {
    // Content and sound scores do not depend on which track is the newer; the tag score does.
    return rule.method == kByContentOnly && !rule.verify;
}

void RescanPairs::offerJoined(std::span<const std::uint32_t> ranks, std::size_t me,
                              std::vector<std::uint32_t>& out) const {
    // A partner that joins after it this time makes the comparison itself.
    for (const std::uint32_t other : ranks) {
        const std::int32_t at = positionOfRank_[other];
        if (at != -1 && static_cast<std::size_t>(at) < me) {
            out.push_back(static_cast<std::uint32_t>(at));
        }
    }
}

bool RescanPairs::addTurnedRound(std::uint32_t rank, std::size_t me, std::size_t budget,
                                 std::vector<std::uint32_t>& direct) const {
    // Known tracks that joined before it but came after it last time, when the pair was scored the
    // other way round: a word of the joined ranks at a time, up to the highest joined.
    for (std::uint32_t word = (rank + 1) / 64; word <= highestRank_ / 64; ++word) {
        std::uint64_t bits = joinedRanks_[word];
        if (word == (rank + 1) / 64) {
            bits &= ~std::uint64_t{0} << ((rank + 1) % 64);
        }
        for (; bits != 0; bits &= bits - 1) {
            const std::size_t later =
                std::size_t{word} * 64 + static_cast<std::size_t>(std::countr_zero(bits));
            const std::int32_t at = positionOfRank_[later];
            if (static_cast<std::size_t>(at) < me) {
                direct.push_back(static_cast<std::uint32_t>(at));
            }
        }
        if (direct.size() > budget) {
            return false;
        }
    }
    return true;
}

void RescanPairs::found(std::size_t me, std::span<const std::uint32_t> earlier) {
    std::lock_guard hold(lock_);
    for (const std::uint32_t other : earlier) {
        pairs_.push_back((static_cast<std::uint64_t>(me) << 32) | other);
    }
}

void RescanPairs::spoil() {
    std::lock_guard hold(lock_);
    spoilt_ = true;
}

std::optional<std::vector<std::byte>> RescanPairs::finish() {
    std::lock_guard hold(lock_);
    if (spoilt_ || finished_) {
        return std::nullopt;
    }
    finished_ = true;
    return pair_list::format(rule_, identities_, std::move(pairs_));
}

std::filesystem::path RescanPairs::fileFor(const std::filesystem::path& cacheFile) {
    std::filesystem::path file = cacheFile;
    file += ".pairs";
    return file;
}

std::optional<pair_list::PairList> RescanPairs::load(const std::filesystem::path& file) {
    const os::OpenedFile opened = os::openRegularFile(file, O_RDONLY);
    if (opened.fd < 0) {
        return std::nullopt;
    }
    const std::optional<std::uint64_t> size = fileSize(opened.fd);
    std::optional<std::vector<std::byte>> bytes;
    if (size && *size <= kMaxFileSize) {
        bytes = readWholeFile(opened.fd);
    }
    ::close(opened.fd);
    if (!bytes) {
        return std::nullopt;
    }
    return pair_list::parse(*bytes);
}

} // namespace tonemirror::engine
