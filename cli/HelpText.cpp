#include "cli/HelpText.h"

#include "tonemirror/Version.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <sstream>
#include <vector>

namespace tonemirror::cli {

namespace {

constexpr std::string_view kProgram = "tonemirror-cli";
constexpr std::size_t kTextColumn = 29;    // where option descriptions start, as in coreutils
constexpr std::size_t kCommandColumn = 15; // where command summaries start
constexpr std::size_t kLineWidth = 79;

struct Option {
    const char* shortName; // "-o", or nullptr
    const char* longName;  // "--output"
    const char* argument;  // "FILE" when the option takes a value, else nullptr
    const char* text;
};

struct Command {
    const char* name;
    std::vector<const char*> usages; // each follows "tonemirror-cli "
    const char* summary;             // one line in the program's help
    const char* description;
    std::vector<Option> options;
};

const Option kHelpOption{"-h", "--help", nullptr, "display this help and exit"};

// The main job.
std::vector<Command> scanCommands() {
    return {
        {"scan",
         {"scan [OPTION]... FOLDER..."},
         "find the duplicate pairs among the music files in folders",
         "Find the music files in every FOLDER and its subfolders that sound alike or are named alike, and "
         "write the pairs. A pair is reported when either of its scores reaches its threshold. Files "
         "analysed before and unchanged since are taken from the cache. A file reached by several names is "
         "scanned once. Ctrl-C stops the scan; the pairs found so far are still written (a second Ctrl-C "
         "stops waiting for files still being read).",
         {{nullptr, "--method", "METHOD",
           "compare by 'tags' and file names, by 'content' (the sound), or by "
           "'both' (the default)"},
          {nullptr, "--content-threshold", "P",
           "smallest content similarity in percent, 0 to 100 (default 75)"},
          {nullptr, "--tags-threshold", "P", "smallest tag similarity in percent, 0 to 100 (default 75)"},
          {nullptr, "--accurate", nullptr, "also compute the slower experimental score of every pair"},
          {nullptr, "--verify", nullptr,
           "report a pair only when the acoustic prints of its files match; files with prints are then "
           "paired by their prints alone, whatever their content score"},
          {nullptr, "--acoustic-threshold", "P",
           "smallest acoustic match in percent with --verify: the share of the shorter file's opening "
           "that sounds like the other file (default 55)"},
          {nullptr, "--format", "FORMAT",
           "write the pairs as 'text' (the default), 'json', 'csv' or as an "
           "'m3u' playlist"},
          {"-o", "--output", "FILE", "write the pairs to FILE instead of standard output"},
          {nullptr, "--cache", "FILE", "use FILE as the analysis cache"},
          {nullptr, "--no-cache", nullptr, "analyse every file and keep nothing"},
          {nullptr, "--ignore-list", "FILE", "use FILE as the list of ignored pairs"},
          {nullptr, "--threads", "N", "run N worker threads, 1 to 100 (default: two per processor)"},
          {"-q", "--quiet", nullptr, "do not show progress on standard error"}}},
        {"resolve",
         {"resolve [OPTION]... PATH..."},
         "keep the best copy of each song and clean up the others",
         "Scan every PATH (and the reference folders) as 'scan' does, put the pairs together into groups "
         "and pick in each group the copy to keep by the keeper rules. Print which files would be marked: "
         "the duplicates of the kept copy, never a file in a reference folder and never the last copy. "
         "Nothing changes without --apply; with it, the marked files go to the trash, move or are replaced "
         "by links, and 'tonemirror-cli undo' reverses the batch. A file changed since it was scanned is "
         "left alone. Exit status 1 when any file could not be cleaned up (each is listed).",
         {{nullptr, "--reference", "DIR",
           "files in DIR are kept first and never marked; may be given several times"},
          {nullptr, "--keep", "CRITERIA",
           "the keeper rules in their order, separated by commas; by default all of "
           "reference, lossless, bitrate, samplerate, tags, longer, shorter-path, in this order"},
          {nullptr, "--action", "ACTION",
           "what --apply does to a marked file: 'trash' (the default), 'move=DIR' (into DIR, keeping its "
           "path below the scanned folder) or 'link' (replaced by a link to the kept copy; the original "
           "goes to the trash)"},
          {nullptr, "--apply", nullptr, "act on the marked files (otherwise only the plan is printed)"},
          {nullptr, "--format", "FORMAT", "print the plan as 'text' (the default) or 'json'"}}},
        {"undo",
         {"undo"},
         "reverse the last clean-up",
         "Put back the files of the last 'resolve --apply' batch: from the trash, from where they were "
         "moved, or in place of their links. A file whose original place is taken stays where it is and is "
         "listed; the others come back. A batch cut short when the program was killed is finished first.",
         {}},
    };
}

// Commands that look at single files.
std::vector<Command> fileCommands() {
    return {
        {"info",
         {"info FILE"},
         "show the format of a file and the plug-in that decodes it",
         "Show the format and stream information of FILE and the codec plug-in that decodes it, as JSON.",
         {}},
        {"decode",
         {"decode [OPTION]... FILE"},
         "decode a file to mono samples at 22050 Hz",
         "Decode FILE to mono 32-bit floating-point samples (native byte order) at 22050 Hz, as the "
         "analysis sees it.",
         {{"-o", "--output", "FILE", "write the samples to FILE instead of standard output"}}},
        {"fingerprint",
         {"fingerprint FILE..."},
         "show the fingerprints and normalised texts of files",
         "Show the content fingerprints of every FILE and its normalised name, title, artist and album "
         "texts, as JSON.",
         {}},
        {"compare",
         {"compare [OPTION]... FILE1 FILE2"},
         "show how alike two files are",
         "Show how alike FILE1 and FILE2 are by content, by tags and by their acoustic prints, as JSON.",
         {{nullptr, "--experimental", nullptr, "also compute the slower experimental score"}}},
        {"tags",
         {"tags get FILE", "tags set FILE [OPTION]..."},
         "read or change the tags of a file",
         "Read the tags of FILE as JSON (get), or change the ones given (set). The file is left unchanged "
         "when the changes cannot all be written.",
         {{nullptr, "--title", "TEXT", "set the title"},
          {nullptr, "--artist", "TEXT", "set the artist"},
          {nullptr, "--album", "TEXT", "set the album"},
          {nullptr, "--year", "TEXT", "set the year"},
          {nullptr, "--track", "NUMBER", "set the track number"},
          {nullptr, "--comment", "TEXT", "set the comment"},
          {nullptr, "--genre", "TEXT", "set the genre"}}},
    };
}

// Commands on the cache and the ignore list a scan uses.
std::vector<Command> storeCommands() {
    return {
        {"cache",
         {"cache stats [OPTION]...", "cache clear [OPTION]..."},
         "show or clear the analysis cache",
         "Show where the analysis cache is and what it holds (stats), or empty it (clear).",
         {{nullptr, "--cache", "FILE", "use FILE instead of the program's cache"}}},
        {"ignore",
         {"ignore list [OPTION]...", "ignore add PATH1 PATH2 [OPTION]..."},
         "list the ignored pairs, or add one",
         "List the pairs a scan never reports (list), or add the pair of PATH1 and PATH2 to them (add).",
         {{nullptr, "--ignore-list", "FILE", "use FILE instead of the program's list of ignored pairs"}}},
    };
}

// Every command, in the order the program's help lists them.
const std::vector<Command>& commandTable() {
    static const std::vector<Command> table = [] {
        std::vector<Command> all;
        for (auto part : {scanCommands, fileCommands, storeCommands}) {
            auto commands = part();
            all.insert(all.end(), std::make_move_iterator(commands.begin()),
                       std::make_move_iterator(commands.end()));
        }
        return all;
    }();
    return table;
}

const Command* findCommand(std::string_view name) {
    const auto& table = commandTable();
    const auto it =
        std::find_if(table.begin(), table.end(), [&](const Command& c) { return c.name == name; });
    return it == table.end() ? nullptr : &*it;
}

// Words of `text` on lines of at most kLineWidth characters; lines after the first start at `indent`.
void appendWrapped(std::string& out, std::string_view text, std::size_t firstColumn, std::size_t indent) {
    std::istringstream words{std::string(text)};
    std::size_t column = firstColumn;
    bool lineStart = true;
    for (std::string word; words >> word;) {
        if (!lineStart && column + 1 + word.size() > kLineWidth) {
            out += '\n' + std::string(indent, ' ');
            column = indent;
            lineStart = true;
        }
        if (!lineStart) {
            out += ' ';
            ++column;
        }
        out += word;
        column += word.size();
        lineStart = false;
    }
    out += '\n';
}

void appendOption(std::string& out, const Option& option) {
    std::string left = option.shortName != nullptr ? std::string("  ") + option.shortName + ", " : "      ";
    left += option.longName;
    if (option.argument != nullptr) {
        left += std::string("=") + option.argument;
    }
    if (left.size() + 2 > kTextColumn) {
        out += left + '\n' + std::string(kTextColumn, ' ');
    } else {
        out += left + std::string(kTextColumn - left.size(), ' ');
    }
    appendWrapped(out, option.text, kTextColumn, kTextColumn);
}

bool takesValue(const Command& command, std::string_view arg) {
    return std::any_of(command.options.begin(), command.options.end(), [&](const Option& o) {
        return o.argument != nullptr && (arg == o.longName || (o.shortName != nullptr && arg == o.shortName));
    });
}

} // namespace

std::string programHelp() {
    std::string out = "Usage: tonemirror-cli COMMAND [OPTION]... [ARGUMENT]...\n"
                      "  or:  tonemirror-cli OPTION\n";
    appendWrapped(out,
                  "Find music files that sound alike or are named alike, and look into what the "
                  "comparison is made of.",
                  0, 0);
    out += "\nCommands:\n";
    for (const Command& command : commandTable()) {
        const std::string left = std::string("  ") + command.name;
        out += left + std::string(kCommandColumn - left.size(), ' ');
        appendWrapped(out, command.summary, kCommandColumn, kCommandColumn);
    }
    out += "\nOptions:\n";
    appendOption(out, kHelpOption);
    appendOption(out, {nullptr, "--version", nullptr, "output version information and exit"});
    out += "\n";
    appendWrapped(out,
                  "Run 'tonemirror-cli COMMAND --help' for the options and arguments of a command. The "
                  "analysis cache and the ignored pairs are shared with the desktop program: they are "
                  "kept in $XDG_DATA_HOME/Tonemirror (~/.local/share/Tonemirror), or beside the program "
                  "when it runs from a build folder. Scan and cache name the cache they use on "
                  "standard error.",
                  0, 0);
    out += "\nExit status:\n"
           " 0  if OK,\n"
           " 1  if the command failed,\n"
           " 2  if the command line was wrong.\n";
    return out;
}

std::string versionText() {
    return std::string(kProgram) + " (Tonemirror) " TONEMIRROR_VERSION_STRING "\n"
                                   "Copyright (C) 2026 Kestrelwick.\n";
}

std::string commandHelp(std::string_view name) {
    const Command* command = findCommand(name);
    if (command == nullptr) {
        return {};
    }
    std::string out;
    for (std::size_t i = 0; i < command->usages.size(); ++i) {
        out += (i == 0 ? "Usage: " : "  or:  ") + std::string(kProgram) + ' ' + command->usages[i] + '\n';
    }
    appendWrapped(out, command->description, 0, 0);
    out += "\nOptions:\n";
    for (const Option& option : command->options) {
        appendOption(out, option);
    }
    appendOption(out, kHelpOption);
    return out;
}

std::string tryHelpHint(std::string_view command) {
    std::string full(kProgram);
    if (!command.empty()) {
        full += ' ';
        full += command;
    }
    return "Try '" + full + " --help' for more information.";
}

bool wantsHelp(std::string_view name, const Args& args) {
    const Command* command = findCommand(name);
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--") {
            return false;
        }
        if (args[i] == "--help" || args[i] == "-h") {
            return true;
        }
        if (command != nullptr && takesValue(*command, args[i])) {
            ++i; // the option's value, whatever it looks like
        }
    }
    return false;
}

Args splitOptionValues(std::string_view name, const Args& args) {
    const Command* command = findCommand(name);
    Args out;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const std::size_t equals = arg.find('=');
        if (arg == "--") {
            out.insert(out.end(), args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
            break;
        }
        if (command != nullptr && arg.rfind("--", 0) == 0 && equals != std::string::npos &&
            takesValue(*command, std::string_view(arg).substr(0, equals))) {
            out.push_back(arg.substr(0, equals));
            out.push_back(arg.substr(equals + 1));
            continue;
        }
        out.push_back(arg);
        if (command != nullptr && takesValue(*command, arg) && i + 1 < args.size()) {
            out.push_back(args[++i]); // a value may itself hold "=" or start with "--"
        }
    }
    return out;
}

} // namespace tonemirror::cli
