#pragma once

#include "analysis/AcousticFingerprinter.h"
#include "analysis/AnalysisFailure.h"
#include "analysis/ExcerptReader.h"
#include "analysis/ExperimentalComparison.h"
#include "analysis/HighBandProbe.h"
#include "analysis/SpectrumProfile.h"
#include "analysis/TrackRecord.h"
#include "audio/AudioSource.h"
#include "plugin-api/PluginApi.h"

#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace tonemirror::audio {
class PluginList;
} // namespace tonemirror::audio

namespace tonemirror::analysis {

// The analysis context of one worker thread: its AudioSource and the stages that turn a file into a
// record (excerpt reader, spectrum profile, level profile, acoustic print) or compare two files
// (experimental comparison), each keeping its buffers from file to file. Never shared between threads.
class CComparer {
public:
    // One decoder from each loaded plug-in.
    explicit CComparer(const audio::PluginList& plugins);
    // Uses the given source (tests, or a caller that builds its own).
    explicit CComparer(std::unique_ptr<audio::AudioSource> source);
    ~CComparer();
    CComparer(const CComparer&) = delete;
    CComparer& operator=(const CComparer&) = delete;

    // Puts the calling thread at the lowest priority. Failures are reported on stderr as
    // "CComparer::Initialize"; the worker should not start then.
    HResult initialize();

    // Why the last analyseFile or compareExperimental failed.
    AnalysisFailure lastFailure() const { return lastFailure_; }

    // Analyses a new file the way a scan does: opens it through the AudioSource, takes the four texts
    // from the decoder's stream info (all empty when it has none), reads the excerpt, closes the source
    // and computes the fingerprints, all into record() (its trackId is left alone). E_FAIL with
    // lastFailure() telling why. A missing acoustic print alone is no failure: it stays empty.
    HResult analyseFile(const std::u16string& path);

    // Whether analyseFile prints the opening up to kAcousticSpanLength (decoding that much) rather
    // than only the 30 s excerpt; record().acousticPrintLong tells which one a record holds. Off at
    // first: only verification by sound needs the longer print.
    void setLongPrint(bool on) { longPrint_ = on; }

    // The record under construction.
    TrackRecord& record() { return record_; }
    const TrackRecord& record() const { return record_; }

    // Experimental comparison of two files, decoded again from their beginnings. S_OK with *score
    // (normally 0..1), or E_FAIL when either file cannot be decoded, is shorter than 60 s, or *stop
    // becomes true on the way.
    HResult compareExperimental(const std::u16string& path1, const std::u16string& path2, float* score,
                                const std::atomic<bool>* stop = nullptr);

private:
    void takeTexts(const std::u16string& path);
    HResult fail(AnalysisFailure why) {
        lastFailure_ = why;
        return E_FAIL;
    }
    // The first 60 s of a file, mean removed, with their RMS; the source is closed again afterwards.
    HResult readOpening(const std::u16string& path, std::vector<float>& out, float* rms);

    std::unique_ptr<audio::AudioSource> source_;
    ExcerptReader excerpt_;
    SpectrumProfile spectrum_;
    HighBandProbe highBand_;
    AcousticFingerprinter fingerprinter_;
    ExperimentalComparison experimental_;
    TrackRecord record_;
    AnalysisFailure lastFailure_ = AnalysisFailure::none;
    bool longPrint_ = false;
};

} // namespace tonemirror::analysis
