#include "audio/PluginList.h"
#include "cli/Commands.h"

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <iostream>
#include <map>
#include <unistd.h>

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

// A closed standard stream gets a descriptor on which every write fails: otherwise the next file
// opened would take its number, and output meant for the terminal would land in it.
void reserveStandardStreams() {
    for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            const int placeholder = ::open("/dev/null", O_RDONLY);
            if (placeholder >= 0 && placeholder != fd) {
                ::dup2(placeholder, fd);
                ::close(placeholder);
            }
        }
    }
}

void printUsage(std::ostream& out) {
    out << "usage: tonemirror-cli COMMAND [ARGS]\n\ncommands:\n";
    for (const auto& [name, command] : commands()) {
        out << "  " << command.usage << '\n';
    }
}

} // namespace

int main(int argc, char** argv) {
    reserveStandardStreams();
    std::setlocale(LC_ALL, "");
    if (argc < 2) {
        printUsage(std::cerr);
        return tonemirror::cli::kExitUsage;
    }
    const std::string name = argv[1];
    if (name == "-h" || name == "--help" || name == "help") {
        printUsage(std::cout);
        return tonemirror::cli::outputWritten() ? tonemirror::cli::kExitOk : tonemirror::cli::kExitFailure;
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
    if (!tonemirror::cli::outputWritten()) {
        tonemirror::cli::printError("could not write to standard output (" +
                                    std::string(std::strerror(errno)) + "); the output is incomplete");
        status = tonemirror::cli::kExitFailure;
    }
    return status;
}
