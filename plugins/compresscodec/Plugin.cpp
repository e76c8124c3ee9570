// Entry point of the compresscodec plug-in: a decoder, no tagger.
#include "plugin-api/PluginObject.h"
#include "plugins/compresscodec/CompressDecoder.h"

TM_PLUGIN_EXPORT TmResult GetInterface(TmGuid iid, void** object) {
    using namespace tonemirror;
    if (object == nullptr) {
        return E_INVALIDARG;
    }
    if (sameGuid(iid, kIidDecoder)) {
        return plugin::createObject<IDecoder, compresscodec::CompressDecoder>(object);
    }
    return E_NOINTERFACE;
}
