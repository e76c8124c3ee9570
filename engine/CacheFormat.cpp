#include "engine/CacheFormat.h"

#include "engine/IgnoreSet.h"
#include "engine/TrackTable.h"

#include <bit>
#include <cstring>
#include <new>

namespace tonemirror::engine::cache {

namespace {

constexpr std::array<std::byte, kHeaderSize> makeHeader() {
    std::array<std::byte, kHeaderSize> h{};
    constexpr std::string_view text = "Tonemirror 0.82";
    for (std::size_t i = 0; i < text.size(); ++i) {
        h[i] = static_cast<std::byte>(text[i]);
    }
    return h;
}

constexpr auto kHeader = makeHeader();

// Appends little-endian values to a buffer that was sized up front.
class Writer {
public:
    explicit Writer(std::byte* out) : out_(out) {}

    void u32(std::uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            *out_++ = static_cast<std::byte>((v >> (8 * i)) & 0xFF);
        }
    }
    void u16(std::uint16_t v) {
        *out_++ = static_cast<std::byte>(v & 0xFF);
        *out_++ = static_cast<std::byte>(v >> 8);
    }
    void units(std::u16string_view text) {
        if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(out_, text.data(), text.size() * 2);
            out_ += text.size() * 2;
        } else {
            for (const char16_t c : text) {
                u16(c);
            }
        }
    }
    void text(std::u16string_view t) {
        u16(static_cast<std::uint16_t>(t.size()));
        units(t);
    }
    template <std::size_t N>
    void floats(const std::array<float, N>& values) {
        if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(out_, values.data(), N * 4);
            out_ += N * 4;
        } else {
            for (const float f : values) {
                u32(std::bit_cast<std::uint32_t>(f));
            }
        }
    }
    void marker() {
        for (const auto b : kEndMarker) {
            *out_++ = static_cast<std::byte>(b);
        }
    }
    std::byte* position() const { return out_; }

private:
    std::byte* out_;
};

// Reads little-endian values from memory; every read is checked against the bytes that are left,
// so no size field is trusted before the data behind it is known to exist.
class Reader {
public:
    explicit Reader(std::span<const std::byte> data, std::size_t offset) : data_(data), pos_(offset) {}

    std::size_t position() const { return pos_; }
    std::size_t remaining() const { return data_.size() - pos_; }

    bool u32(std::uint32_t& v) {
        if (remaining() < 4) {
            return false;
        }
        v = 0;
        for (int i = 0; i < 4; ++i) {
            v |= static_cast<std::uint32_t>(data_[pos_ + i]) << (8 * i);
        }
        pos_ += 4;
        return true;
    }
    bool i16(std::int16_t& v) {
        if (remaining() < 2) {
            return false;
        }
        const auto u = static_cast<std::uint16_t>(static_cast<unsigned>(data_[pos_]) |
                                                  (static_cast<unsigned>(data_[pos_ + 1]) << 8));
        v = static_cast<std::int16_t>(u);
        pos_ += 2;
        return true;
    }
    bool units(std::size_t count, std::u16string& out) {
        if (remaining() / 2 < count) {
            return false;
        }
        out.resize(count);
        if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(out.data(), data_.data() + pos_, count * 2);
        } else {
            for (std::size_t i = 0; i < count; ++i) {
                out[i] = static_cast<char16_t>(static_cast<unsigned>(data_[pos_ + 2 * i]) |
                                               (static_cast<unsigned>(data_[pos_ + 2 * i + 1]) << 8));
            }
        }
        pos_ += count * 2;
        return true;
    }
    // A length of at least `minimum` units, then the units.
    bool text(std::u16string& out, std::int16_t minimum) {
        std::int16_t n = 0;
        if (!i16(n) || n < minimum) {
            return false;
        }
        return units(static_cast<std::size_t>(n), out);
    }
    template <std::size_t N>
    bool floats(std::array<float, N>& values) {
        if (remaining() < N * 4) {
            return false;
        }
        if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(values.data(), data_.data() + pos_, N * 4);
            pos_ += N * 4;
        } else {
            for (auto& f : values) {
                std::uint32_t bits = 0;
                u32(bits);
                f = std::bit_cast<float>(bits);
            }
        }
        return true;
    }
    bool marker() {
        if (remaining() < kEndMarker.size()) {
            return false;
        }
        for (std::size_t i = 0; i < kEndMarker.size(); ++i) {
            if (static_cast<std::uint8_t>(data_[pos_ + i]) != kEndMarker[i]) {
                return false;
            }
        }
        pos_ += kEndMarker.size();
        return true;
    }
    bool skip(std::uint64_t count) {
        if (remaining() < count) {
            return false;
        }
        pos_ += static_cast<std::size_t>(count);
        return true;
    }

