#include "audio/AudioSource.h"
#include "audio/PluginList.h"
#include "cli/Commands.h"
#include "cli/OutputText.h"
#include "platform/os/Paths.h"

#include <cstdio>
#include <iostream>
#include <memory>

namespace tonemirror::cli {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f != nullptr && f != stdout) {
            std::fclose(f);
        }
    }
};

} // namespace

int runDecode(const Args& args, const audio::PluginList& plugins) {
    std::string input;
    std::string output;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "-o" || args[i] == "--output") {
            if (i + 1 >= args.size()) {
                printError("decode: -o needs a file name");
                return kExitUsage;
            }
            output = args[++i];
        } else if (input.empty()) {
            input = args[i];
        } else {
            printError("decode: unexpected argument '" + args[i] + "'");
            return kExitUsage;
        }
    }
    if (input.empty()) {
        printError("usage: tonemirror-cli decode FILE [-o OUT]");
        return kExitUsage;
    }

    audio::AudioSource source(plugins);
    const std::u16string path = os::fromNativePath(std::filesystem::absolute(input));
    if (failed(source.open(path))) {
        printError("no codec plug-in can decode '" + displayPath(input) + "' (" +
                   std::to_string(source.decoderCount()) + " decoders tried)");
        return kExitFailure;
    }

    if (!output.empty() && sameFile(input, output)) {
        printError("decode: the output '" + displayPath(output) + "' is the input file; nothing was written");
        return kExitFailure;
    }
    std::unique_ptr<std::FILE, FileCloser> out(output.empty() ? stdout : std::fopen(output.c_str(), "wb"));
    if (!out) {
        printError("cannot write '" + displayPath(output) + "'");
        return kExitFailure;
    }

    std::uint64_t total = 0;
    HResult r = S_OK;
    for (;;) {
        const float* samples = nullptr;
        std::uint32_t count = 0;
        r = source.read(&samples, &count);
        if (failed(r)) {
            break;
        }
        if (count > 0 && std::fwrite(samples, sizeof(float), count, out.get()) != count) {
            printError("write error on '" + (output.empty() ? std::string("stdout") : displayPath(output)) +
                       "'");
            return kExitFailure;
        }
        total += count;
    }
    const std::string plugin = source.currentPluginName();
    source.close();
    std::FILE* file = out.release();
    const bool written = std::fflush(file) == 0 && std::ferror(file) == 0;
    if (!written || (file != stdout && std::fclose(file) != 0)) {
        printError("write error on '" + (output.empty() ? std::string("stdout") : displayPath(output)) + "'");
        return kExitFailure;
    }
    std::cerr << "decoder: " << plugin << "\nsamples: " << total << '\n';
    if (r != E_END_OF_STREAM) {
        printError("decoding stopped early: the decoder could not read '" + displayPath(input) +
                   "' to its end");
        return kExitFailure;
    }
    if (total == 0) {
        // A decoder took the file for audio, but it held none: nothing useful was written.
        printError("no audio could be decoded from '" + displayPath(input) + "'");
        return kExitFailure;
    }
    return kExitOk;
}

} // namespace tonemirror::cli
