#pragma once

#include <QString>

#include <string>
#include <string_view>

namespace tonemirror {
namespace shell {
class CTranslator;
class SettingsStore;
} // namespace shell
namespace audio {
class PluginList;
}
namespace engine {
class ScanEngine;
class TrackStore;
} // namespace engine
} // namespace tonemirror

namespace tonemirror::app {

class Prompts;

// The program-wide objects the windows work with. main() (or a test) owns them and hands this
// bundle down; no window keeps a global.
struct AppContext {
    shell::SettingsStore& settings;
    shell::CTranslator& translator;
    const audio::PluginList& plugins;
    engine::TrackStore& store;
    engine::ScanEngine& engine;
    Prompts& prompts;

    // The user-interface text for a key in the current language, else the English default.
    QString text(const char16_t* key, std::u16string_view english) const;
};

QString toQString(std::u16string_view text);
// A file name or path as a window shows it: bytes that are not UTF-8 written as \xE9, never as a
// replacement mark. For display only; the file itself goes by its real name.
QString windowName(std::u16string_view name);
std::u16string toU16(const QString& text);

} // namespace tonemirror::app
