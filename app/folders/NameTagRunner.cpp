#include "app/folders/NameTagRunner.h"

#include "app/AppContext.h"
#include "app/common/FailureReport.h"
#include "audio/TagAccess.h"
#include "platform/os/Paths.h"
#include "platform/os/Rename.h"
#include "shell/NameTagConversion.h"

#include <array>

namespace tonemirror::app {

namespace {

constexpr std::int32_t kTagBuffer = 1024; // characters read per tag, with the terminator

std::u16string readTag(audio::TagAccess& tags, std::int32_t tag) {
    std::array<char16_t, kTagBuffer> buffer{};
    if (failed(tags.getTag(tag, buffer.data(), kTagBuffer))) {
        return {};
    }
    buffer.back() = u'\0';
    return std::u16string(buffer.data());
}

QString renameFailure(const AppContext& context, std::error_code error, const std::u16string& target) {
    if (error == std::errc::file_exists) {
        return context.text(u"RENAME_EXISTS", u"a file named \"%1\" is already there").arg(toQString(target));
    }
    return context.text(u"RENAME_FAILED", u"it could not be renamed to \"%1\" (%2)")
        .arg(toQString(target), QString::fromStdString(error.message()));
}

// The tagger's own account of its last failure when it gave one, else the general text.
QString causeOr(const audio::TagAccess& tags, const QString& general) {
    const char* cause = audio::describeTagProblem(tags.lastProblem());
    return cause[0] != '\0' ? QString::fromUtf8(cause) : general;
}

bool tagsToFilename(const AppContext& context, audio::TagAccess& tags, const std::u16string& path,
                    const std::u16string& pattern, FailureReport& failures) {
    if (failed(tags.open(path))) {
        failures.add(path, causeOr(tags, context.text(u"TAGS_CANNOT_OPEN", u"no tagger can open the file")));
        return false;
    }
    const std::optional<std::u16string> target =
        shell::nameFromTags(path, pattern, [&](std::int32_t tag) { return readTag(tags, tag); });
    tags.close();
    if (!target) {
        failures.add(path, context.text(u"PATTERN_NO_TOKEN", u"the pattern names no tag, such as <title>"));
        return false;
    }
    if (*target == path) {
        return true; // already named so
    }
    const std::error_code error = os::renameNoReplace(os::toNativePath(path), os::toNativePath(*target));
    if (error) {
        failures.add(path, renameFailure(context, error, *target));
        return false;
    }
    return true;
}

bool filenameToTags(const AppContext& context, audio::TagAccess& tags, const std::u16string& path,
                    const std::u16string& pattern, FailureReport& failures) {
    if (failed(tags.open(path))) {
        failures.add(path, causeOr(tags, context.text(u"TAGS_CANNOT_OPEN", u"no tagger can open the file")));
        return false;
    }
    int written = 0;
    for (const shell::TagValue& value : shell::tagsFromName(path, pattern)) {
        written += succeeded(tags.setTag(value.tag, value.text.c_str(),
                                         static_cast<std::int32_t>(value.text.size())))
                       ? 1
                       : 0;
    }
    // The tags count only once they are saved.
    if (failed(tags.close())) {
        failures.add(path,
                     causeOr(tags, context.text(u"TAGS_NOT_SAVED",
                                                u"the changes could not be saved; the file is as it was")));
        return false;
    }
    if (written == 0) {
        failures.add(path, context.text(u"PATTERN_NO_MATCH", u"the name gave no tag for this pattern"));
        return false;
    }
    return true;
}

} // namespace

bool runNameTagConversion(const AppContext& context, audio::TagAccess& tags, CConvertDlg::Direction direction,
                          const std::u16string& path, const std::u16string& pattern,
                          FailureReport& failures) {
    if (path.empty() || pattern.empty()) {
        failures.add(path, context.text(u"PATTERN_EMPTY", u"the pattern is empty"));
        return false;
    }
    return direction == CConvertDlg::Direction::TagsToFilename
               ? tagsToFilename(context, tags, path, pattern, failures)
               : filenameToTags(context, tags, path, pattern, failures);
}

} // namespace tonemirror::app
