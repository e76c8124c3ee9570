#include "platform/wmf/FfmpegRuntime.h"

#include "platform/wmf/FfmpegSyncReader.h"
#include "platform/wmf/TagEditor.h"

extern "C" {
#include <libavutil/log.h>
#include <libavutil/mem.h>
}

#include <mutex>
#include <new>

namespace tonemirror::wmf {

void FfmpegRuntime::initialiseLibraries() {
    static std::once_flag once;
    std::call_once(once, [] {
        // Damaged files are expected; FFmpeg's complaints about them would only flood standard error.
        av_log_set_level(AV_LOG_QUIET);
        // Some demuxers allocate what a size field asks for before reading it (a RIFF INFO entry may
        // ask for gigabytes in a file of a few hundred bytes). No buffer of a real audio file, cover
        // art included, comes near this.
        av_max_alloc(kMaxFfmpegAllocation);
    });
}

HResult FfmpegRuntime::createSyncReader(std::unique_ptr<ISyncReader>* reader) {
    if (reader == nullptr) {
        return E_INVALIDARG;
    }
    reader->reset(new (std::nothrow) FfmpegSyncReader());
    return *reader != nullptr ? S_OK : E_OUTOFMEMORY;
}

HResult FfmpegRuntime::createEditor(std::unique_ptr<IMetadataEditor>* editor) {
    if (editor == nullptr) {
        return E_INVALIDARG;
    }
    editor->reset(new (std::nothrow) TagEditor());
    return *editor != nullptr ? S_OK : E_OUTOFMEMORY;
}

} // namespace tonemirror::wmf
