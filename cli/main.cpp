#include "audio/PluginList.h"
#include "cli/Commands.h"
#include "cli/HelpText.h"

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

// The commands; their help texts live in HelpText.cpp.
const std::map<std::string, Handler>& commands() {
    static const std::map<std::string, Handler> table = {
        {"decode", tonemirror::cli::runDecode},   {"fingerprint", tonemirror::cli::runFingerprint},
        {"compare", tonemirror::cli::runCompare}, {"info", tonemirror::cli::runInfo},
        {"cache", tonemirror::cli::runCache},     {"ignore", tonemirror::cli::runIgnore},
        {"scan", tonemirror::cli::runScan},       {"tags", tonemirror::cli::runTags},
        {"resolve", tonemirror::cli::runResolve}, {"undo", tonemirror::cli::runUndo},
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

// The status, or 1 when the output written to standard output did not arrive.
int checkedStatus(int status) {
    if (!tonemirror::cli::outputWritten()) {
        tonemirror::cli::printError("could not write to standard output (" +
                                    std::string(std::strerror(errno)) + "); the output is incomplete");
        return tonemirror::cli::kExitFailure;
    }
    return status;
}

int usageError(const std::string& message) {
    tonemirror::cli::printError(message);
    std::cerr << tonemirror::cli::tryHelpHint({}) << '\n';
    return tonemirror::cli::kExitUsage;
}

} // namespace

int main(int argc, char** argv) {
    reserveStandardStreams();
    std::setlocale(LC_ALL, "");
    if (argc < 2) {
        return usageError("missing command");
    }
    const std::string name = argv[1];
    if (name == "-h" || name == "--help" || (name == "help" && argc == 2)) {
        std::cout << tonemirror::cli::programHelp();
        return checkedStatus(tonemirror::cli::kExitOk);
    }
    if (name == "--version") {
        std::cout << tonemirror::cli::versionText();
        return checkedStatus(tonemirror::cli::kExitOk);
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
        return checkedStatus(tonemirror::cli::kExitOk);
    }
    tonemirror::audio::PluginList plugins;
    if (tonemirror::failed(plugins.loadFromProgramFolder())) {
        tonemirror::cli::printError("cannot find the program's folder to load the codec plug-ins");
        return tonemirror::cli::kExitFailure;
    }
    const tonemirror::cli::Args args = tonemirror::cli::splitOptionValues(name, given);
    int status = tonemirror::cli::kExitFailure;
    try {
        status = it->second(args, plugins);
    } catch (const std::exception& e) {
        tonemirror::cli::printError(e.what());
        status = tonemirror::cli::kExitFailure;
    }
    if (status == tonemirror::cli::kExitUsage) {
        std::cerr << tonemirror::cli::tryHelpHint(name) << '\n';
    }
    return checkedStatus(status);
}
