#include "audio/PluginList.h"
#include "cli/Commands.h"
#include "cli/HelpText.h"

#include <clocale>
#include <cstring>
#include <functional>
#include <iostream>
#include <map>

namespace {

using Handler = std::function<int(const tonemirror::cli::Args&, const tonemirror::audio::PluginList&)>;

struct Command {
    Handler run;
    const char* usage;
};

const std::map<std::string, Command>& commands() {
    static const std::map<std::string, Command> table = {
        {"decode", {tonemirror::cli::runDecode, "decode FILE [-o OUT]   mono float32 samples at 22050 Hz"}},
        {"fingerprint",
         {tonemirror::cli::runFingerprint, "fingerprint FILE...    fingerprints and texts as JSON"}},
        {"compare", {tonemirror::cli::runCompare, "compare FILE1 FILE2 [--experimental]   scores as JSON"}},
        {"info",
         {tonemirror::cli::runInfo, "info FILE              format, stream info and decoder as JSON"}},
        {"cache", {tonemirror::cli::runCache, "cache stats|clear [--cache FILE]   the analysis cache file"}},
        {"ignore",
         {tonemirror::cli::runIgnore, "ignore list|add PATH1 PATH2 [--ignore-list FILE]   ignored pairs"}},
        {"scan",
         {tonemirror::cli::runScan, "scan [OPTIONS] FOLDER... find duplicates (scan --help for options)"}},
        {"tags",
         {tonemirror::cli::runTags, "tags get|set FILE ...  read tags as JSON, or set --title --artist ..."}},
    };
    return table;
}

int usageError(const std::string& message, const std::string& command = {}) {
    tonemirror::cli::printError(message);
    std::cerr << tonemirror::cli::tryHelpHint(command) << '\n';
    return tonemirror::cli::kExitUsage;
}

} // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    if (argc < 2) {
        return usageError("missing command");
    }
    const std::string name = argv[1];
    if (name == "-h" || name == "--help" || (name == "help" && argc == 2)) {
        std::cout << tonemirror::cli::programHelp();
        return tonemirror::cli::kExitOk;
    }
    if (name == "--version") {
        std::cout << tonemirror::cli::versionText();
        return tonemirror::cli::kExitOk;
    }
    const bool helpFor = name == "help" && argc == 3; // help COMMAND
    const std::string commandName = helpFor ? argv[2] : name;
    const auto it = commands().find(commandName);
    if (it == commands().end()) {
        return usageError((commandName.rfind('-', 0) == 0 ? "unknown option '" : "unknown command '") +
                          commandName + "'");
    }
    const tonemirror::cli::Args given(argv + 2, argv + argc);
    if (helpFor || tonemirror::cli::wantsHelp(commandName, given)) {
        std::cout << tonemirror::cli::commandHelp(commandName);
        return tonemirror::cli::kExitOk;
    }
    tonemirror::audio::PluginList plugins;
    if (tonemirror::failed(plugins.loadFromProgramFolder())) {
        tonemirror::cli::printError("cannot find the program's folder to load the codec plug-ins");
        return tonemirror::cli::kExitFailure;
    }
    const tonemirror::cli::Args args = tonemirror::cli::splitOptionValues(name, given);
    int status = tonemirror::cli::kExitFailure;
    try {
        status = it->second.run(args, plugins);
    } catch (const std::exception& e) {
        tonemirror::cli::printError(e.what());
        status = tonemirror::cli::kExitFailure;
    }
    if (status == tonemirror::cli::kExitUsage) {
        std::cerr << tonemirror::cli::tryHelpHint(name) << '\n';
    }
    return status;
}
