#pragma once

#include <QHash>
#include <QIcon>
#include <QObject>

#include <vector>

class QAction;

namespace tonemirror::app {

struct AppContext;

// One command of the menus and the tool bar.
struct CommandInfo {
    int id;
    const char16_t* key;       // translation key of the menu text
    const char16_t* text;      // English menu text ("&" marks the access key)
    const char16_t* promptKey; // status-bar prompt while the item is highlighted
    const char16_t* prompt;
    const char16_t* toolTip; // tool-bar tool tip (English; translated through tipKey)
    const char16_t* toolTipKey;
    int image; // image number (231 start ... 238 about), 0 for none
    bool checkable;
};

// The program's commands as persistent actions, shared by the menu bar (rebuilt on every language
// switch) and the tool bar. Every action reports its command number through `triggered`.
class CommandTable : public QObject {
    Q_OBJECT
public:
    explicit CommandTable(QObject* parent = nullptr);

    static const std::vector<CommandInfo>& commands();
    static const CommandInfo* info(int id);

    QAction* action(int id) const { return actions_.value(id, nullptr); }
    // Sets every action's text, prompt and tool tip in the current language.
    void retranslate(const AppContext& context);

    Q_SIGNAL void triggered(int id);

private:
    QHash<int, QAction*> actions_;
};

// The image of a command number (231 start, 232 pause, 234 stop, 236 save playlist, 237 options,
// 238 about), loaded once and kept; a null icon for any other number.
class CommandImages {
public:
    QIcon icon(int image);
    int loads() const { return loads_; }

private:
    QHash<int, QIcon> cache_;
    int loads_ = 0;
};

} // namespace tonemirror::app
