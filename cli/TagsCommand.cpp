#include "audio/PluginList.h"
#include "audio/TagAccess.h"
#include "cli/Commands.h"
#include "cli/OutputText.h"
#include "platform/os/Paths.h"
#include "platform/os/Text.h"

#include <nlohmann/json.hpp>

#include <array>
#include <iostream>
#include <optional>
#include <vector>

namespace tonemirror::cli {

namespace {

using audio::describeTagProblem;

struct TagName {
    TagId id;
    const char* word; // as in file-name templates
};

constexpr std::array<TagName, 7> kTags = {{{TagId_Title, "title"},
                                           {TagId_Artist, "artist"},
                                           {TagId_Album, "album"},
                                           {TagId_Year, "year"},
                                           {TagId_Track, "track"},
                                           {TagId_Comment, "comment"},
                                           {TagId_Genre, "genre"}}};

// Longest text a tag can hold (its size in bytes is 16 bits wide).
constexpr std::size_t kMaxTagChars = 32767;

constexpr const char* kUsage =
    "usage: tonemirror-cli tags get FILE\n"
    "       tonemirror-cli tags set FILE [--title T] [--artist A] [--album A] [--year Y] [--track N]\n"
    "                                    [--comment C] [--genre G]";

std::u16string absolutePath(const std::string& file) {
    return os::fromNativePath(std::filesystem::absolute(file));
}

int runGet(const std::string& file, const audio::PluginList& plugins) {
    audio::TagAccess tags(plugins);
    if (failed(tags.open(absolutePath(file)))) {
        printError("cannot read the tags of '" + displayPath(file) +
                   "': " + describeTagProblem(tags.lastProblem()));
        return kExitFailure;
    }
    nlohmann::json j;
    putNativeName(j, "path", file);
    j["plugin"] = tags.currentPluginName();
    std::vector<char16_t> buffer(kMaxTagChars + 1);
    for (const auto& tag : kTags) {
        const HResult r = tags.getTag(tag.id, buffer.data(), static_cast<std::int32_t>(buffer.size()));
        j["tags"][tag.word] =
            succeeded(r) ? nlohmann::json(fieldText(buffer.data(), buffer.size())) : nullptr;
    }
    tags.close();
    std::cout << dumpJson(j) << '\n';
    return kExitOk;
}

using TagChanges = std::vector<std::pair<const TagName*, std::u16string>>;

// The changes the options ask for; kExitOk, or the usage status (said).
int parseTagChanges(const Args& options, TagChanges& changes) {
    for (std::size_t i = 0; i < options.size(); ++i) {
        const TagName* tag = nullptr;
        for (const auto& t : kTags) {
            if (options[i] == std::string("--") + t.word) {
                tag = &t;
            }
        }
        if (tag == nullptr) {
            printError("tags set: unknown option '" + options[i] + "'");
            return kExitUsage;
        }
        if (i + 1 >= options.size()) {
            printError("tags set: " + options[i] + " needs a value");
            return kExitUsage;
        }
        std::u16string text = os::utf8ToUtf16(options[++i]);
        if (text.size() > kMaxTagChars) {
            printError("tags set: the " + std::string(tag->word) + " is longer than 32767 characters");
            return kExitUsage;
        }
        changes.emplace_back(tag, std::move(text));
    }
    if (changes.empty()) {
        printError("tags set: nothing to set");
        std::cerr << kUsage << '\n';
        return kExitUsage;
    }
    return kExitOk;
}

int runSet(const std::string& file, const Args& options, const audio::PluginList& plugins) {
    TagChanges changes;
    if (const int status = parseTagChanges(options, changes); status != kExitOk) {
        return status;
    }
    audio::TagAccess tags(plugins);
    if (failed(tags.open(absolutePath(file)))) {
        printError("cannot write the tags of '" + displayPath(file) +
                   "': " + describeTagProblem(tags.lastProblem()));
        return kExitFailure;
    }
    int status = kExitOk;
    for (const auto& [tag, text] : changes) {
        const HResult r = tags.setTag(tag->id, text.c_str(), static_cast<std::int32_t>(text.size()));
        if (failed(r)) {
            printError("'" + displayPath(file) + "' cannot store the " + tag->word + ": " +
                       describeTagProblem(tags.lastProblem()) + "; the " + tag->word + " is unchanged");
            status = kExitFailure;
        }
    }
    const HResult r = tags.close();
    if (failed(r)) {
        printError("could not write the tags of '" + displayPath(file) +
                   "': " + describeTagProblem(tags.lastProblem()) + "; the file is unchanged");
        return kExitFailure;
    }
    return status;
}

} // namespace

int runTags(const Args& args, const audio::PluginList& plugins) {
    if (args.size() < 2 || (args[0] != "get" && args[0] != "set") || (args[0] == "get" && args.size() != 2)) {
        std::cerr << kUsage << '\n';
        return kExitUsage;
    }
    if (args[0] == "get") {
        return runGet(args[1], plugins);
    }
    return runSet(args[1], Args(args.begin() + 2, args.end()), plugins);
}

} // namespace tonemirror::cli
