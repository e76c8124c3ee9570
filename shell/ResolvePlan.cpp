#include "shell/ResolvePlan.h"

#include "platform/os/Paths.h"

namespace tonemirror::shell {

namespace {

using FileIndex = ResultGroups::FileIndex;

KeepCandidate candidate(const PlanInput& in, const std::vector<bool>& inReference, FileIndex f) {
    return {&in.groups.path(f), &in.qualities[f], inReference[f]};
}

// The kept file of one group and what set it above the next best.
ResolvePlan::GroupPlan pickKeeper(const PlanInput& in, const std::vector<bool>& inReference, std::size_t g) {
    const auto& files = in.groups.groups()[g].files;
    ResolvePlan::GroupPlan plan;
    plan.group = g;
    plan.keep = files.front();
    for (const FileIndex f : files) {
        if (f != plan.keep &&
            in.rules.better(candidate(in, inReference, f), candidate(in, inReference, plan.keep))) {
            plan.keep = f;
        }
    }
    bool haveRunnerUp = false;
    FileIndex runnerUp = plan.keep;
    for (const FileIndex f : files) {
        if (f != plan.keep && (!haveRunnerUp || in.rules.better(candidate(in, inReference, f),
                                                                candidate(in, inReference, runnerUp)))) {
            runnerUp = f;
            haveRunnerUp = true;
        }
    }
    if (haveRunnerUp) {
        plan.reason =
            in.rules.compare(candidate(in, inReference, plan.keep), candidate(in, inReference, runnerUp))
                .decidedBy;
    }
    return plan;
}

} // namespace

bool isInFolder(std::u16string_view path, std::u16string_view folder) {
    while (folder.size() > 1 && folder.back() == os::kNativeSeparator) {
        folder.remove_suffix(1);
    }
    if (folder.empty() || path.substr(0, folder.size()) != folder) {
        return false;
    }
    return path.size() == folder.size() || folder.back() == os::kNativeSeparator ||
           path[folder.size()] == os::kNativeSeparator;
}

std::vector<bool> referenceFlags(const ResultGroups& groups, const std::vector<std::u16string>& folders) {
    std::vector<bool> flags(groups.fileCount(), false);
    for (FileIndex f = 0; f < groups.fileCount(); ++f) {
        for (const auto& folder : folders) {
            if (isInFolder(groups.path(f), folder)) {
                flags[f] = true;
                break;
            }
        }
    }
    return flags;
}

ResolvePlan planMarks(const PlanInput& in) {
    const std::vector<bool> inReference = referenceFlags(in.groups, in.referenceFolders);
    ResolvePlan plan;
    plan.groups.reserve(in.groups.groups().size());
    for (std::size_t g = 0; g < in.groups.groups().size(); ++g) {
        ResolvePlan::GroupPlan group = pickKeeper(in, inReference, g);
        for (const FileIndex f : in.groups.groups()[g].files) {
            // Only a reported duplicate of the kept file goes: a chain A~B~C keeping A never touches C.
            if (f != group.keep && !inReference[f] && in.groups.paired(f, group.keep)) {
                group.mark.push_back(f);
            }
        }
        plan.markedFiles += group.mark.size();
        plan.groupsWithMarks += group.mark.empty() ? 0 : 1;
        plan.groups.push_back(std::move(group));
    }
    return plan;
}

std::vector<RankWarning> rankWarnings(const PlanInput& in, const std::vector<FileIndex>& kept,
                                      const std::vector<bool>& marked) {
    const std::vector<bool> inReference = referenceFlags(in.groups, in.referenceFolders);
    std::vector<RankWarning> warnings;
    for (std::size_t g = 0; g < in.groups.groups().size() && g < kept.size(); ++g) {
        const KeepCandidate keeper = candidate(in, inReference, kept[g]);
        for (const FileIndex f : in.groups.groups()[g].files) {
            if (f == kept[g] || f >= marked.size() || !marked[f]) {
                continue;
            }
            const auto verdict = in.rules.compare(candidate(in, inReference, f), keeper);
            if (verdict.order < 0 && verdict.decidedBy != KeepCriterion::Name) {
                warnings.push_back({f, kept[g], verdict.decidedBy});
            }
        }
    }
    return warnings;
}

} // namespace tonemirror::shell
