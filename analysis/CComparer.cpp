#include "analysis/CComparer.h"

#include "analysis/LevelProfile.h"
#include "analysis/TrackTexts.h"
#include "audio/AudioSource.h"
#include "platform/os/ErrorReport.h"
#include "platform/os/ThreadPriority.h"

namespace tonemirror::analysis {

namespace {

bool stopRequested(const std::atomic<bool>* stop) {
    return stop != nullptr && stop->load(std::memory_order_relaxed);
}

} // namespace

CComparer::CComparer(const audio::PluginList& plugins)
    : source_(std::make_unique<audio::AudioSource>(plugins)) {}

CComparer::CComparer(std::unique_ptr<audio::AudioSource> source) : source_(std::move(source)) {}

CComparer::~CComparer() = default;

HResult CComparer::initialize() {
    if (source_ == nullptr) {
        os::reportError("CComparer::Initialize", __LINE__, E_FAIL);
        return E_FAIL;
    }
    if (!os::setLowestThreadPriority()) {
        os::reportError("CComparer::Initialize", __LINE__, E_FAIL);
        return E_FAIL;
    }
    return S_OK;
}

HResult CComparer::analyseFile(const std::u16string& path) {
    if (source_ == nullptr || failed(source_->open(path))) {
        return fail(AnalysisFailure::noDecoder);
    }
    takeTexts(path);
    // The excerpt's blocks at the file's own rate show where its spectrum ends.
    highBand_.start();
    source_->setNativeTap(&highBand_);
    const BlockReader reader = sourceReader(*source_);
    const HResult excerpt = excerpt_.read(reader);
    source_->setNativeTap(nullptr);
    lastFailure_ = excerpt_.failure();
    if (failed(excerpt)) {
        source_->close();
        return excerpt;
    }
    const std::optional<std::uint32_t> cutoff = highBand_.cutoffHz();
    record_.highCutoffKnown = cutoff.has_value();
    record_.highCutoffHz = cutoff.value_or(0);
    // The content fingerprint reads the excerpt alone, before the print's span is added to it.
    if (failed(spectrum_.compute(excerpt_.samples(), record_))) {
        source_->close();
        return fail(AnalysisFailure::tooShort);
    }
    LevelProfile::compute(excerpt_.samples(), record_.levelProfile);
    if (longPrint_) {
        excerpt_.extend(reader, kAcousticSpanLength);
    }
    source_->close();
    record_.acousticPrintLong = longPrint_;
    fingerprinter_.compute(excerpt_.samples().data(), excerpt_.samples().size(), record_.acousticPrint);
    return S_OK;
}

// The four texts from the open decoder's stream info (all empty when it has none).
void CComparer::takeTexts(const std::u16string& path) {
    StreamInfo info{};
    TrackTexts texts = makeTrackTexts(path, succeeded(source_->getInfo(&info)) ? &info : nullptr);
    record_.nameText = std::move(texts.nameText);
    record_.titleText = std::move(texts.titleText);
    record_.artistText = std::move(texts.artistText);
    record_.albumText = std::move(texts.albumText);
}

HResult CComparer::compareExperimental(const std::u16string& path1, const std::u16string& path2, float* score,
                                       const std::atomic<bool>* stop) {
    *score = 0.0f;
    std::vector<float> samples1;
    std::vector<float> samples2;
    float rms1 = 0.0f;
    float rms2 = 0.0f;
    if (failed(readOpening(path1, samples1, &rms1))) {
        return E_FAIL;
    }
    if (stopRequested(stop)) {
        return fail(AnalysisFailure::stopped);
    }
    if (failed(readOpening(path2, samples2, &rms2))) {
        return E_FAIL;
    }
    const HResult r = experimental_.compare(samples1, rms1, samples2, rms2, score, stop);
    lastFailure_ = experimental_.failure();
    return r;
}

HResult CComparer::readOpening(const std::u16string& path, std::vector<float>& out, float* rms) {
    *rms = 0.0f;
    out.clear();
    if (source_ == nullptr || failed(source_->open(path))) {
        return fail(AnalysisFailure::noDecoder);
    }
    const HResult r = excerpt_.readOpening(sourceReader(*source_), kLongExcerptLength, out, rms);
    source_->close();
    lastFailure_ = excerpt_.failure();
    return r;
}

} // namespace tonemirror::analysis
