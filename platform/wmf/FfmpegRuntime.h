#pragma once

#include "platform/wmf/Runtime.h"

namespace tonemirror::wmf {

// The runtime on this platform: readers over FFmpeg, editors over the tag library.
class FfmpegRuntime final : public IRuntime {
public:
    // Prepares the libraries once per process (silences FFmpeg's own logging); safe from any thread.
    static void initialiseLibraries();

    FfmpegRuntime() { initialiseLibraries(); }

    HResult createSyncReader(std::unique_ptr<ISyncReader>* reader) override;
    HResult createEditor(std::unique_ptr<IMetadataEditor>* editor) override;
};

} // namespace tonemirror::wmf
