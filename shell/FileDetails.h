#pragma once

#include "engine/DetailsRecord.h"

#include <memory>
#include <string>

namespace tonemirror::audio {
class AudioSource;
}
namespace tonemirror::engine {
class TrackStore;
}

namespace tonemirror::shell {

// The details of one file as the details pane shows them, read through `source`. Null when no
// decoder opens the file (asked again at the next selection). Tags, duration and bit rate stay empty
// when the stream information cannot be read; the size is 0 when the file's attributes cannot be.
std::shared_ptr<engine::DetailsRecord> readFileDetails(const std::u16string& path,
                                                       audio::AudioSource& source);
// The same with the file's quality; `store`, when given, holds the scan's analysis of the file,
// whose spectrum tells a lossless file made from a lossy one.
std::shared_ptr<engine::DetailsRecord> readFileDetails(const std::u16string& path, audio::AudioSource& source,
                                                       engine::TrackStore* store);

// Splits a path at its last separator into folder and file name.
void splitPath(const std::u16string& path, std::u16string& folder, std::u16string& fileName);

} // namespace tonemirror::shell
