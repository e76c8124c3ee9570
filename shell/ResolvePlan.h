#pragma once

#include "shell/KeeperRules.h"
#include "shell/ResultGroups.h"

#include <cstddef>
#include <string>
#include <vector>

namespace tonemirror::shell {

// True when `path` is `folder` or lies below it (whole names only: "/music2" is not below "/music").
bool isInFolder(std::u16string_view path, std::u16string_view folder);

// "Mark all but the best": in each group the copy the rules rank first is kept, and the files
// reported as duplicates of it are marked. Files only linked to the kept one through others, and
// files in reference folders, stay unmarked; the kept file is never marked, so no group loses
// every copy.
struct ResolvePlan {
    struct GroupPlan {
        std::size_t group = 0;
        ResultGroups::FileIndex keep = 0;
        KeepCriterion reason = KeepCriterion::Name; // what set the kept file above the next best
        std::vector<ResultGroups::FileIndex> mark;
    };
    std::vector<GroupPlan> groups; // one per group, in the groups' order
    std::size_t markedFiles = 0;
    std::size_t groupsWithMarks = 0;
};

// What the plan needs to know of every file of `groups` (indexed by file number).
struct PlanInput {
    const ResultGroups& groups;
    const std::vector<FileQuality>& qualities;
    const std::vector<std::u16string>& referenceFolders;
    const KeeperRules& rules;
};

ResolvePlan planMarks(const PlanInput& input);

// Whether each file lies in a reference folder, by file number.
std::vector<bool> referenceFlags(const ResultGroups& groups, const std::vector<std::u16string>& folders);

// A marked file that the rules rank above the file kept in its group (after marks were changed by
// hand): keeping it instead would lose less.
struct RankWarning {
    ResultGroups::FileIndex marked = 0;
    ResultGroups::FileIndex kept = 0;
    KeepCriterion criterion = KeepCriterion::Name;
};

// `marked` by file number, `kept` by group number.
std::vector<RankWarning> rankWarnings(const PlanInput& input,
                                      const std::vector<ResultGroups::FileIndex>& kept,
                                      const std::vector<bool>& marked);

} // namespace tonemirror::shell
