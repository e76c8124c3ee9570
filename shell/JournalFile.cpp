#include "shell/JournalFile.h"

#include <nlohmann/json.hpp>

#include <array>

namespace tonemirror::shell::journal_file {

namespace {

using nlohmann::json;

// Our lines nest three deep; deeper input is refused before it can exhaust the stack.
constexpr int kMaxDepth = 4;
struct TooDeep {};

// One line as JSON; discarded (null) when it is no JSON or nests too deep.
json parseLine(std::string_view line) {
    const auto limitDepth = [](int depth, json::parse_event_t event, json&) {
        if ((event == json::parse_event_t::object_start || event == json::parse_event_t::array_start) &&
            depth >= kMaxDepth) {
            throw TooDeep{}; // the only way to stop nlohmann's parser early
        }
        return true;
    };
    try {
        return json::parse(line, limitDepth);
    } catch (const json::exception&) {
        return nullptr;
    } catch (const TooDeep&) {
        return nullptr;
    }
}

constexpr std::array<std::string_view, 3> kKinds = {"trash", "move", "link"};

json expectedJson(const ExpectedFile& e) {
    return json::array({e.device, e.inode, e.size, e.modifiedSeconds, e.modifiedNanoseconds});
}

std::optional<ExpectedFile> expectedFrom(const json& j) {
    if (!j.is_array() || j.size() != 5 || !j[0].is_number_unsigned() || !j[1].is_number_unsigned() ||
        !j[2].is_number_unsigned() || !j[3].is_number_integer() || !j[4].is_number_unsigned()) {
        return std::nullopt;
    }
    return ExpectedFile{j[0].get<std::uint64_t>(), j[1].get<std::uint64_t>(), j[2].get<std::uint64_t>(),
                        j[3].get<std::int64_t>(), j[4].get<std::uint32_t>()};
}

// A name field of `j`, decoded; nullopt when it is missing or broken.
std::optional<std::string> nameField(const json& j, const char* key) {
    const auto it = j.find(key);
    if (it == j.end() || !it->is_string()) {
        return std::nullopt;
    }
    return decodeName(it->get_ref<const std::string&>());
}

std::optional<FileAction> actionFrom(const json& j) {
    if (!j.is_object() || !j.contains("kind") || !j["kind"].is_string()) {
        return std::nullopt;
    }
    FileAction a;
    const std::string& kind = j["kind"].get_ref<const std::string&>();
    std::size_t k = 0;
    while (k < kKinds.size() && kKinds[k] != kind) {
        ++k;
    }
    const auto path = nameField(j, "path");
    const auto target = nameField(j, "target");
    const auto kept = nameField(j, "kept");
    const auto expected = j.contains("expect") ? expectedFrom(j["expect"]) : std::nullopt;
    const auto keptExpected = j.contains("keptExpect") ? expectedFrom(j["keptExpect"]) : std::nullopt;
    if (k == kKinds.size() || !path || !target || !kept || !expected || !keptExpected) {
        return std::nullopt;
    }
    return FileAction{static_cast<ActionKind>(k), *path, *target, *kept, *expected, *keptExpected};
}

std::optional<JournalBatch> planFrom(const json& j) {
    if (!j.is_object() || !j.contains("batch") || !j["batch"].is_number_unsigned() ||
        !j.contains("actions") || !j["actions"].is_array() || !j.contains("references") ||
        !j["references"].is_array()) {
        return std::nullopt;
    }
    JournalBatch batch;
    batch.number = j["batch"].get<std::uint64_t>();
    for (const auto& r : j["references"]) {
        auto folder = r.is_string() ? decodeName(r.get_ref<const std::string&>()) : std::nullopt;
        if (!folder) {
            return std::nullopt;
        }
        batch.referenceFolders.push_back(std::move(*folder));
    }
    for (const auto& a : j["actions"]) {
        auto action = actionFrom(a);
        if (!action) {
            return std::nullopt;
        }
        batch.actions.push_back(std::move(*action));
    }
    batch.records.resize(batch.actions.size());
    return batch;
}

const std::array<std::pair<std::string_view, ActionRecord::State>, 6> kEvents = {{
    {"begin", ActionRecord::State::Begun},
    {"done", ActionRecord::State::Done},
    {"refused", ActionRecord::State::Refused},
    {"failed", ActionRecord::State::Failed},
    {"undone", ActionRecord::State::Undone},
    {"undoRefused", ActionRecord::State::UndoRefused},
}};

// Applies one event line to the batch; a line that makes no sense is passed over.
void applyEvent(const json& j, JournalBatch& batch) {
    if (!j.is_object() || !j.contains("event") || !j["event"].is_string()) {
        return;
    }
    const std::string& event = j["event"].get_ref<const std::string&>();
    batch.ended = batch.ended || event == "end";
    batch.undoBegun = batch.undoBegun || event == "undoBegin";
    batch.undoEnded = batch.undoEnded || event == "undoEnd";
    if (!j.contains("index") || !j["index"].is_number_unsigned() ||
        j["index"].get<std::uint64_t>() >= batch.records.size()) {
        return;
    }
    ActionRecord& record = batch.records[j["index"].get<std::size_t>()];
    for (const auto& [name, state] : kEvents) {
        if (name == event) {
            record.state = state;
        }
    }
    if (j.contains("why") && j["why"].is_string()) {
        record.why = j["why"].get<std::string>();
    }
    if (auto trashed = nameField(j, "trashed"), info = nameField(j, "info"),
        original = nameField(j, "original");
        trashed && info && original) {
        record.trashed = {*original, *trashed, *info};
    }
    if (j.contains("symbolic") && j["symbolic"].is_boolean()) {
        record.symbolic = j["symbolic"].get<bool>();
    }
}

} // namespace

std::string encodeName(std::string_view bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size());
    for (const char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        if (b < 0x20 || b >= 0x7F || b == '%') {
            out += '%';
            out += kHex[b >> 4];
            out += kHex[b & 15];
        } else {
            out += ch;
        }
    }
    return out;
}

