#include "shell/TickedFolders.h"

#include "platform/os/Paths.h"

#include <algorithm>
#include <optional>

namespace tonemirror::shell {

namespace {

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

bool contains(const std::vector<std::u16string>& list, std::u16string_view path) {
    return std::find(list.begin(), list.end(), path) != list.end();
}

} // namespace

TickedFolders::TickedFolders(const FolderSystem& folders) : system_(folders) {}

bool TickedFolders::related(std::u16string_view a, std::u16string_view b) {
    if (a.size() > b.size()) {
        std::swap(a, b);
    }
    if (b.substr(0, a.size()) != a) {
        return false;
    }
    return a.size() == b.size() || (!a.empty() && a.back() == kSeparator) || b[a.size()] == kSeparator;
}

bool TickedFolders::inside(std::u16string_view inner, std::u16string_view outer) {
    return inner.size() > outer.size() && related(inner, outer);
}

bool TickedFolders::isFileSystemPath(std::u16string_view path) {
    return !path.empty() && path.front() == kSeparator;
}

void TickedFolders::load(const std::vector<std::u16string>& stored) {
    folders_.clear();
    for (const auto& entry : stored) {
        if (isFileSystemPath(entry)) {
            folders_.push_back(normalised(entry));
        }
    }
    for (std::size_t i = 0; i < folders_.size();) {
        bool redundant = false;
        for (std::size_t j = 0; j < folders_.size() && !redundant; ++j) {
            redundant = j != i && (folders_[j] == folders_[i] || inside(folders_[j], folders_[i]));
        }
        if (redundant) {
            folders_.erase(folders_.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
            ++i;
        }
    }
}

TickedFolders::Mark TickedFolders::markOf(std::u16string_view path) const {
    const std::u16string folder = normalised(path);
    if (isTicked(folder) || anyContaining(folder)) {
        return Mark::Ticked;
    }
    return anyInside(folder) ? Mark::PartlyTicked : Mark::Unticked;
}

TickedFolders::Change TickedFolders::click(std::u16string_view path) {
    if (!isFileSystemPath(path)) {
        return {};
    }
    if (markOf(path) == Mark::Ticked) {
        return {false, untick(path)};
    }
    return {true, tick(path)};
}

std::u16string TickedFolders::tick(std::u16string_view path) {
    std::u16string folder = normalised(path);
    if (anyContaining(folder)) {
        return folder; // already ticked through a folder above
    }
    removeInside(folder);
    while (true) {
        if (!isTicked(folder)) {
            folders_.push_back(folder);
        }
        const auto parent = parentOf(folder);
        if (!parent || system_.isMountRoot(folder)) {
            return folder;
        }
        const auto siblings = system_.subfolders(*parent);
        // A folder its parent does not list (gone, or hidden from the listing) never ticks the parent.
        if (!siblings || !contains(*siblings, folder) ||
            !std::all_of(siblings->begin(), siblings->end(), [&](const auto& s) { return isTicked(s); })) {
            return folder;
        }
        removeInside(*parent);
        folder = *parent;
    }
}

std::u16string TickedFolders::untick(std::u16string_view path) {
    std::u16string folder = normalised(path);
    removeInside(folder);
    std::u16string changed = folder;
    bool insideTicked = true; // a ticked folder above still has to be split
    std::size_t added = 0;
    while (true) {
        remove(folder);
        insideTicked = insideTicked && anyContaining(folder);
        const auto parent = parentOf(folder);
        // A ticked folder above a mount's root is split too; otherwise the climb ends there.
        if (!parent || (!insideTicked && system_.isMountRoot(folder))) {
            return changed;
        }
        const auto listed = system_.subfolders(*parent);
        if (!listed) {
            return folder;
        }
        std::vector<std::u16string> others;
        for (const auto& sibling : *listed) {
            if (sibling == folder) {
                continue;
            }
            if (isTicked(sibling)) {
                return changed;
            }
            if (insideTicked) {
                others.push_back(sibling);
            }
        }
        added += others.size();
        if (added == 0) {
            if (anyInside(*parent)) {
                return changed;
            }
            changed = *parent;
        }
        folders_.insert(folders_.end(), others.begin(), others.end());
        folder = *parent;
    }
}

std::u16string TickedFolders::hintText(std::u16string_view empty) const {
    if (folders_.empty()) {
        return std::u16string(empty);
    }
    std::u16string text;
    for (std::size_t i = 0; i < folders_.size() && i < kHintFolders; ++i) {
        text += i == 0 ? u"" : u", ";
        text += folders_[i];
    }
    if (folders_.size() > kHintFolders) {
        text += u", ...";
    }
    return text;
}

bool TickedFolders::isTicked(std::u16string_view path) const {
    return contains(folders_, path);
}

bool TickedFolders::anyContaining(std::u16string_view path) const {
    return std::any_of(folders_.begin(), folders_.end(), [&](const auto& t) { return inside(path, t); });
}

bool TickedFolders::anyInside(std::u16string_view path) const {
    return std::any_of(folders_.begin(), folders_.end(), [&](const auto& t) { return inside(t, path); });
}

void TickedFolders::removeInside(std::u16string_view path) {
    std::erase_if(folders_, [&](const auto& t) { return inside(t, path); });
}

void TickedFolders::remove(std::u16string_view path) {
    std::erase_if(folders_, [&](const auto& t) { return t == path; });
}

} // namespace tonemirror::shell
