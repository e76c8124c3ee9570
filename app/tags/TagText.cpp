#include "app/tags/TagText.h"

#include "audio/TagAccess.h"

namespace tonemirror::app {

std::u16string readTag(audio::TagAccess& tags, std::int32_t tag) {
    return tags.readTag(tag).value_or(std::u16string());
}

QString tagFailureCause(const audio::TagAccess& tags, const QString& general) {
    const char* cause = audio::describeTagProblem(tags.lastProblem());
    return cause[0] != '\0' ? QString::fromUtf8(cause) : general;
}

} // namespace tonemirror::app