std::optional<std::string> decodeName(std::string_view text) {
    auto hex = [](char c) -> int {
        return c >= '0' && c <= '9' ? c - '0' : (c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1);
    };
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size() || hex(text[i + 1]) < 0 || hex(text[i + 2]) < 0) {
            return std::nullopt;
        }
        out += static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2]));
        i += 2;
    }
    return out;
}

std::string planLine(const JournalBatch& batch) {
    json actions = json::array();
    for (const auto& a : batch.actions) {
        actions.push_back({{"kind", kKinds[static_cast<std::size_t>(a.kind)]},
                           {"path", encodeName(a.path)},
                           {"target", encodeName(a.target)},
                           {"kept", encodeName(a.kept)},
                           {"expect", expectedJson(a.expected)},
                           {"keptExpect", expectedJson(a.keptExpected)}});
    }
    json references = json::array();
    for (const auto& r : batch.referenceFolders) {
        references.push_back(encodeName(r));
    }
    return json{{"batch", batch.number}, {"references", references}, {"actions", actions}}.dump() + '\n';
}

std::string eventLine(std::string_view event, std::size_t index, const ActionRecord* record) {
    json j{{"event", event}, {"index", index}};
    if (record != nullptr) {
        if (!record->why.empty()) {
            j["why"] = record->why; // our own words, plain ASCII
        }
        if (!record->trashed.trashedPath.empty()) {
            j["original"] = encodeName(record->trashed.originalPath);
            j["trashed"] = encodeName(record->trashed.trashedPath);
            j["info"] = encodeName(record->trashed.infoPath);
        }
        j["symbolic"] = record->symbolic;
    }
    return j.dump(-1, ' ', false, json::error_handler_t::replace) + '\n';
}

std::string markLine(std::string_view mark) {
    return json{{"event", mark}}.dump() + '\n';
}

std::optional<JournalBatch> parse(std::string_view text) {
    if (text.size() > kMaxFileBytes) {
        return std::nullopt;
    }
    std::size_t lineEnd = text.find('\n');
    if (lineEnd == std::string_view::npos) {
        return std::nullopt; // the plan itself was cut short: nothing ran
    }
    const json plan = parseLine(text.substr(0, lineEnd));
    auto batch = planFrom(plan);
    if (!batch) {
        return std::nullopt;
    }
    for (std::size_t start = lineEnd + 1; start < text.size(); start = lineEnd + 1) {
        lineEnd = text.find('\n', start);
        if (lineEnd == std::string_view::npos) {
            break; // cut short by a kill: it never counted
        }
        applyEvent(parseLine(text.substr(start, lineEnd - start)), *batch);
    }
    return batch;
}

} // namespace tonemirror::shell::journal_file
