#pragma once

#include <QString>

#include <functional>

class QMainWindow;
class QMenu;
class QWidget;

namespace tonemirror::app {

struct AppContext;
class CommandImages;
class CommandTable;

// Builds the menus in code so that every text passes through the translator; the menu bar is
// rebuilt after each language switch. Actions come from the command table, so the tool bar and the
// menu share their enabled and checked states.
class CResGenerator {
public:
    CResGenerator(const AppContext& context, CommandTable& commands, CommandImages& images);

    // Replaces the window's menu bar with a new one in the current language. Each item of the
    // Languages submenu carries its position in `data` (command kFirstLanguage + position) and the
    // language name as its text; `languageChosen` receives the name.
    bool assignMainMenu(QMainWindow& window);

    // Called with the chosen language's name.
    std::function<void(const QString&)> languageChosen;
    // Called before the Edit menu opens (its items' states are brought up to date there).
    std::function<void()> editShown;

private:
    QMenu* addPopup(QMenu* parentMenu, const char16_t* key, const char16_t* text);
    void addCommand(QMenu* menu, int id);
    void addLanguages(QMenu* tools);

    const AppContext& context_;
    CommandTable& commands_;
    CommandImages& images_;
};

} // namespace tonemirror::app
