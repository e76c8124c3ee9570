#include "cli/TrackAnalysis.h"

#include "analysis/TrackTexts.h"
#include "audio/AudioSource.h"
#include "platform/os/Paths.h"
#include "platform/os/Text.h"

#include <filesystem>

namespace tonemirror::cli {

analysis::AnalysisFailure analyseTrack(analysis::CComparer& comparer, const std::string& input,
                                       analysis::TrackRecord& record) {
    using analysis::AnalysisFailure;
    const std::u16string path = os::fromNativePath(std::filesystem::absolute(input));
    audio::AudioSource& source = comparer.audioSource();
    if (failed(source.open(path))) {
        return AnalysisFailure::noDecoder;
    }
    StreamInfo info{};
    const bool haveInfo = succeeded(source.getInfo(&info));
    analysis::TrackTexts texts = analysis::makeTrackTexts(path, haveInfo ? &info : nullptr);
    const HResult read = comparer.readExcerpt();
    source.close();
    if (failed(read)) {
        return comparer.lastFailure();
    }
    if (failed(comparer.computeSpectra()) || failed(comparer.computeLevelProfile())) {
        return AnalysisFailure::tooShort;
    }
    const analysis::TrackRecord& built = comparer.record();
    record.levelProfile = built.levelProfile;
    record.sectionCorrelations = built.sectionCorrelations;
    record.meanSpectrum = built.meanSpectrum;
    record.nameText = std::move(texts.nameText);
    record.titleText = std::move(texts.titleText);
    record.artistText = std::move(texts.artistText);
    record.albumText = std::move(texts.albumText);
    return AnalysisFailure::none;
}

void addTrackFields(const analysis::TrackRecord& record, nlohmann::json& out) {
    out["nameText"] = os::utf16ToUtf8(record.nameText);
    out["titleText"] = os::utf16ToUtf8(record.titleText);
    out["artistText"] = os::utf16ToUtf8(record.artistText);
    out["albumText"] = os::utf16ToUtf8(record.albumText);
    out["levelProfile"] = record.levelProfile;
    out["sectionCorrelations"] = record.sectionCorrelations;
    out["meanSpectrum"] = record.meanSpectrum;
}

} // namespace tonemirror::cli
