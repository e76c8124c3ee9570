#pragma once

namespace tonemirror::analysis {

// Why reading an excerpt, making a fingerprint or an experimental comparison failed.
enum class AnalysisFailure {
    none,
    noDecoder,  // no decoder opens the file
    tooShort,   // fewer than 15 s (excerpt) or 60 s (experimental) of audio
    silent,     // the first 30 s are all zero
    badSamples, // the decoder delivered non-finite samples
    stopped,    // a stop was requested
};
// "no decoder", "too short", "silent", "non-finite samples", "stopped" ("" for none).
const char* failureText(AnalysisFailure failure);

} // namespace tonemirror::analysis
