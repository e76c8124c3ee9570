#include "audio/AudioSource.h"
#include "audio/PluginList.h"
#include "cli/Commands.h"
#include "cli/OutputText.h"
#include "platform/os/Paths.h"

#include <nlohmann/json.hpp>

#include <iostream>

namespace tonemirror::cli {

int runInfo(const Args& args, const audio::PluginList& plugins) {
    if (args.size() != 1) {
        printError("usage: tonemirror-cli info FILE");
        return kExitUsage;
    }
    const std::string& input = args[0];
    audio::AudioSource source(plugins);
    const std::u16string path = os::fromNativePath(std::filesystem::absolute(input));
    if (failed(source.open(path))) {
        printError("no codec plug-in can decode '" + displayPath(input) + "'");
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
    }
    source.close();
    std::cout << dumpJson(j) << '\n';
    return kExitOk;
}

} // namespace tonemirror::cli
