#include "app/folders/NameTagRunner.h"

#include "app/AppContext.h"
#include "app/common/FailureReport.h"
#include "app/tags/TagText.h"
#include "audio/TagAccess.h"
#include "platform/os/Paths.h"
#include "platform/os/Rename.h"
#include "shell/NameTagConversion.h"

#include <array>

namespace tonemirror::app {

namespace {

QString renameFailure(const AppContext& context, std::error_code error, const std::u16string& target) {
    if (error == std::errc::file_exists) {
        return context.text(u"RENAME_EXISTS", u"a file named \"%1\" is already there").arg(toQString(target));
    }
    return context.text(u"RENAME_FAILED", u"it could not be renamed to \"%1\" (%2)")
        .arg(toQString(target), QString::fromStdString(error.message()));
}

bool tagsToFilename(const AppContext& context, audio::TagAccess& tags, const std::u16string& path,
                    const std::u16string& pattern, FailureReport& failures) {
    if (failed(tags.open(path))) {
        failures.add(
            path, tagFailureCause(tags, context.text(u"TAGS_CANNOT_OPEN", u"no tagger can open the file")));
        return false;
    }
    const std::optional<std::u16string> target =
        shell::nameFromTags(path, pattern, [&](std::int32_t tag) { return readTag(tags, tag); });
    tags.close();
    if (!target) {
        failures.add(path,
                     shell::patternHasToken(pattern)
                         ? context.text(u"PATTERN_NO_TAG_VALUE",
                                        u"it has none of the pattern's tags; it keeps its name")
                         : context.text(u"PATTERN_NO_TOKEN", u"the pattern names no tag, such as <title>"));
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
        failures.add(
            path, tagFailureCause(tags, context.text(u"TAGS_CANNOT_OPEN", u"no tagger can open the file")));
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
        failures.add(path, tagFailureCause(
                               tags, context.text(u"TAGS_NOT_SAVED",
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
