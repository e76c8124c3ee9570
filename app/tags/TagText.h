#pragma once

#include "audio/TagProblem.h"

#include <QString>

namespace tonemirror::audio {
class TagAccess;
}

namespace tonemirror::app {

// The tagger's own account of its last failure when it gave one, else the general text.
QString tagFailureCause(const audio::TagAccess& tags, const QString& general);
QString tagFailureCause(audio::TagProblem problem, const QString& general);

} // namespace tonemirror::app
