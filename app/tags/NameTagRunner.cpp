#include "app/tags/NameTagRunner.h"

#include "app/AppContext.h"
#include "app/common/FailureReport.h"
#include "app/tags/TagText.h"
#include "shell/NameTagRun.h"

namespace tonemirror::app {

namespace {

QString reason(const AppContext& context, const shell::NameTagOutcome& outcome) {
    using Failure = shell::NameTagFailure;
    switch (outcome.failure) {
    case Failure::None:
        break;
    case Failure::EmptyPattern:
        return context.text(u"PATTERN_EMPTY", u"the pattern is empty");
    case Failure::CannotOpen:
        return tagFailureCause(outcome.tagProblem,
                               context.text(u"TAGS_CANNOT_OPEN", u"no tagger can open the file"));
    case Failure::NoTagInPattern:
        return context.text(u"PATTERN_NO_TOKEN", u"the pattern names no tag, such as <title>");
    case Failure::NoTagValue:
        return context.text(u"PATTERN_NO_TAG_VALUE", u"it has none of the pattern's tags; it keeps its name");
    case Failure::TargetExists:
        return context.text(u"RENAME_EXISTS", u"a file named \"%1\" is already there")
            .arg(toQString(outcome.target));
    case Failure::RenameFailed:
        return context.text(u"RENAME_FAILED", u"it could not be renamed to \"%1\" (%2)")
            .arg(toQString(outcome.target), QString::fromStdString(outcome.error.message()));
    case Failure::NotSaved:
        return tagFailureCause(
            outcome.tagProblem,
            context.text(u"TAGS_NOT_SAVED", u"the changes could not be saved; the file is as it was"));
    case Failure::NameGaveNoTag:
        return context.text(u"PATTERN_NO_MATCH", u"the name gave no tag for this pattern");
    }
    return {};
}

} // namespace

bool runNameTagConversion(const AppContext& context, audio::TagAccess& tags, CConvertDlg::Direction direction,
                          const std::u16string& path, const std::u16string& pattern,
                          FailureReport& failures) {
    const shell::NameTagOutcome outcome = shell::convertNameAndTags(
        tags,
        direction == CConvertDlg::Direction::TagsToFilename ? shell::NameTagDirection::TagsToFilename
                                                            : shell::NameTagDirection::FilenameToTags,
        path, pattern);
    if (!outcome.converted()) {
        failures.add(path, reason(context, outcome));
    }
    return outcome.converted();
}

} // namespace tonemirror::app
