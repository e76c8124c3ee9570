#include "analysis/AnalysisFailure.h"

namespace tonemirror::analysis {

const char* failureText(AnalysisFailure failure) {
    switch (failure) {
    case AnalysisFailure::none:
        return "";
    case AnalysisFailure::noDecoder:
        return "no decoder";
    case AnalysisFailure::tooShort:
        return "too short";
    case AnalysisFailure::silent:
        return "silent";
    case AnalysisFailure::badSamples:
        return "non-finite samples";
    case AnalysisFailure::stopped:
        return "stopped";
    }
    return "";
}

} // namespace tonemirror::analysis
