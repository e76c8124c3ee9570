#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tonemirror::shell {

// The folders the user chose as references: their files, and those of every folder below them,
// are the copies to keep and are never marked or acted on.
class ReferenceFolders {
public:
    ReferenceFolders() = default;
    explicit ReferenceFolders(std::vector<std::u16string> folders);

    const std::vector<std::u16string>& folders() const { return folders_; }
    // Chosen itself.
    bool isChosen(std::u16string_view folder) const;
    // Chosen itself or lying below a chosen folder.
    bool covers(std::u16string_view path) const;
    // Chooses or drops one folder; a trailing separator is not part of the name. false when
    // nothing changed.
    bool set(std::u16string_view folder, bool chosen);

private:
    std::vector<std::u16string> folders_;
};

} // namespace tonemirror::shell
