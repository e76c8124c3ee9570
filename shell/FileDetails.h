#pragma once

#include "engine/DetailsRecord.h"

#include <memory>
#include <string>

namespace tonemirror::audio {
class AudioSource;
}

namespace tonemirror::shell {

// The details of one file as the details pane shows them, read through `source`. Null when no
// decoder opens the file (asked again at the next selection). Tags, duration and bit rate stay empty
// when the stream information cannot be read; the size is 0 when the file's attributes cannot be.
std::shared_ptr<engine::DetailsRecord> readFileDetails(const std::u16string& path,
                                                       audio::AudioSource& source);

// Splits a path at its last separator into folder and file name.
void splitPath(const std::u16string& path, std::u16string& folder, std::u16string& fileName);

} // namespace tonemirror::shell
