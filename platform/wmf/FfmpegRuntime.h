#pragma once

#include "platform/wmf/Runtime.h"

#include <cstddef>

namespace tonemirror::wmf {

// The runtime on this platform: readers over FFmpeg, editors over the tag library.
class FfmpegRuntime final : public IRuntime {
public:
    // The largest single block FFmpeg may allocate in this process.
    static constexpr std::size_t kMaxFfmpegAllocation = std::size_t{64} << 20;

    // Prepares the libraries once per process (silences FFmpeg's own logging, caps its allocations);
    // safe from any thread.
    static void initialiseLibraries();

    FfmpegRuntime() { initialiseLibraries(); }

    HResult createSyncReader(std::unique_ptr<ISyncReader>* reader) override;
    HResult createEditor(std::unique_ptr<IMetadataEditor>* editor) override;
};

} // namespace tonemirror::wmf
