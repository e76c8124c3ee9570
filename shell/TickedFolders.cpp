#include "shell/TickedFolders.h"

#include "platform/os/Paths.h"

#include <algorithm>
#include <optional>
#include <unordered_set>

namespace tonemirror::shell {

namespace {

using Folders = std::vector<std::u16string>;

constexpr char16_t kSeparator = os::kNativeSeparator;
constexpr std::size_t kHintFolders = 5;

std::u16string normalised(std::u16string_view path) {
    while (path.size() > 1 && path.back() == kSeparator) {
        path.remove_suffix(1);
    }
    return std::u16string(path);
}

// The folder holding `path`; nullopt for the root.
std::optional<std::u16string> parentOf(std::u16string_view path) {
    const std::size_t last = path.rfind(kSeparator);
    if (path.size() <= 1 || last == std::u16string_view::npos) {
        return std::nullopt;
    }
    return std::u16string(path.substr(0, last == 0 ? 1 : last));
}

bool contains(const Folders& list, std::u16string_view path) {
    return std::find(list.begin(), list.end(), path) != list.end();
}

bool anyContaining(const Folders& ticked, std::u16string_view path) {
    return std::any_of(ticked.begin(), ticked.end(), [&](const auto& t) { return pathInside(path, t); });
}

bool anyInside(const Folders& ticked, std::u16string_view path) {
    return std::any_of(ticked.begin(), ticked.end(), [&](const auto& t) { return pathInside(t, path); });
}

void removeInside(Folders& ticked, std::u16string_view path) {
    std::erase_if(ticked, [&](const auto& t) { return pathInside(t, path); });
}

} // namespace

bool pathsRelated(std::u16string_view a, std::u16string_view b) {
    if (a.size() > b.size()) {
        std::swap(a, b);
    }
    if (b.substr(0, a.size()) != a) {
        return false;
    }
    return a.size() == b.size() || (!a.empty() && a.back() == kSeparator) || b[a.size()] == kSeparator;
}

bool pathInside(std::u16string_view inner, std::u16string_view outer) {
    return inner.size() > outer.size() && pathsRelated(inner, outer);
}

bool isFileSystemPath(std::u16string_view path) {
    return !path.empty() && path.front() == kSeparator;
}

std::vector<std::u16string> dropRedundantFolders(std::vector<std::u16string> folders) {
    std::erase_if(folders, [](const auto& entry) { return !isFileSystemPath(entry); });
    for (auto& entry : folders) {
        entry = normalised(entry);
    }
    // An entry goes when another lies inside it or a later copy equals it. Sorted, the entries inside
    // a folder follow its name with the separator, so each takes one search: a stored list of tens of
    // thousands of folders loads at start-up in n log n.
    std::vector<std::u16string_view> sorted(folders.begin(), folders.end());
    std::sort(sorted.begin(), sorted.end());
    const auto hasInside = [&](std::u16string_view folder) {
        std::u16string below(folder);
        if (below.back() != kSeparator) {
            below.push_back(kSeparator);
        }
        auto next = std::lower_bound(sorted.begin(), sorted.end(), std::u16string_view(below));
        while (next != sorted.end() && *next == folder) {
            ++next; // the root names itself with the separator
        }
        return next != sorted.end() && next->starts_with(below);
    };
    std::vector<bool> keep(folders.size());
    std::unordered_set<std::u16string_view> later;
    for (std::size_t i = folders.size(); i-- > 0;) {
        keep[i] = !hasInside(folders[i]) && later.insert(folders[i]).second;
    }
    std::vector<std::u16string> kept;
    for (std::size_t i = 0; i < folders.size(); ++i) {
        if (keep[i]) {
            kept.push_back(std::move(folders[i]));
        }
    }
    return kept;
}

FolderMark folderMark(const std::vector<std::u16string>& ticked, std::u16string_view path) {
    const std::u16string folder = normalised(path);
    if (contains(ticked, folder) || anyContaining(ticked, folder)) {
        return FolderMark::Ticked;
    }
    return anyInside(ticked, folder) ? FolderMark::PartlyTicked : FolderMark::Unticked;
}

std::u16string tickFolder(std::vector<std::u16string>& ticked, std::u16string_view path,
                          const FolderSystem& system) {
    std::u16string folder = normalised(path);
    if (anyContaining(ticked, folder)) {
        return folder; // already ticked through a folder above
    }
    removeInside(ticked, folder);
    while (true) {
        if (!contains(ticked, folder)) {
            ticked.push_back(folder);
        }
        const auto parent = parentOf(folder);
        if (!parent || system.isMountRoot(folder)) {
            return folder;
        }
        const auto siblings = system.subfolders(*parent);
        // A folder its parent does not list (gone, or hidden from the listing) never ticks the parent.
        if (!siblings || !contains(*siblings, folder) ||
            !std::all_of(siblings->begin(), siblings->end(),
                         [&](const auto& s) { return contains(ticked, s); })) {
            return folder;
        }
        removeInside(ticked, *parent);
        folder = *parent;
    }
}

std::u16string untickFolder(std::vector<std::u16string>& ticked, std::u16string_view path,
                            const FolderSystem& system) {
    std::u16string folder = normalised(path);
    removeInside(ticked, folder);
    std::u16string changed = folder;
    bool insideTicked = true; // a ticked folder above still has to be split
    std::size_t added = 0;
    while (true) {
        std::erase(ticked, folder);
        insideTicked = insideTicked && anyContaining(ticked, folder);
        const auto parent = parentOf(folder);
        // A ticked folder above a mount's root is split too; otherwise the climb ends there.
        if (!parent || (!insideTicked && system.isMountRoot(folder))) {
            return changed;
        }
        const auto listed = system.subfolders(*parent);
        if (!listed) {
            return folder;
        }
        Folders others;
        for (const auto& sibling : *listed) {
            if (sibling == folder) {
                continue;
            }
            if (contains(ticked, sibling)) {
                return changed;
            }
            if (insideTicked) {
                others.push_back(sibling);
            }
        }
        added += others.size();
        if (added == 0) {
            if (anyInside(ticked, *parent)) {
                return changed;
            }
            changed = *parent;
        }
        ticked.insert(ticked.end(), others.begin(), others.end());
        folder = *parent;
    }
}

std::u16string tickedFoldersHint(const std::vector<std::u16string>& ticked, std::u16string_view empty) {
    if (ticked.empty()) {
        return std::u16string(empty);
    }
    std::u16string text;
    for (std::size_t i = 0; i < ticked.size() && i < kHintFolders; ++i) {
        text += i == 0 ? u"" : u", ";
        text += ticked[i];
    }
    if (ticked.size() > kHintFolders) {
        text += u", ...";
    }
    return text;
}

TickedFolders::Change TickedFolders::click(std::u16string_view path) {
    if (!isFileSystemPath(path)) {
        return {};
    }
    if (markOf(path) == FolderMark::Ticked) {
        return {false, untick(path)};
    }
    return {true, tick(path)};
}

} // namespace tonemirror::shell
