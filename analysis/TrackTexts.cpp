#include "analysis/TrackTexts.h"

#include "platform/os/Paths.h"
#include "platform/os/Text.h"

namespace tonemirror::analysis {

namespace {

std::u16string_view upToNul(std::u16string_view text) {
    return text.substr(0, text.find(u'\0'));
}

// The plug-in is asked to terminate its texts, but a missing NUL must not run past the field.
std::u16string_view fieldText(const char16_t (&field)[TM_STREAM_TEXT_CHARS]) {
    return upToNul(std::u16string_view(field, TM_STREAM_TEXT_CHARS));
}

std::u16string normalised(std::u16string_view text) {
    std::u16string out(os::trimBlanks(upToNul(text)));
    os::lowerCaseInPlace(out);
    return out;
}

std::u16string_view fileNameStem(std::u16string_view path) {
    path = upToNul(path);
    const std::size_t separator = path.rfind(os::kNativeSeparator);
    const std::u16string_view name =
        separator == std::u16string_view::npos ? path : path.substr(separator + 1);
    const std::size_t dot = name.rfind(u'.');
    return dot == std::u16string_view::npos ? name : name.substr(0, dot);
}

} // namespace

TrackTexts makeTrackTexts(std::u16string_view path, const StreamInfo* info) {
    TrackTexts texts;
    if (info == nullptr) {
        return texts;
    }
    texts.nameText = normalised(fileNameStem(path));
    texts.titleText = normalised(fieldText(info->title));
    texts.artistText = normalised(fieldText(info->artist));
    texts.albumText = normalised(fieldText(info->album));
    return texts;
}

} // namespace tonemirror::analysis
