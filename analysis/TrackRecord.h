#pragma once

#include "analysis/AcousticMatch.h"
#include "analysis/HalfSpectrum.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tonemirror::analysis {

inline constexpr std::size_t kLevelProfileSize = 100;
inline constexpr std::size_t kSectionCount = 10;
inline constexpr std::size_t kSpectrumSize = 2048;

// Size and modification time of a file when it was analysed. A cached analysis is trusted only while
// its file still shows the same stamp; records written by older versions carry none (known false).
struct FileStamp {
    bool known = false;
    std::uint64_t size = 0;
    std::int64_t modifiedSeconds = 0;
    std::uint32_t modifiedNanoseconds = 0;

    bool operator==(const FileStamp&) const = default;
};

// What is kept for one analysed file: its content fingerprint and its four normalised texts
// (trimmed of blanks and tabs, lower-cased). The arrays are plain values, copied as whole blocks.
struct TrackRecord {
    std::array<float, kLevelProfileSize> levelProfile{};
    std::array<float, kSectionCount> sectionCorrelations{};
    // Bins 0..kComparedSpectrumBins - 1, rounded as the track table keeps them from the analysis on, so
    // that an analysed record and the same record read back from the cache file compare alike.
    HalfSpectrum meanSpectrum;
    // Bins kComparedSpectrumBins.. of the spectrum as an analysis made them, kept only until the record
    // is written to the cache file (which holds all kSpectrumSize bins): nothing reads them, so the
    // track table drops them. Empty, or kSpectrumSize - kComparedSpectrumBins values.
    std::vector<float> spectrumRest;
    // Serial number within the current scan; -1 = not seen in the current scan.
    std::int32_t trackId = -1;
    std::u16string nameText;
    std::u16string titleText;
    std::u16string artistText;
    std::u16string albumText;
    // The analysed file's stamp (kept in the cache's per-track details record).
    FileStamp fileStamp;
    // The acoustic print of the excerpt, or with acousticPrintLong of the opening up to
    // kAcousticSpanLength; empty when none could be made or the record predates it.
    AcousticPrint acousticPrint;
    bool acousticPrintLong = false;
    // Where the spectrum ends at the file's own rate (HighBandProbe): 0 when it does not end
    // early. Unknown for a record that predates it or a file too short or quiet to tell.
    bool highCutoffKnown = false;
    std::uint32_t highCutoffHz = 0;
};

} // namespace tonemirror::analysis
