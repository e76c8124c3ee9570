#include "shell/NameTagRun.h"

#include "audio/TagAccess.h"
#include "platform/os/Paths.h"
#include "platform/os/Rename.h"
#include "shell/NameTagConversion.h"

namespace tonemirror::shell {

namespace {

NameTagOutcome failure(NameTagFailure why, audio::TagProblem problem = audio::TagProblem::None) {
    NameTagOutcome outcome;
    outcome.failure = why;
    outcome.tagProblem = problem;
    return outcome;
}

NameTagOutcome tagsToFilename(audio::TagAccess& tags, const std::u16string& path,
                              const std::u16string& pattern) {
    if (failed(tags.open(path))) {
        return failure(NameTagFailure::CannotOpen, tags.lastProblem());
    }
    const std::optional<std::u16string> target =
        nameFromTags(path, pattern, [&](std::int32_t tag) { return readTag(tags, tag); });
    tags.close();
    if (!target) {
        return failure(patternHasToken(pattern) ? NameTagFailure::NoTagValue
                                                : NameTagFailure::NoTagInPattern);
    }
    if (*target == path) {
        return {}; // already named so
    }
    NameTagOutcome outcome;
    outcome.error = os::renameNoReplace(os::toNativePath(path), os::toNativePath(*target));
    if (outcome.error) {
        outcome.failure = outcome.error == std::errc::file_exists ? NameTagFailure::TargetExists
                                                                  : NameTagFailure::RenameFailed;
        outcome.target = *target;
    }
    return outcome;
}

NameTagOutcome filenameToTags(audio::TagAccess& tags, const std::u16string& path,
                              const std::u16string& pattern) {
    if (failed(tags.open(path))) {
        return failure(NameTagFailure::CannotOpen, tags.lastProblem());
    }
    int written = 0;
    for (const TagValue& value : tagsFromName(path, pattern)) {
        written += succeeded(tags.setTag(value.tag, value.text.c_str(),
                                         static_cast<std::int32_t>(value.text.size())))
                       ? 1
                       : 0;
    }
    // The tags count only once they are saved.
    if (failed(tags.close())) {
        return failure(NameTagFailure::NotSaved, tags.lastProblem());
    }
    return written == 0 ? failure(NameTagFailure::NameGaveNoTag) : NameTagOutcome{};
}

} // namespace

NameTagOutcome convertNameAndTags(audio::TagAccess& tags, NameTagDirection direction,
                                  const std::u16string& path, const std::u16string& pattern) {
    if (path.empty() || pattern.empty()) {
        return failure(NameTagFailure::EmptyPattern);
    }
    return direction == NameTagDirection::TagsToFilename ? tagsToFilename(tags, path, pattern)
                                                         : filenameToTags(tags, path, pattern);
}

std::u16string readTag(audio::TagAccess& tags, std::int32_t tag) {
    return tags.readTag(tag).value_or(std::u16string());
}

} // namespace tonemirror::shell
