#include "app/tags/TagText.h"

#include "audio/TagAccess.h"

#include <array>

namespace tonemirror::app {

namespace {
constexpr std::int32_t kTagBuffer = 1024; // characters read per tag, with the terminator
}

std::u16string readTag(audio::TagAccess& tags, std::int32_t tag) {
    std::array<char16_t, kTagBuffer> buffer{};
    if (failed(tags.getTag(tag, buffer.data(), kTagBuffer))) {
        return {};
    }
    buffer.back() = u'\0';
    return std::u16string(buffer.data());
}

QString tagFailureCause(const audio::TagAccess& tags, const QString& general) {
    const char* cause = audio::describeTagProblem(tags.lastProblem());
    return cause[0] != '\0' ? QString::fromUtf8(cause) : general;
}

} // namespace tonemirror::app
