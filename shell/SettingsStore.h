#pragma once

#include "shell/QuotedList.h"
#include "shell/SettingsDocument.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tonemirror::shell {

// The program's per-user settings: named numbers and texts in one JSON file (see SettingsDocument).
// Every write replaces the file as a whole (temporary file, flushed, renamed over it) under a lock on
// its folder, after reading it again, so values that another running copy wrote meanwhile survive and
// two writers never leave a torn file. A file we cannot read is never overwritten: a damaged one is
// renamed aside first, an unreadable one leaves the store read-only. Used on one thread.
class SettingsStore {
public:
    enum class LoadStatus {
        Missing,    // no file yet: defaults, the first write creates it
        Loaded,     // the file's values
        KeptAside,  // the file was not valid: renamed to keptAsidePath(), defaults
        Unreadable, // the file cannot be read or its folder not created: defaults, writes are lost
    };

    explicit SettingsStore(std::filesystem::path file); // nothing read yet

    // $XDG_CONFIG_HOME/Kestrelwick/Tonemirror.json; ~/.config when that is unset, empty or relative.
    static std::filesystem::path standardFile();

    // Creates the folder when missing and reads the file.
    LoadStatus load();

    const std::filesystem::path& file() const { return file_; }
    const std::filesystem::path& keptAsidePath() const { return keptAside_; }
    bool writable() const { return writable_; }

    // A value of the other type counts as missing.
    std::optional<std::uint32_t> readNumber(std::string_view name) const;
    std::optional<std::u16string> readText(std::string_view name) const;

    // False when the value could not be stored (the caller ignores it; reads keep the old value).
    bool writeNumber(std::string_view name, std::uint32_t value);
    bool writeText(std::string_view name, std::u16string_view value);
    // Several values in one write of the file: `changes` sets them on the current values.
    bool writeAll(const std::function<void(SettingsDocument&)>& changes);

private:
    template <typename Change>
    bool write(const Change& change);

    std::filesystem::path file_;
    std::filesystem::path keptAside_;
    SettingsDocument values_;
    bool writable_ = true;
};

} // namespace tonemirror::shell
