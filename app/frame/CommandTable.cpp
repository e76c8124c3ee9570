#include "app/frame/CommandTable.h"

#include "app/AppContext.h"
#include "app/common/CommandIds.h"

#include <QAction>
#include <QIcon>

namespace tonemirror::app {

const std::vector<CommandInfo>& CommandTable::commands() {
    static const std::vector<CommandInfo> table{
        {cmd::kStart, u"MENU_START", u"St&art", u"PROMPT_START", u"Start scanning", u"Start scanning",
         u"TIP_START", 231, false},
        {cmd::kPause, u"MENU_PAUSE", u"&Pause", u"PROMPT_PAUSE", u"Pause scanning", u"Pause scanning",
         u"TIP_PAUSE", 232, true},
        {cmd::kStop, u"MENU_STOP", u"Sto&p", u"PROMPT_STOP", u"Stop scanning", u"Stop scanning", u"TIP_STOP",
         234, false},
        {cmd::kSavePlaylist, u"MENU_SAVE_PLAYLIST", u"Save &playlist", u"PROMPT_SAVE_PLAYLIST",
         u"Save playlist", u"Save playlist", u"TIP_SAVE_PLAYLIST", 236, false},
        {cmd::kExportResults, u"MENU_EXPORT_RESULTS", u"&Export results...", u"PROMPT_EXPORT_RESULTS",
         u"Save the results as a CSV or JSON file", nullptr, nullptr, 0, false},
        {cmd::kSkippedItems, u"MENU_SKIPPED_ITEMS", u"S&kipped items...", u"PROMPT_SKIPPED_ITEMS",
         u"Show what the last scan left out and why", nullptr, nullptr, 0, false},
        {cmd::kExit, u"MENU_EXIT", u"Exit", u"PROMPT_EXIT", u"Quit the application", nullptr, nullptr, 0,
         false},
        {cmd::kUndo, u"MENU_UNDO", u"&Undo", u"PROMPT_UNDO",
         u"Put back the files of the last delete, move or link", nullptr, nullptr, 0, false},
        {cmd::kOptions, u"MENU_OPTIONS", u"Options", u"PROMPT_OPTIONS", u"Options", u"Options",
         u"TIP_OPTIONS", 237, false},
        {cmd::kKeeperRules, u"MENU_KEEPER_RULES", u"&Keeper rules...", u"PROMPT_KEEPER_RULES",
         u"Choose the order in which the copies of a song are weighed to pick the one to keep", nullptr,
         nullptr, 0, false},
        {cmd::kViewMediumIcons, u"VIEW_MEDIUM_ICONS", u"Medium icons", u"PROMPT_VIEW_MEDIUM_ICONS",
         u"Folders: Displays items using medium thumbnails.", nullptr, nullptr, 0, false},
        {cmd::kViewSmallIcons, u"VIEW_SMALL_ICONS", u"Small icons", u"PROMPT_VIEW_SMALL_ICONS",
         u"Folders: Displays items using small thumbnails.", nullptr, nullptr, 0, false},
        {cmd::kViewList, u"VIEW_LIST", u"List", u"PROMPT_VIEW_LIST", u"Folders: Displays items in a list.",
         nullptr, nullptr, 0, false},
        {cmd::kViewDetails, u"VIEW_DETAILS", u"Details", u"PROMPT_VIEW_DETAILS",
         u"Folders: Displays information about each item in the window.", nullptr, nullptr, 0, false},
        {cmd::kRefresh, u"MENU_REFRESH", u"&Refresh", u"PROMPT_REFRESH",
         u"List the folders and files of the Folders page again", nullptr, nullptr, 0, false},
        {cmd::kViewPairs, u"MENU_VIEW_PAIRS", u"&Pairs", u"PROMPT_VIEW_PAIRS",
         u"Results: one row for each pair of files", nullptr, nullptr, 0, true},
        {cmd::kViewGroups, u"MENU_VIEW_GROUPS", u"&Groups", u"PROMPT_VIEW_GROUPS",
         u"Results: one row for each group of copies, the copy to keep first", nullptr, nullptr, 0, true},
        {cmd::kMarkAllButBest, u"MENU_MARK_ALL_BUT_BEST", u"&Mark all but the best...",
         u"PROMPT_MARK_ALL_BUT_BEST", u"Results: mark the copies of the best file of each group", nullptr,
         nullptr, 0, false},
        {cmd::kToolbar, u"MENU_TOOLBAR", u"&Toolbar", u"PROMPT_TOOLBAR", u"Show or hide the toolbar", nullptr,
         nullptr, 0, true},
        {cmd::kStatusBar, u"MENU_STATUS_BAR", u"&Status Bar", u"PROMPT_STATUS_BAR",
         u"Show or hide the status bar", nullptr, nullptr, 0, true},
        {cmd::kCheckUpdates, u"MENU_CHECK_UPDATES", u"Check for &update", u"PROMPT_CHECK_UPDATES",
         u"Check for updates via Internet", nullptr, nullptr, 0, false},
        {cmd::kAbout, u"MENU_ABOUT", u"About Tonemirror...", u"PROMPT_ABOUT",
         u"Display program information, version number and copyright", u"About Tonemirror", u"TIP_ABOUT", 238,
         false},
    };
    return table;
}

const CommandInfo* CommandTable::info(int id) {
    for (const CommandInfo& command : commands()) {
        if (command.id == id) {
            return &command;
        }
    }
    return nullptr;
}

CommandTable::CommandTable(QObject* parent) : QObject(parent) {
    for (const CommandInfo& command : commands()) {
        auto* action = new QAction(this);
        action->setCheckable(command.checkable);
        action->setData(command.id);
        const int id = command.id;
        connect(action, &QAction::triggered, this, [this, id] { emit triggered(id); });
        actions_.insert(command.id, action);
    }
}

void CommandTable::retranslate(const AppContext& context) {
    for (const CommandInfo& command : commands()) {
        QAction* action = actions_.value(command.id);
        action->setText(context.text(command.key, command.text));
        action->setStatusTip(context.text(command.promptKey, command.prompt));
        if (command.toolTip != nullptr) {
            action->setToolTip(context.text(command.toolTipKey, command.toolTip));
        }
    }
}

QIcon CommandImages::icon(int image) {
    if (const auto found = cache_.constFind(image); found != cache_.constEnd()) {
        return *found;
    }
    static const QHash<int, QString> files{
        {231, QStringLiteral(":/images/start.svg")},   {232, QStringLiteral(":/images/pause.svg")},
        {234, QStringLiteral(":/images/stop.svg")},    {236, QStringLiteral(":/images/save-playlist.svg")},
        {237, QStringLiteral(":/images/options.svg")}, {238, QStringLiteral(":/images/about.svg")},
    };
    const QString file = files.value(image);
    if (file.isEmpty()) {
        return {};
    }
    ++loads_;
    QIcon icon(file);
    cache_.insert(image, icon);
    return icon;
}

} // namespace tonemirror::app
