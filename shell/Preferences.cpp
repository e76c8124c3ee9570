#include "shell/Preferences.h"

#include "shell/QuotedList.h"
#include "shell/SettingNames.h"

namespace tonemirror::shell {

namespace {

namespace names = settings;

std::uint32_t flag(bool value) {
    return value ? 1u : 0u;
}

float storedThreshold(const SettingsStore& store, std::string_view name, float fallback) {
    const auto percent = store.readNumber(name);
    return percent ? engine::thresholdFromPercent(*percent) : fallback;
}

} // namespace

engine::ScanPreferences readScanPreferences(const SettingsStore& store) {
    engine::ScanPreferences values;
    if (const auto method = store.readNumber(names::kCompareMethod)) {
        values.compareMethod = engine::ScanSettings::normalisedMethod(static_cast<std::int32_t>(*method));
    }
    values.accurate = store.readNumber(names::kAccurate).value_or(flag(values.accurate)) != 0;
    values.contentThreshold = storedThreshold(store, names::kSensitivityContent, values.contentThreshold);
    values.tagsThreshold = storedThreshold(store, names::kSensitivityTags, values.tagsThreshold);
    values.verifyMatches = store.readNumber(names::kVerifyMatches).value_or(flag(values.verifyMatches)) != 0;
    values.acousticThreshold = storedThreshold(store, names::kSensitivityAcoustic, values.acousticThreshold);
    return values;
}

bool writeOptionsPreferences(SettingsStore& store, const OptionsPreferences& chosen,
                             const engine::ScanPreferences& before) {
    const engine::ScanPreferences& scan = chosen;
    return store.writeAll([&](SettingsDocument& document) {
        document.setNumber(names::kCheckUpdate, flag(chosen.checkUpdates));
        document.setNumber(names::kCompareMethod, static_cast<std::uint32_t>(scan.compareMethod));
        if (scan.accurate != before.accurate) {
            document.setNumber(names::kAccurate, flag(scan.accurate));
        }
        document.setNumber(names::kSensitivityContent, engine::percentFromThreshold(scan.contentThreshold));
        document.setNumber(names::kSensitivityTags, engine::percentFromThreshold(scan.tagsThreshold));
        document.setNumber(names::kVerifyMatches, flag(scan.verifyMatches));
        document.setNumber(names::kSensitivityAcoustic, engine::percentFromThreshold(scan.acousticThreshold));
    });
}

UpdatePreferences readUpdatePreferences(const SettingsStore& store) {
    return {store.readNumber(names::kCheckUpdate), store.readNumber(names::kLastUpdate)};
}

bool writeLastUpdate(SettingsStore& store, std::uint32_t secondsSince1970) {
    return store.writeNumber(names::kLastUpdate, secondsSince1970);
}

WindowPreferences readWindowPreferences(const SettingsStore& store) {
    WindowPreferences window;
    window.showToolbar = store.readNumber(names::kShowToolbar).value_or(1) != 0;
    window.showStatusBar = store.readNumber(names::kShowStatusBar).value_or(1) != 0;
    const auto left = store.readNumber(names::kWindowLeft);
    const auto top = store.readNumber(names::kWindowTop);
    const auto right = store.readNumber(names::kWindowRight);
    const auto bottom = store.readNumber(names::kWindowBottom);
    const auto maximized = store.readNumber(names::kWindowMaximized);
    if (!left || !top || !right || !bottom || !maximized) {
        return window;
    }
    // Signed screen coordinates stored in 32-bit numbers.
    const WindowPreferences::Rect rect{static_cast<std::int32_t>(*left), static_cast<std::int32_t>(*top),
                                       static_cast<std::int32_t>(*right), static_cast<std::int32_t>(*bottom)};
    if (rect.right > rect.left && rect.bottom > rect.top) {
        window.placement = rect;
        window.maximized = *maximized == 1;
    }
    return window;
}

bool writeWindowPreferences(SettingsStore& store, const WindowPreferences& window) {
    return store.writeAll([&](SettingsDocument& document) {
        if (window.placement) {
            const WindowPreferences::Rect& rect = *window.placement;
            document.setNumber(names::kWindowMaximized, flag(window.maximized));
            document.setNumber(names::kWindowLeft, static_cast<std::uint32_t>(rect.left));
            document.setNumber(names::kWindowRight, static_cast<std::uint32_t>(rect.right));
            document.setNumber(names::kWindowTop, static_cast<std::uint32_t>(rect.top));
            document.setNumber(names::kWindowBottom, static_cast<std::uint32_t>(rect.bottom));
        }
        document.setNumber(names::kShowToolbar, flag(window.showToolbar));
        document.setNumber(names::kShowStatusBar, flag(window.showStatusBar));
    });
}

std::optional<std::u16string> readLanguage(const SettingsStore& store) {
    return store.readText(names::kLanguage);
}

bool writeLanguage(SettingsStore& store, std::u16string_view name) {
    return store.writeText(names::kLanguage, name);
}

KeeperPreferences readKeeperPreferences(const SettingsStore& store) {
    return KeeperPreferences{readKeeperRules(store), readReferenceFolders(store)};
}

std::vector<std::u16string> readScanFolders(const SettingsStore& store) {
    return parseQuotedList(store.readText(names::kFolders).value_or(std::u16string()));
}

bool writeScanFolders(SettingsStore& store, const std::vector<std::u16string>& folders) {
    return store.writeText(names::kFolders, formatQuotedList(folders));
}

KeeperRules readKeeperRules(const SettingsStore& store) {
    const std::u16string stored = store.readText(names::kKeeperRules).value_or(std::u16string());
    std::string text;
    for (const char16_t c : stored) {
        if (c > 0x7F) {
            return KeeperRules(); // criteria names are ASCII: anything else is no stored order
        }
        text += static_cast<char>(c);
    }
    return KeeperRules::parse(text).value_or(KeeperRules());
}

bool writeKeeperRules(SettingsStore& store, const KeeperRules& rules) {
    const std::string text = rules.text();
    return store.writeText(names::kKeeperRules, std::u16string(text.begin(), text.end()));
}

std::vector<std::u16string> readReferenceFolders(const SettingsStore& store) {
    return parseQuotedList(store.readText(names::kReferenceFolders).value_or(std::u16string()));
}

bool writeReferenceFolders(SettingsStore& store, const std::vector<std::u16string>& folders) {
    return store.writeText(names::kReferenceFolders, formatQuotedList(folders));
}

} // namespace tonemirror::shell
