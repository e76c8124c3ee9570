#include "engine/ScanSettings.h"

namespace tonemirror::engine {

float thresholdFromPercent(std::uint32_t percent) {
    return static_cast<float>(percent) * 0.01f;
}

std::uint32_t percentFromThreshold(float threshold) {
    return static_cast<std::uint32_t>(static_cast<int>(threshold * 100.0f + 0.5f));
}

void ScanSettings::assign(const ScanPreferences& preferences) {
    compareMethod = preferences.compareMethod;
    accurate = preferences.accurate;
    contentThreshold = preferences.contentThreshold;
    tagsThreshold = preferences.tagsThreshold;
    verifyMatches = preferences.verifyMatches;
    acousticThreshold = preferences.acousticThreshold;
}

ScanPreferences ScanSettings::preferences() const {
    ScanPreferences values;
    values.compareMethod = compareMethod.load();
    values.accurate = accurate.load();
    values.contentThreshold = contentThreshold.load();
    values.tagsThreshold = tagsThreshold.load();
    values.verifyMatches = verifyMatches.load();
    values.acousticThreshold = acousticThreshold.load();
    return values;
}

} // namespace tonemirror::engine
