#pragma once

#include "engine/ScanSettings.h"
#include "shell/KeeperRules.h"
#include "shell/SettingsStore.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The program's settings as typed values, each with its default here, read and written through the
// settings store. Front ends use these, never the names of the stored values.
namespace tonemirror::shell {

// The comparison choices (engine::ScanPreferences holds them and their defaults); a value missing
// or of the wrong type gives its default.
engine::ScanPreferences readScanPreferences(const SettingsStore& store);

// The choices of the Options dialog: the comparison and the automatic update check.
struct OptionsPreferences : engine::ScanPreferences {
    bool checkUpdates = true;
};

// Stores what OK in Options chose, in one write of the file. The experimental flag is stored only when
// it differs from `before`, so an untouched flag keeps following its default.
bool writeOptionsPreferences(SettingsStore& store, const OptionsPreferences& chosen,
                             const engine::ScanPreferences& before);

// The automatic update check.
struct UpdatePreferences {
    std::optional<std::uint32_t> checkUpdate; // as stored: on exactly when 1, on when missing
    std::optional<std::uint32_t> lastUpdate;  // seconds since 1970 (UTC) of the last good answer
    bool checkUpdates() const { return checkUpdate.value_or(1) == 1; }
};
UpdatePreferences readUpdatePreferences(const SettingsStore& store);
bool writeLastUpdate(SettingsStore& store, std::uint32_t secondsSince1970);

// The main window, stored when it closes.
struct WindowPreferences {
    // The normal window's edges in screen coordinates; right and bottom are exclusive.
    struct Rect {
        std::int32_t left = 0;
        std::int32_t top = 0;
        std::int32_t right = 0;
        std::int32_t bottom = 0;
        friend bool operator==(const Rect&, const Rect&) = default;
    };
    bool showToolbar = true;
    bool showStatusBar = true;
    // Present only when all four edges and the maximised flag were stored and the rectangle is not empty.
    std::optional<Rect> placement;
    bool maximized = false;
};
WindowPreferences readWindowPreferences(const SettingsStore& store);
// Writes the bars and, when present, the placement, in one write of the file.
bool writeWindowPreferences(SettingsStore& store, const WindowPreferences& window);

// The interface language's name; missing means English.
std::optional<std::u16string> readLanguage(const SettingsStore& store);
bool writeLanguage(SettingsStore& store, std::u16string_view name);

// What decides the copy kept in each group of results: the keeper rules (the default order when
// missing or unreadable) and the reference folders, whose files are never marked.
struct KeeperPreferences {
    KeeperRules rules;
    std::vector<std::u16string> referenceFolders;
};
KeeperPreferences readKeeperPreferences(const SettingsStore& store);

// The folders ticked when the last scan started, in tick order.
std::vector<std::u16string> readScanFolders(const SettingsStore& store);
bool writeScanFolders(SettingsStore& store, const std::vector<std::u16string>& folders);

// The order in which the keeper rules weigh the copies of a song; the default order when missing
// or unreadable.
KeeperRules readKeeperRules(const SettingsStore& store);
bool writeKeeperRules(SettingsStore& store, const KeeperRules& rules);

// The reference folders, full paths: their files are kept and never marked or acted on.
std::vector<std::u16string> readReferenceFolders(const SettingsStore& store);
bool writeReferenceFolders(SettingsStore& store, const std::vector<std::u16string>& folders);

} // namespace tonemirror::shell
