#include "app/tags/TagText.h"

#include "audio/TagAccess.h"

namespace tonemirror::app {

QString tagFailureCause(const audio::TagAccess& tags, const QString& general) {
    return tagFailureCause(tags.lastProblem(), general);
}

QString tagFailureCause(audio::TagProblem problem, const QString& general) {
    const char* cause = audio::describeTagProblem(problem);
    return cause[0] != '\0' ? QString::fromUtf8(cause) : general;
}

} // namespace tonemirror::app
