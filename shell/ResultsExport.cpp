#include "shell/ResultsExport.h"

#include "shell/NameText.h"

#include <csv.h>
#include <nlohmann/json.hpp>

#include <sstream>

namespace tonemirror::shell {

namespace {

std::string csvField(const std::string& s) {
    std::string out(s.size() * 2 + 3, '\0');
    out.resize(csv_write(out.data(), out.size(), s.data(), s.size()));
    return out;
}

nlohmann::json skippedJson(const std::vector<engine::SkippedItem>& skipped) {
    nlohmann::json list = nlohmann::json::array();
    for (const auto& item : skipped) {
        nlohmann::json j;
        putName(j, "path", item.path);
        j["reason"] = engine::skipReasonText(item.reason);
        if (!item.detail.empty()) {
            putName(j, "detail", item.detail);
        }
        list.push_back(std::move(j));
    }
    return list;
}

} // namespace

std::string formatResultsJson(const std::vector<engine::DuplicatePair>& rows, const ScanSummary* summary) {
    nlohmann::json j;
    j["pairs"] = nlohmann::json::array();
    for (const auto& r : rows) {
        nlohmann::json pair = {{"contentPercent", r.contentPercent},
                               {"tagsPercent", r.tagsPercent},
                               {"experimentalPercent", r.experimentalPercent},
                               {"acousticPercent", r.acousticPercent}};
        if (r.experimentalFailure != analysis::AnalysisFailure::none) {
            pair["experimentalFailure"] = analysis::failureText(r.experimentalFailure);
        }
        putName(pair, "path1", r.path1);
        putName(pair, "path2", r.path2);
        j["pairs"].push_back(std::move(pair));
    }
    if (summary != nullptr) {
        j["counters"] = {{"filesQueued", summary->filesQueued},
                         {"filesDone", summary->filesDone},
                         {"tracksKnown", summary->tracksKnown},
                         {"pairsFound", rows.size()},
                         {"elapsedSeconds", summary->elapsedSeconds}};
        j["interrupted"] = summary->interrupted;
        if (summary->skipped != nullptr) {
            j["counters"]["itemsSkipped"] = summary->itemsSkipped;
            j["skipped"] = skippedJson(*summary->skipped);
        }
    }
    return dumpJson(j) + '\n';
}

std::string formatResultsCsv(const std::vector<engine::DuplicatePair>& rows, const ScanSummary* summary) {
    std::ostringstream out;
    out << "path1,path2,contentPercent,tagsPercent,experimentalPercent,acousticPercent\r\n";
    for (const auto& r : rows) {
        out << csvField(displayText(r.path1)) << ',' << csvField(displayText(r.path2)) << ','
            << r.contentPercent << ',' << r.tagsPercent << ',' << r.experimentalPercent << ','
            << r.acousticPercent << "\r\n";
    }
    if (summary != nullptr) {
        // The counters follow the rows as a second small table.
        out << "\r\nfilesQueued,filesDone,tracksKnown,pairsFound,elapsedSeconds,interrupted,itemsSkipped\r\n"
            << summary->filesQueued << ',' << summary->filesDone << ',' << summary->tracksKnown << ','
            << rows.size() << ',' << summary->elapsedSeconds << ',' << (summary->interrupted ? 1 : 0) << ','
            << summary->itemsSkipped << "\r\n";
    }
    return out.str();
}

} // namespace tonemirror::shell
