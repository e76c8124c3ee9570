#include "cli/TrackAnalysis.h"

#include "cli/OutputText.h"

#include "analysis/SpectrumProfile.h"
#include "platform/os/Paths.h"
#include "platform/os/Text.h"

#include <filesystem>

namespace tonemirror::cli {

analysis::AnalysisFailure analyseTrack(analysis::CComparer& comparer, const std::string& input,
                                       analysis::TrackRecord& record) {
    const std::u16string path = os::fromNativePath(std::filesystem::absolute(input));
    if (failed(comparer.analyseFile(path))) {
        return comparer.lastFailure();
    }
    const std::int32_t trackId = record.trackId;
    record = comparer.record();
    record.trackId = trackId;
    return analysis::AnalysisFailure::none;
}

void addTrackFields(const analysis::TrackRecord& record, nlohmann::json& out) {
    putName(out, "nameText", record.nameText); // made from the file name
    out["titleText"] = os::utf16ToUtf8(record.titleText);
    out["artistText"] = os::utf16ToUtf8(record.artistText);
    out["albumText"] = os::utf16ToUtf8(record.albumText);
    out["levelProfile"] = record.levelProfile;
    out["sectionCorrelations"] = record.sectionCorrelations;
    std::array<float, analysis::kSpectrumSize> spectrum;
    analysis::fullSpectrum(record, spectrum);
    out["meanSpectrum"] = spectrum;
}

} // namespace tonemirror::cli
