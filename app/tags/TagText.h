#pragma once

#include <QString>

#include <cstdint>
#include <string>

namespace tonemirror::audio {
class TagAccess;
}

namespace tonemirror::app {

// The tag's whole text from the open file, or empty when it cannot be read whole.
std::u16string readTag(audio::TagAccess& tags, std::int32_t tag);

// The tagger's own account of its last failure when it gave one, else the general text.
QString tagFailureCause(const audio::TagAccess& tags, const QString& general);

} // namespace tonemirror::app
