#include "analysis/AcousticMatch.h"
#include "analysis/CComparer.h"
#include "analysis/ContentComparison.h"
#include "analysis/TagComparison.h"
#include "cli/Commands.h"
#include "cli/OutputText.h"
#include "cli/TrackAnalysis.h"
#include "platform/os/Paths.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <iostream>

namespace tonemirror::cli {

namespace {

// The slower experimental score of the two files, or why there is none.
void addExperimentalScore(analysis::CComparer& comparer, const std::vector<std::string>& files,
                          nlohmann::json& j) {
    float score = 0.0f;
    const auto path = [](const std::string& f) { return os::fromNativePath(std::filesystem::absolute(f)); };
    if (succeeded(comparer.compareExperimental(path(files[0]), path(files[1]), &score))) {
        j["experimentalScore"] = score;
    } else {
        j["experimentalScore"] = nullptr;
        j["experimentalFailure"] = analysis::failureText(comparer.lastFailure());
    }
}

} // namespace

int runCompare(const Args& args, const audio::PluginList& plugins) {
    std::vector<std::string> files;
    bool experimental = false;
    for (const std::string& a : args) {
        if (a == "--experimental") {
            experimental = true;
        } else {
            files.push_back(a);
        }
    }
    if (files.size() != 2) {
        printError("usage: tonemirror-cli compare FILE1 FILE2 [--experimental]");
        return kExitUsage;
    }
    analysis::CComparer comparer(plugins);
    comparer.setLongPrint(true); // the print a verifying scan compares
    nlohmann::json j;
    putNativeName(j, "file1", files[0]);
    putNativeName(j, "file2", files[1]);
    // FILE1 plays the newer track, as in a scan that met FILE2 first.
    analysis::TrackRecord records[2];
    for (int i = 0; i < 2; ++i) {
        const analysis::AnalysisFailure failure = analyseTrack(comparer, files[i], records[i]);
        if (failure != analysis::AnalysisFailure::none) {
            j["failure"] = {{"reason", analysis::failureText(failure)}};
            putNativeName(j["failure"], "file", files[i]);
            std::cout << dumpJson(j) << '\n';
            return kExitFailure;
        }
    }
    j["contentScore"] = analysis::compareContent(records[0], records[1]);
    j["tagsScore"] = analysis::compareTags(records[0], records[1]);
    if (records[0].acousticPrint.empty() || records[1].acousticPrint.empty()) {
        j["acousticScore"] = nullptr; // too little sound for a print
    } else {
        j["acousticScore"] = analysis::compareAcoustic(records[0].acousticPrint, records[1].acousticPrint);
    }
    if (experimental) {
        addExperimentalScore(comparer, files, j);
    }
    std::cout << dumpJson(j) << '\n';
    return kExitOk;
}

} // namespace tonemirror::cli
