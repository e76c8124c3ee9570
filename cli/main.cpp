#include "audio/PluginList.h"
#include "cli/Commands.h"

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
        {"fingerprint", {tonemirror::cli::runFingerprint, "fingerprint FILE...    fingerprints and texts as JSON"}},
        {"compare", {tonemirror::cli::runCompare, "compare FILE1 FILE2 [--experimental]   scores as JSON"}},
        {"info", {tonemirror::cli::runInfo, "info FILE              format, stream info and decoder as JSON"}},
        {"cache", {tonemirror::cli::runCache, "cache stats|clear [--cache FILE]   the analysis cache file"}},
        {"ignore",
         {tonemirror::cli::runIgnore, "ignore list|add PATH1 PATH2 [--ignore-list FILE]   ignored pairs"}},
        {"scan", {tonemirror::cli::runScan, "scan [OPTIONS] FOLDER... find duplicates (scan --help for options)"}},
        {"tags", {tonemirror::cli::runTags, "tags get|set FILE ...  read tags as JSON, or set --title --artist ..."}},
    };
    return table;
}

void printUsage(std::ostream& out) {
    out << "usage: tonemirror-cli COMMAND [ARGS]\n\ncommands:\n";
    for (const auto& [name, command] : commands()) {
        out << "  " << command.usage << '\n';
    }
}

} // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    if (argc < 2) {
        printUsage(std::cerr);
        return tonemirror::cli::kExitUsage;
    }
    const std::string name = argv[1];
    if (name == "-h" || name == "--help" || name == "help") {
        printUsage(std::cout);
        return tonemirror::cli::kExitOk;
    }
    const auto it = commands().find(name);
    if (it == commands().end()) {
        tonemirror::cli::printError("unknown command '" + name + "'");
        printUsage(std::cerr);
        return tonemirror::cli::kExitUsage;
    }
    tonemirror::audio::PluginList plugins;
    if (tonemirror::failed(plugins.loadFromProgramFolder())) {
        tonemirror::cli::printError("cannot find the program's folder to load the codec plug-ins");
        return tonemirror::cli::kExitFailure;
    }
    const tonemirror::cli::Args args(argv + 2, argv + argc);
    int status = tonemirror::cli::kExitFailure;
    try {
        status = it->second.run(args, plugins);
    } catch (const std::exception& e) {
        tonemirror::cli::printError(e.what());
        status = tonemirror::cli::kExitFailure;
    }
    return status;
}
