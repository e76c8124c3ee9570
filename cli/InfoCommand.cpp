#include "audio/AudioSource.h"
#include "audio/PluginList.h"
#include "cli/Commands.h"
#include "cli/OutputText.h"
#include "platform/os/Paths.h"

#include <nlohmann/json.hpp>

#include <iostream>

namespace tonemirror::cli {

namespace {

// Why the decoder gave no stream details, beside the code callers may already match on.
std::string infoProblem(HResult result) {
    switch (result) {
    case E_NOTIMPL:
        return "the plug-in that decodes this file does not report its duration, bit rate or tags";
    case E_FAIL:
        return "the plug-in found no duration, bit rate or tags in this file";
    case E_NOINTERFACE:
        return "the plug-in could not read the file's header";
    case E_OUTOFMEMORY:
        return "there was not enough memory to read the file's duration, bit rate and tags";
    default:
        return "the plug-in could not report the file's duration, bit rate or tags";
    }
}

} // namespace

int runInfo(const Args& args, const audio::PluginList& plugins) {
    if (args.size() != 1) {
        printError("usage: tonemirror-cli info FILE");
        return kExitUsage;
    }
    const std::string& input = args[0];
    audio::AudioSource source(plugins);
    const std::u16string path = os::fromNativePath(std::filesystem::absolute(input));
    if (failed(source.open(path))) {
        printError(undecodableFileText(input, source.decoderCount()));
        return kExitFailure;
    }
    nlohmann::json j;
    putNativeName(j, "path", input);
    j["plugin"] = source.currentPluginName();
    const StreamFormat& f = source.format();
    j["format"] = {{"formatTag", f.formatTag}, {"channels", f.channels}, {"sampleRate", f.sampleRate}};
    StreamInfo info{};
    const HResult r = source.getInfo(&info);
    if (succeeded(r)) {
        j["info"] = {{"durationMs", info.durationMs},
                     {"bitRate", info.bitRate},
                     {"title", fieldText(info.title, TM_STREAM_TEXT_CHARS)},
                     {"artist", fieldText(info.artist, TM_STREAM_TEXT_CHARS)},
                     {"album", fieldText(info.album, TM_STREAM_TEXT_CHARS)}};
    } else {
        j["info"] = nullptr;
        j["infoResult"] = resultName(r);
        j["infoMessage"] = infoProblem(r);
    }
    source.close();
    std::cout << dumpJson(j) << '\n';
    return kExitOk;
}

} // namespace tonemirror::cli
