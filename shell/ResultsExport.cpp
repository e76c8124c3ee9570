#include "shell/ResultsExport.h"

#include "platform/os/Text.h"

#include <csv.h>
#include <nlohmann/json.hpp>

#include <sstream>

namespace tonemirror::shell {

namespace {

std::string utf8(const std::u16string& s) {
    return os::utf16ToUtf8(s);
}

std::string csvField(const std::string& s) {
    std::string out(s.size() * 2 + 3, '\0');
    out.resize(csv_write(out.data(), out.size(), s.data(), s.size()));
    return out;
}

} // namespace

std::string formatResultsJson(const std::vector<engine::DuplicatePair>& rows, const ScanSummary* summary) {
    nlohmann::json j;
    j["pairs"] = nlohmann::json::array();
    for (const auto& r : rows) {
        j["pairs"].push_back({{"path1", utf8(r.path1)},
                              {"path2", utf8(r.path2)},
                              {"contentPercent", r.contentPercent},
                              {"tagsPercent", r.tagsPercent},
                              {"experimentalPercent", r.experimentalPercent},
                              {"acousticPercent", r.acousticPercent}});
    }
    if (summary != nullptr) {
        j["counters"] = {{"filesQueued", summary->filesQueued},
                         {"filesDone", summary->filesDone},
                         {"tracksKnown", summary->tracksKnown},
                         {"pairsFound", rows.size()},
                         {"elapsedSeconds", summary->elapsedSeconds}};
        j["interrupted"] = summary->interrupted;
    }
    return j.dump(2) + '\n';
}

std::string formatResultsCsv(const std::vector<engine::DuplicatePair>& rows, const ScanSummary* summary) {
    std::ostringstream out;
    out << "path1,path2,contentPercent,tagsPercent,experimentalPercent,acousticPercent\r\n";
    for (const auto& r : rows) {
        out << csvField(utf8(r.path1)) << ',' << csvField(utf8(r.path2)) << ',' << r.contentPercent << ','
            << r.tagsPercent << ',' << r.experimentalPercent << ',' << r.acousticPercent << "\r\n";
    }
    if (summary != nullptr) {
        // The counters follow the rows as a second small table.
        out << "\r\nfilesQueued,filesDone,tracksKnown,pairsFound,elapsedSeconds,interrupted\r\n"
            << summary->filesQueued << ',' << summary->filesDone << ',' << summary->tracksKnown << ','
            << rows.size() << ',' << summary->elapsedSeconds << ',' << (summary->interrupted ? 1 : 0)
            << "\r\n";
    }
    return out.str();
}

} // namespace tonemirror::shell
