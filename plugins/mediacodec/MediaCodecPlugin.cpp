// Entry point of the mediacodec plug-in.

#include "platform/wmf/FfmpegRuntime.h"
#include "plugin-api/PluginObject.h"
#include "plugins/mediacodec/MediaDecoder.h"
#include "plugins/mediacodec/MediaTagger.h"

namespace {

// Library set-up happens when the plug-in is loaded, before any object exists.
__attribute__((constructor)) void onPluginLoad() {
    tonemirror::wmf::FfmpegRuntime::initialiseLibraries();
}

} // namespace

TM_PLUGIN_EXPORT TmResult GetInterface(TmGuid iid, void** object) {
    using namespace tonemirror;
    if (object == nullptr) {
        return E_INVALIDARG;
    }
    // The runtime holds no state of its own; each object gets its own reader or editor from it.
    wmf::FfmpegRuntime runtime;
    if (sameGuid(iid, kIidDecoder)) {
        return plugin::createObject<IDecoder, mediacodec::MediaDecoder>(object, runtime);
    }
    if (sameGuid(iid, kIidTagger)) {
        return plugin::createObject<ITagger, mediacodec::MediaTagger>(object, runtime);
    }
    return E_NOINTERFACE;
}
