#pragma once

#include "cli/CliCommon.h"

namespace tonemirror::audio {
class PluginList;
}

namespace tonemirror::cli {

// Each subcommand takes the arguments after its name and returns the exit status.
int runDecode(const Args& args, const audio::PluginList& plugins);
int runInfo(const Args& args, const audio::PluginList& plugins);
int runCache(const Args& args, const audio::PluginList& plugins);
int runIgnore(const Args& args, const audio::PluginList& plugins);
int runFingerprint(const Args& args, const audio::PluginList& plugins);
int runCompare(const Args& args, const audio::PluginList& plugins);
int runScan(const Args& args, const audio::PluginList& plugins);
int runTags(const Args& args, const audio::PluginList& plugins);
int runResolve(const Args& args, const audio::PluginList& plugins);
int runUndo(const Args& args, const audio::PluginList& plugins);

} // namespace tonemirror::cli