private:
    std::span<const std::byte> data_;
    std::size_t pos_;
};

bool fits(std::u16string_view text) {
    return text.size() <= kMaxTextUnits;
}

HResult sizeBuffer(std::vector<std::byte>& out, std::size_t size) {
    try {
        out.resize(size);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (const std::length_error&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

bool readTrack(Reader& in, std::u16string& path, analysis::TrackRecord& record) {
    return in.text(path, 1) && in.floats(record.levelProfile) && in.floats(record.sectionCorrelations) &&
           in.floats(record.meanSpectrum) && in.text(record.nameText, 0) && in.text(record.titleText, 0) &&
           in.text(record.artistText, 0) && in.text(record.albumText, 0) && in.marker();
}

bool readPair(Reader& in, std::u16string& first, std::u16string& second) {
    return in.text(first, 1) && in.text(second, 1) && in.marker();
}

} // namespace

const std::array<std::byte, kHeaderSize>& header() {
    return kHeader;
}

HResult serializeTrack(std::u16string_view path, const analysis::TrackRecord& record,
                       std::vector<std::byte>& out) {
    if (path.empty() || !fits(path) || !fits(record.nameText) || !fits(record.titleText) ||
        !fits(record.artistText) || !fits(record.albumText)) {
        return E_INVALIDARG;
    }
    const std::size_t total =
        kTrackRecordFixedSize + 2 * (path.size() + record.nameText.size() + record.titleText.size() +
                                     record.artistText.size() + record.albumText.size());
    if (const HResult r = sizeBuffer(out, total); failed(r)) {
        return r;
    }
    Writer w(out.data());
    w.u32(kTrackRecord);
    w.u32(static_cast<std::uint32_t>(total - kRecordHeadSize));
    w.text(path);
    w.floats(record.levelProfile);
    w.floats(record.sectionCorrelations);
    w.floats(record.meanSpectrum);
    w.text(record.nameText);
    w.text(record.titleText);
    w.text(record.artistText);
    w.text(record.albumText);
    w.marker();
    return w.position() == out.data() + total ? S_OK : E_FAIL;
}

HResult serializeIgnoredPair(std::u16string_view first, std::u16string_view second,
                             std::vector<std::byte>& out) {
    if (first.empty() || second.empty() || !fits(first) || !fits(second)) {
        return E_INVALIDARG;
    }
    const std::size_t total =
        kRecordHeadSize + 2 + 2 * first.size() + 2 + 2 * second.size() + kEndMarker.size();
    if (const HResult r = sizeBuffer(out, total); failed(r)) {
        return r;
    }
    Writer w(out.data());
    w.u32(kIgnoredPair);
    w.u32(static_cast<std::uint32_t>(total - kRecordHeadSize));
    w.text(first);
    w.text(second);
    w.marker();
    return S_OK;
}

ParseResult parse(std::span<const std::byte> data, TrackTable& table, IgnoreSet& ignored) {
    ParseResult result;
    if (data.size() < kHeaderSize || std::memcmp(data.data(), kHeader.data(), kHeaderSize) != 0) {
        return result;
    }
    result.headerValid = true;
    result.goodEnd = kHeaderSize;

    Reader in(data, kHeaderSize);
    std::u16string path;
    std::u16string second;
    analysis::TrackRecord record;
    for (;;) {
        std::uint32_t type = 0;
        std::uint32_t bodyLength = 0;
        if (!in.u32(type) || !in.u32(bodyLength)) {
            break;
        }
        if (type == kTrackRecord) {
            if (!readTrack(in, path, record)) {
                break;
            }
            record.trackId = -1;
            table.insert(std::move(path), record);
            path.clear();
            ++result.trackRecords;
        } else if (type == kIgnoredPair) {
            if (!readPair(in, path, second)) {
                break;
            }
            ignored.insert(std::move(path), std::move(second));
            path.clear();
            second.clear();
            ++result.pairRecords;
        } else {
            // A record of a later kind: skipped, but only when it lies wholly inside the file.
            if (!in.skip(bodyLength)) {
                break;
            }
            ++result.skippedRecords;
        }
        result.goodEnd = in.position();
    }
    return result;
}

} // namespace tonemirror::engine::cache
