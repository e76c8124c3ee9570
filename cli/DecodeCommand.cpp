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

using OutputFile = std::unique_ptr<std::FILE, FileCloser>;

struct DecodeOptions {
    std::string input;
    std::string output; // empty: standard output
};

// Empty when the arguments are sound, else the usage error.
std::string parseDecodeOptions(const Args& args, DecodeOptions& o) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "-o" || args[i] == "--output") {
            if (i + 1 >= args.size()) {
                return "decode: -o needs a file name";
            }
            o.output = args[++i];
        } else if (o.input.empty()) {
            o.input = args[i];
        } else {
            return "decode: unexpected argument '" + args[i] + "'";
        }
    }
    return o.input.empty() ? "usage: tonemirror-cli decode FILE [-o OUT]" : std::string();
}

std::string outputName(const DecodeOptions& o) {
    return o.output.empty() ? std::string("stdout") : displayPath(o.output);
}

// The output to write, or nothing (said) when it is the input or cannot be created.
OutputFile openOutput(const DecodeOptions& o) {
    if (!o.output.empty() && sameFile(o.input, o.output)) {
        printError("decode: the output '" + displayPath(o.output) +
                   "' is the input file; nothing was written");
        return nullptr;
    }
    OutputFile out(o.output.empty() ? stdout : std::fopen(o.output.c_str(), "wb"));
    if (!out) {
        printError("cannot write '" + displayPath(o.output) + "'");
    }
    return out;
}

struct Copied {
    HResult lastRead = S_OK; // what ended the stream
    std::uint64_t samples = 0;
    bool written = true;
};

// Writes every sample the source gives until a read fails or a write does.
Copied copySamples(audio::AudioSource& source, std::FILE* out) {
    Copied copied;
    for (;;) {
        const float* samples = nullptr;
        std::uint32_t count = 0;
        copied.lastRead = source.read(&samples, &count);
        if (failed(copied.lastRead)) {
            return copied;
        }
        if (count > 0 && std::fwrite(samples, sizeof(float), count, out) != count) {
            copied.written = false;
            return copied;
        }
        copied.samples += count;
    }
}

// Flushes and closes the output; false when something did not reach it.
bool finishOutput(OutputFile out) {
    std::FILE* file = out.release();
    const bool written = std::fflush(file) == 0 && std::ferror(file) == 0;
    return written && (file == stdout || std::fclose(file) == 0);
}

// The exit status of a copy that reached the output.
int decodedStatus(const DecodeOptions& o, const Copied& copied) {
    if (copied.lastRead != E_END_OF_STREAM) {
        printError("decoding stopped early: the decoder could not read '" + displayPath(o.input) +
                   "' to its end");
        return kExitFailure;
    }
    if (copied.samples == 0) {
        // A decoder took the file for audio, but it held none: nothing useful was written.
        printError("no audio could be decoded from '" + displayPath(o.input) + "'");
        return kExitFailure;
    }
    return kExitOk;
}

} // namespace

int runDecode(const Args& args, const audio::PluginList& plugins) {
    DecodeOptions o;
    if (const std::string error = parseDecodeOptions(args, o); !error.empty()) {
        printError(error);
        return kExitUsage;
    }
    audio::AudioSource source(plugins);
    if (failed(source.open(os::fromNativePath(std::filesystem::absolute(o.input))))) {
        printError(undecodableFileText(o.input, source.decoderCount()));
        return kExitFailure;
    }
    OutputFile out = openOutput(o);
    if (!out) {
        return kExitFailure;
    }
    const Copied copied = copySamples(source, out.get());
    const std::string plugin = source.currentPluginName();
    source.close();
    if (!copied.written || !finishOutput(std::move(out))) {
        printError("write error on '" + outputName(o) + "'");
        return kExitFailure;
    }
    std::cerr << "decoder: " << plugin << "\nsamples: " << copied.samples << '\n';
    return decodedStatus(o, copied);
}

} // namespace tonemirror::cli
