#include "analysis/CComparer.h"
#include "cli/Commands.h"
#include "cli/OutputText.h"
#include "cli/TrackAnalysis.h"

#include <nlohmann/json.hpp>

#include <iostream>

namespace tonemirror::cli {

int runFingerprint(const Args& args, const audio::PluginList& plugins) {
    if (args.empty()) {
        printError("usage: tonemirror-cli fingerprint FILE...");
        return kExitUsage;
    }
    analysis::CComparer comparer(plugins);
    nlohmann::json result = nlohmann::json::array();
    bool allOk = true;
    for (const std::string& input : args) {
        nlohmann::json j;
        putNativeName(j, "path", input);
        analysis::TrackRecord record;
        const analysis::AnalysisFailure failure = analyseTrack(comparer, input, record);
        j["ok"] = failure == analysis::AnalysisFailure::none;
        if (failure == analysis::AnalysisFailure::none) {
            addTrackFields(record, j);
        } else {
            j["reason"] = analysis::failureText(failure);
            allOk = false;
        }
        result.push_back(std::move(j));
    }
    std::cout << dumpJson(result) << '\n';
    return allOk ? kExitOk : kExitFailure;
}

} // namespace tonemirror::cli
