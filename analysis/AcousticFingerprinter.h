#pragma once

#include "analysis/AcousticMatch.h"
#include "plugin-api/PluginApi.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace tonemirror::analysis {

// Makes acoustic fingerprints from mono float samples at 22050 per second (the excerpt a scan has
// already decoded) through the chroma fingerprint library. One per worker thread: it keeps its
// library context from file to file.
class AcousticFingerprinter {
public:
    // The library's algorithm that the prints are made with; stored with each print, and a stored
    // print of another algorithm is not compared.
    static std::uint8_t algorithm();

    AcousticFingerprinter();
    ~AcousticFingerprinter();
    AcousticFingerprinter(const AcousticFingerprinter&) = delete;
    AcousticFingerprinter& operator=(const AcousticFingerprinter&) = delete;

    // The print of samples[0..n) (values beyond -1..1 are clipped, non-finite ones count as 0).
    // S_OK with at least kMinAcousticWords words; E_FAIL with `out` empty when the library fails, the
    // sound is too short for a print, or it is so steady that its print would hardly change over time.
    HResult compute(const float* samples, std::size_t n, AcousticPrint& out);

private:
    struct Context;
    std::unique_ptr<Context> context_;
    std::array<std::int16_t, 4096> block_{};
};

} // namespace tonemirror::analysis
