#include "engine/CacheFormat.h"

#include "analysis/AcousticFingerprinter.h"
#include "analysis/SpectrumProfile.h"
#include "engine/IgnoreSet.h"
#include "engine/TrackTable.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <new>
#include <optional>
#include <utility>

#include <unistd.h>

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
    void u64(std::uint64_t v) {
        u32(static_cast<std::uint32_t>(v));
        u32(static_cast<std::uint32_t>(v >> 32));
    }
    void bytes(std::span<const std::byte> data) {
        std::memcpy(out_, data.data(), data.size());
        out_ += data.size();
    }
    void fieldHead(DetailsField id, std::size_t length) {
        u16(static_cast<std::uint16_t>(id));
        u32(static_cast<std::uint32_t>(length));
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
    bool u16(std::uint16_t& v) {
        std::int16_t i = 0;
        if (!i16(i)) {
            return false;
        }
        v = static_cast<std::uint16_t>(i);
        return true;
    }
    bool u64(std::uint64_t& v) {
        std::uint32_t low = 0;
        std::uint32_t high = 0;
        if (remaining() < 8 || !u32(low) || !u32(high)) {
            return false;
        }
        v = (static_cast<std::uint64_t>(high) << 32) | low;
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
    std::span<const std::byte> rest() const { return data_.subspan(pos_); }
    // A reader over the next `count` bytes (the caller checked they exist); this one does not move.
    Reader slice(std::size_t count) const { return Reader(data_.subspan(pos_, count), 0); }
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

// The file holds every bin of the spectrum; the bins above the compared ones are passed over.
constexpr std::size_t kSpectrumRestBytes = 4 * (analysis::kSpectrumSize - analysis::kComparedSpectrumBins);

// The file keeps floats; the record keeps them rounded as an analysis rounds them. Spectra written by
// this version come back unchanged, older ones are rounded here.
bool readSpectrum(Reader& in, analysis::HalfSpectrum& spectrum) {
    std::array<float, analysis::kComparedSpectrumBins> values;
    if (!in.floats(values)) {
        return false;
    }
    spectrum.assign(values);
    return true;
}

bool readTrack(Reader& in, std::u16string& path, analysis::TrackRecord& record) {
    record.spectrumRest.clear();
    return in.text(path, 1) && in.floats(record.levelProfile) && in.floats(record.sectionCorrelations) &&
           readSpectrum(in, record.meanSpectrum) && in.skip(kSpectrumRestBytes) &&
           in.text(record.nameText, 0) && in.text(record.titleText, 0) && in.text(record.artistText, 0) &&
           in.text(record.albumText, 0) && in.marker();
}

bool readPair(Reader& in, std::u16string& first, std::u16string& second) {
    return in.text(first, 1) && in.text(second, 1) && in.marker();
}

// --- per-track details: one entry per field in each of the functions below ---

// What one details record carried; a field it did not hold stays unset.
struct Details {
    std::optional<analysis::FileStamp> fileStamp;
    std::optional<analysis::AcousticPrint> acousticPrint;
    bool acousticPrintLong = false; // acousticPrint came from the long print's field
    std::optional<std::uint32_t> highCutoffHz;
};

std::size_t detailsFieldsSize(const analysis::TrackRecord& record) {
    std::size_t size = 0;
    if (record.fileStamp.known) {
        size += kFieldHeadSize + kFileStampSize;
    }
    if (!record.acousticPrint.empty()) {
        size += kFieldHeadSize + analysis::encodedAcousticSize(record.acousticPrint.size());
    }
    if (record.highCutoffKnown) {
        size += kFieldHeadSize + kHighCutoffSize;
    }
    return size;
}

void writeDetailsFields(Writer& w, const analysis::TrackRecord& record) {
    if (record.fileStamp.known) {
        w.fieldHead(DetailsField::FileStamp, kFileStampSize);
        w.u64(record.fileStamp.size);
        w.u64(static_cast<std::uint64_t>(record.fileStamp.modifiedSeconds));
        w.u32(record.fileStamp.modifiedNanoseconds);
    }
    if (!record.acousticPrint.empty()) {
        thread_local std::vector<std::byte> encoded;
        analysis::encodeAcousticPrint(record.acousticPrint, analysis::AcousticFingerprinter::algorithm(),
                                      encoded);
        w.fieldHead(record.acousticPrintLong ? DetailsField::LongAcousticPrint : DetailsField::AcousticPrint,
                    encoded.size());
        w.bytes(encoded);
    }
    if (record.highCutoffKnown) {
        w.fieldHead(DetailsField::HighCutoff, kHighCutoffSize);
        w.u32(record.highCutoffHz);
    }
}

// Reads one field whose bytes lie in `field`; false when a known field is damaged.
bool readDetailsField(std::uint16_t id, Reader field, Details& out) {
    switch (static_cast<DetailsField>(id)) {
    case DetailsField::FileStamp: {
        analysis::FileStamp stamp;
        std::uint64_t seconds = 0;
        if (field.remaining() != kFileStampSize || !field.u64(stamp.size) || !field.u64(seconds) ||
            !field.u32(stamp.modifiedNanoseconds) || stamp.modifiedNanoseconds >= 1000000000u) {
            return false;
        }
        stamp.modifiedSeconds = static_cast<std::int64_t>(seconds);
        stamp.known = true;
        out.fileStamp = stamp;
        return true;
    }
    case DetailsField::AcousticPrint:
    case DetailsField::LongAcousticPrint: {
        analysis::AcousticPrint print;
        const HResult r =
            analysis::decodeAcousticPrint(field.rest(), analysis::AcousticFingerprinter::algorithm(), print);
        if (failed(r)) {
            return false;
        }
        const bool isLong = id == static_cast<std::uint16_t>(DetailsField::LongAcousticPrint);
        // Should a record hold both, the long print wins whatever their order.
        if (r == S_OK && !print.empty() && (isLong || !out.acousticPrintLong)) {
            out.acousticPrint = std::move(print);
            out.acousticPrintLong = isLong;
        }
        return true;
    }
    case DetailsField::HighCutoff: {
        std::uint32_t hz = 0;
        if (field.remaining() != kHighCutoffSize || !field.u32(hz)) {
            return false;
        }
        out.highCutoffHz = hz;
        return true;
    }
    }
    return true; // a later version's field
}

void applyDetails(const Details& details, analysis::TrackRecord& record) {
    if (details.fileStamp) {
        record.fileStamp = *details.fileStamp;
    }
    if (details.acousticPrint) {
        record.acousticPrint = *details.acousticPrint;
        record.acousticPrintLong = details.acousticPrintLong;
    }
    if (details.highCutoffHz) {
        record.highCutoffKnown = true;
        record.highCutoffHz = *details.highCutoffHz;
    }
}

// A details record written later for a track that already has its stamp (the print a verifying
// scan added): it fills only what the track lacks, and only for the same state of the file.
void completeDetails(const Details& details, analysis::TrackRecord& record) {
    if (details.fileStamp != record.fileStamp || !details.acousticPrint) {
        return;
    }
    if (record.acousticPrint.empty() || (details.acousticPrintLong && !record.acousticPrintLong)) {
        record.acousticPrint = *details.acousticPrint;
        record.acousticPrintLong = details.acousticPrintLong;
    }
}

// --- end of the per-field functions ---

// The body of a details record: its path and fields, all inside bodyLength.
bool readDetails(Reader& in, std::uint32_t bodyLength, std::u16string& path, Details& out) {
    if (bodyLength > in.remaining() || bodyLength < kEndMarker.size()) {
        return false;
    }
    const std::size_t fieldsEnd = in.position() + bodyLength - kEndMarker.size();
    out = Details{};
    if (!in.text(path, 1) || in.position() > fieldsEnd) {
        return false;
    }
    while (in.position() < fieldsEnd) {
        std::uint16_t id = 0;
        std::uint32_t length = 0;
        if (fieldsEnd - in.position() < kFieldHeadSize || !in.u16(id) || !in.u32(length) ||
            length > fieldsEnd - in.position()) {
            return false;
        }
        if (!readDetailsField(id, in.slice(length), out)) {
            return false;
        }
        in.skip(length);
    }
    return in.marker();
}

HResult checkDetailsPath(std::u16string_view path, const analysis::TrackRecord& record) {
    if (path.empty() || !fits(path) || !hasDetails(record)) {
        return E_INVALIDARG;
    }
    return S_OK;
}

std::size_t detailsRecordSize(std::u16string_view path, const analysis::TrackRecord& record) {
    return kRecordHeadSize + 2 + 2 * path.size() + detailsFieldsSize(record) + kEndMarker.size();
}

void writeDetails(Writer& w, std::u16string_view path, const analysis::TrackRecord& record) {
    w.u32(kTrackDetails);
    w.u32(static_cast<std::uint32_t>(detailsRecordSize(path, record) - kRecordHeadSize));
    w.text(path);
    writeDetailsFields(w, record);
    w.marker();
}

HResult checkTrack(std::u16string_view path, const analysis::TrackRecord& record) {
    if (path.empty() || !fits(path) || !fits(record.nameText) || !fits(record.titleText) ||
        !fits(record.artistText) || !fits(record.albumText)) {
        return E_INVALIDARG;
    }
    return S_OK;
}

std::size_t trackRecordSize(std::u16string_view path, const analysis::TrackRecord& record) {
    return kTrackRecordFixedSize + 2 * (path.size() + record.nameText.size() + record.titleText.size() +
                                        record.artistText.size() + record.albumText.size());
}

void writeTrack(Writer& w, std::u16string_view path, const analysis::TrackRecord& record) {
    w.u32(kTrackRecord);
    w.u32(static_cast<std::uint32_t>(trackRecordSize(path, record) - kRecordHeadSize));
    w.text(path);
    w.floats(record.levelProfile);
    w.floats(record.sectionCorrelations);
    std::array<float, analysis::kSpectrumSize> spectrum;
    analysis::fullSpectrum(record, spectrum);
    w.floats(spectrum);
    w.text(record.nameText);
    w.text(record.titleText);
    w.text(record.artistText);
    w.text(record.albumText);
    w.marker();
}

// Reads the records after the header one at a time into the table and the ignored pairs.
class Loader {
    // What the record before the current one did with its track.
    enum class Previous { Other, Inserted, Refused };

public:
    Loader(std::span<const std::byte> data, TrackTable& table, IgnoreSet& ignored, ParseResult& result)
        : in_(data, kHeaderSize), table_(table), ignored_(ignored), result_(result) {}

    // File offset of the next record.
    std::size_t position() const { return base_ + in_.position(); }

    // Goes on in `window`, the file's bytes from offset `base` (the next record's start).
    void moveTo(std::span<const std::byte> window, std::size_t base) {
        in_ = Reader(window, 0);
        base_ = base;
    }

    // Passes over a record of a later kind without reading its body.
    void skipUnread(std::size_t recordSize) {
        base_ += recordSize;
        in_ = Reader({}, 0);
        previous_ = Previous::Other;
        ++result_.skippedRecords;
    }

    // One record; false at the end of the data or at the first record that breaks a rule.
    bool next() {
        std::uint32_t type = 0;
        std::uint32_t bodyLength = 0;
        if (!in_.u32(type) || !in_.u32(bodyLength)) {
            return false;
        }
        const Previous previous = std::exchange(previous_, Previous::Other);
        if (!record(type, bodyLength, previous)) {
            previous_ = previous; // the record may be read again from a larger window
            return false;
        }
        return true;
    }

private:
    bool record(std::uint32_t type, std::uint32_t bodyLength, Previous previous) {
        switch (type) {
        case kTrackRecord:
            return track();
        case kIgnoredPair:
            return pair();
        case kTrackDetails:
            return bodyLength <= kMaxRecordSize && details(bodyLength, previous);
        default:
            // A record of a later kind: skipped, but only when it lies wholly inside the file.
            if (!in_.skip(bodyLength)) {
                return false;
            }
            ++result_.skippedRecords;
            return true;
        }
    }

    bool track() {
        if (!readTrack(in_, path_, record_)) {
            return false;
        }
        record_.trackId = -1;
        record_.fileStamp = {};
        record_.acousticPrint.clear();
        record_.acousticPrintLong = false;
        lastTrackPath_ = path_;
        // A refused record may still replace the stored one, when its details follow.
        previous_ = table_.insert(std::move(path_), record_) ? Previous::Inserted : Previous::Refused;
        path_.clear();
        ++result_.trackRecords;
        return true;
    }

    bool pair() {
        if (!readPair(in_, path_, second_)) {
            return false;
        }
        ignored_.insert(std::move(path_), std::move(second_));
        path_.clear();
        second_.clear();
        ++result_.pairRecords;
        return true;
    }

    bool details(std::uint32_t bodyLength, Previous previous) {
        Details found;
        if (!readDetails(in_, bodyLength, path_, found)) {
            return false;
        }
        ++result_.detailsRecords;
        const bool belongs = previous != Previous::Other && path_ == lastTrackPath_;
        if (belongs && previous == Previous::Refused) {
            table_.replace(path_, record_); // a newer analysis of a changed file
        }
        analysis::TrackRecord* target = table_.find(path_);
        if (target != nullptr && (belongs || !target->fileStamp.known)) {
            applyDetails(found, *target);
        } else if (target != nullptr) {
            completeDetails(found, *target);
        }
        return true;
    }

    Reader in_;
    std::size_t base_ = 0;
    TrackTable& table_;
    IgnoreSet& ignored_;
    ParseResult& result_;
    Previous previous_ = Previous::Other;
    std::u16string path_;
    std::u16string second_;
    std::u16string lastTrackPath_;
    analysis::TrackRecord record_;
};

} // namespace

const std::array<std::byte, kHeaderSize>& header() {
    return kHeader;
}

namespace {

// Every version's header: the signature, a version of digits and dots, zero bytes to its end. `data`
// is the header or, for one whose writing broke off, its beginning.
bool headerShapeFits(std::span<const std::byte> data) {
    const std::size_t compared = std::min(data.size(), kSignature.size());
    if (std::memcmp(data.data(), kSignature.data(), compared) != 0) {
        return false;
    }
    std::size_t i = compared;
    while (i < data.size() &&
           (std::isdigit(static_cast<unsigned char>(data[i])) != 0 || data[i] == std::byte{'.'})) {
        ++i;
    }
    const bool hasVersion = i > kSignature.size();
    const bool zerosToEnd = std::all_of(data.begin() + static_cast<std::ptrdiff_t>(i), data.end(),
                                        [](std::byte b) { return b == std::byte{0}; });
    // A whole header needs a version and at least one zero after it; a cut one may stop anywhere.
    return zerosToEnd && (data.size() < kHeaderSize || (hasVersion && i < kHeaderSize));
}

} // namespace

bool mayBeCacheFile(std::span<const std::byte> head) {
    // A short file is a header cut off only when all of it fits the header's shape: a note of a few
    // bytes given as the cache must stay as it is.
    return head.empty() || headerShapeFits(head.first(std::min(head.size(), kHeaderSize)));
}

HResult serializeTrack(std::u16string_view path, const analysis::TrackRecord& record,
                       std::vector<std::byte>& out) {
    if (const HResult r = checkTrack(path, record); failed(r)) {
        return r;
    }
    const std::size_t total = trackRecordSize(path, record);
    if (const HResult r = sizeBuffer(out, total); failed(r)) {
        return r;
    }
    Writer w(out.data());
    writeTrack(w, path, record);
    return w.position() == out.data() + total ? S_OK : E_FAIL;
}

bool hasDetails(const analysis::TrackRecord& record) {
    return detailsFieldsSize(record) > 0;
}

HResult serializeDetails(std::u16string_view path, const analysis::TrackRecord& record,
                         std::vector<std::byte>& out) {
    if (const HResult r = checkDetailsPath(path, record); failed(r)) {
        return r;
    }
    const std::size_t total = detailsRecordSize(path, record);
    if (const HResult r = sizeBuffer(out, total); failed(r)) {
        return r;
    }
    Writer w(out.data());
    writeDetails(w, path, record);
    return w.position() == out.data() + total ? S_OK : E_FAIL;
}

HResult serializeTrackWithDetails(std::u16string_view path, const analysis::TrackRecord& record,
                                  std::vector<std::byte>& out) {
    if (const HResult r = checkTrack(path, record); failed(r)) {
        return r;
    }
    const bool details = hasDetails(record);
    const std::size_t track = trackRecordSize(path, record);
    const std::size_t total = track + (details ? detailsRecordSize(path, record) : 0);
    if (const HResult r = sizeBuffer(out, total); failed(r)) {
        return r;
    }
    Writer w(out.data());
    writeTrack(w, path, record);
    if (details) {
        writeDetails(w, path, record);
    }
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

namespace {

// The most a record of this type may take in the file, or 0 when its head rules it out.
std::size_t recordBound(std::uint32_t type, std::uint32_t bodyLength) {
    switch (type) {
    case kTrackRecord:
        return kTrackRecordFixedSize + 4 * 2 * kMaxTextUnits + 2 + 2 * kMaxTextUnits;
    case kIgnoredPair:
        return kRecordHeadSize + 2 * (2 + 2 * kMaxTextUnits) + kEndMarker.size();
    default:
        return bodyLength > kMaxRecordSize ? 0 : kRecordHeadSize + std::size_t{bodyLength};
    }
}

// Track and pair records whose whole bound lies in the window never fail for want of bytes.
const std::size_t kLongestFixedRecord = recordBound(kTrackRecord, 0);
constexpr std::size_t kReadWindow = 4u << 20;

bool readAt(int fd, std::uint64_t offset, std::span<std::byte> out) {
    std::size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = pread(fd, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

std::optional<ParseResult> parseFile(int fd, std::uint64_t fileSize, TrackTable& table, IgnoreSet& ignored) {
    ParseResult result;
    std::array<std::byte, kHeaderSize> head{};
    if (fileSize < kHeaderSize) {
        return result;
    }
    if (!readAt(fd, 0, head)) {
        return std::nullopt;
    }
    if (head != kHeader) {
        return result;
    }
    result.headerValid = true;
    result.goodEnd = kHeaderSize;
    Loader loader({}, table, ignored, result);
    loader.moveTo({}, kHeaderSize);
    std::vector<std::byte> window;
    while (result.goodEnd + kRecordHeadSize <= fileSize) {
        const std::size_t start = result.goodEnd;
        std::array<std::byte, kRecordHeadSize> recordHead{};
        if (!readAt(fd, start, recordHead)) {
            return std::nullopt;
        }
        std::uint32_t type = 0;
        std::uint32_t bodyLength = 0;
        Reader peek(recordHead, 0);
        peek.u32(type);
        peek.u32(bodyLength);
        const std::size_t left = static_cast<std::size_t>(fileSize - start);
        if (type != kTrackRecord && type != kIgnoredPair && type != kTrackDetails) {
            if (std::size_t{bodyLength} > left - kRecordHeadSize) {
                break; // cut off
            }
            loader.skipUnread(kRecordHeadSize + bodyLength);
            result.goodEnd = loader.position();
            continue;
        }
        const std::size_t bound = recordBound(type, bodyLength);
        if (bound == 0) {
            break;
        }
        // Read ahead in large windows; a record never needs more than its bound.
        const std::size_t size = std::min(left, std::max(kReadWindow, bound));
        if (window.size() < size) {
            window.resize(size);
        }
        const std::span<std::byte> bytes(window.data(), size);
        if (!readAt(fd, start, bytes)) {
            return std::nullopt;
        }
        loader.moveTo(bytes, start);
        std::size_t parsed = 0;
        while (start + size == fileSize || loader.position() + kLongestFixedRecord <= start + size) {
            if (!loader.next()) {
                break;
            }
            result.goodEnd = loader.position();
            ++parsed;
        }
        if (parsed == 0) {
            break; // the record breaks a rule with all of it at hand
        }
    }
    return result;
}

ParseResult parse(std::span<const std::byte> data, TrackTable& table, IgnoreSet& ignored) {
    ParseResult result;
    if (data.size() < kHeaderSize || std::memcmp(data.data(), kHeader.data(), kHeaderSize) != 0) {
        return result;
    }
    result.headerValid = true;
    result.goodEnd = kHeaderSize;
    Loader loader(data, table, ignored, result);
    while (loader.next()) {
        result.goodEnd = loader.position();
    }
    return result;
}

} // namespace tonemirror::engine::cache
