// A minimal plug-in with a decoder that yields one block of silence, for the loader test.
#include "plugin-api/PluginObject.h"

#include <cstring>

namespace {

class SilentDecoder {
public:
    tonemirror::HResult open(const char16_t* path) {
        if (path == nullptr) {
            return tonemirror::E_INVALIDARG;
        }
        open_ = true;
        left_ = 1;
        return tonemirror::S_OK;
    }
    tonemirror::HResult close() {
        open_ = false;
        return tonemirror::S_OK;
    }
    tonemirror::HResult read(const void** data, uint32_t* bytes) {
        if (!open_) {
            return tonemirror::E_FAIL;
        }
        if (left_ == 0) {
            return tonemirror::E_END_OF_STREAM;
        }
        --left_;
        *data = block_;
        *bytes = sizeof block_;
        return tonemirror::S_OK;
    }
    int32_t priority() { return 7; }
    tonemirror::HResult info(StreamInfo* out) {
        std::memset(out, 0, sizeof *out);
        return open_ ? tonemirror::S_OK : tonemirror::E_FAIL;
    }
    tonemirror::HResult format(StreamFormat* out) {
        *out = {1, 1, 22050};
        return open_ ? tonemirror::S_OK : tonemirror::E_FAIL;
    }

private:
    bool open_ = false;
    int left_ = 0;
    int16_t block_[64] = {};
};

} // namespace

TM_PLUGIN_EXPORT TmResult GetInterface(TmGuid iid, void** object) {
    if (object == nullptr) {
        return TM_E_INVALIDARG;
    }
    if (tonemirror::sameGuid(iid, tonemirror::kIidDecoder)) {
        return tonemirror::plugin::createObject<IDecoder, SilentDecoder>(object);
    }
    return TM_E_NOINTERFACE;
}
