#include "app/frame/CResGenerator.h"

#include "app/AppContext.h"
#include "app/common/CommandIds.h"
#include "app/frame/CommandTable.h"
#include "shell/CTranslator.h"

#include <QAction>
#include <QActionGroup>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>

namespace tonemirror::app {

CResGenerator::CResGenerator(const AppContext& context, CommandTable& commands, CommandImages& images)
    : context_(context), commands_(commands), images_(images) {}

void CResGenerator::addCommand(QMenu* menu, int id) {
    QAction* action = commands_.action(id);
    if (const CommandInfo* info = CommandTable::info(id); info != nullptr && info->image != 0) {
        action->setIcon(images_.icon(info->image));
    }
    menu->addAction(action);
}

QMenu* CResGenerator::addPopup(QMenu* parentMenu, const char16_t* key, const char16_t* text) {
    auto* popup = new QMenu(context_.text(key, text), parentMenu);
    parentMenu->addMenu(popup);
    return popup;
}

void CResGenerator::addLanguages(QMenu* tools) {
    const shell::CTranslator::LanguageList list = context_.translator.languages();
    if (list.names.empty()) {
        return;
    }
    QMenu* languages = addPopup(tools, u"MENU_LANGUAGES", u"Languages");
    auto* group = new QActionGroup(languages);
    const std::size_t count =
        std::min<std::size_t>(list.names.size(), cmd::kLastLanguage - cmd::kFirstLanguage + 1);
    for (std::size_t i = 0; i < count; ++i) {
        QAction* item = languages->addAction(toQString(list.names[i]));
        item->setCheckable(true);
        item->setChecked(i == list.current);
        item->setData(cmd::kFirstLanguage + static_cast<int>(i));
        group->addAction(item);
        QObject::connect(item, &QAction::triggered, languages, [this, item] {
            if (languageChosen) {
                languageChosen(item->text());
            }
        });
    }
}

bool CResGenerator::assignMainMenu(QMainWindow& window) {
    commands_.retranslate(context_);
    auto* bar = new QMenuBar(&window);
    // Popups are built on a holder menu first, then moved to the bar in order.
    QMenu holder;
    QMenu* files = addPopup(&holder, u"MENU_FILES", u"&Files");
    addCommand(files, cmd::kSavePlaylist);
    addCommand(files, cmd::kExportResults);
    files->addSeparator();
    addCommand(files, cmd::kExit);

    QMenu* edit = addPopup(&holder, u"MENU_EDIT", u"&Edit");
    addCommand(edit, cmd::kUndo);
    if (editShown) {
        QObject::connect(edit, &QMenu::aboutToShow, edit, editShown);
    }

    QMenu* scanning = addPopup(&holder, u"MENU_SCANNING", u"&Scanning");
    addCommand(scanning, cmd::kStart);
    addCommand(scanning, cmd::kPause);
    addCommand(scanning, cmd::kStop);
    scanning->addSeparator();
    addCommand(scanning, cmd::kSkippedItems);

    QMenu* tools = addPopup(&holder, u"MENU_TOOLS", u"&Tools");
    addCommand(tools, cmd::kOptions);
    addCommand(tools, cmd::kMarkAllButBest);
    addCommand(tools, cmd::kKeeperRules);
    tools->addSeparator();
    QMenu* folders = addPopup(tools, u"MENU_FOLDERS", u"Folders");
    for (int id = cmd::kViewMediumIcons; id <= cmd::kViewDetails; ++id) {
        addCommand(folders, id);
    }
    QMenu* view = addPopup(tools, u"MENU_VIEW", u"View");
    addCommand(view, cmd::kViewPairs);
    addCommand(view, cmd::kViewGroups);
    view->addSeparator();
    addCommand(view, cmd::kRefresh);
    view->addSeparator();
    addCommand(view, cmd::kToolbar);
    addCommand(view, cmd::kStatusBar);
    addLanguages(tools);

    QMenu* help = addPopup(&holder, u"MENU_HELP", u"&Help");
    addCommand(help, cmd::kCheckUpdates);
    addCommand(help, cmd::kAbout);

    for (QMenu* popup : {files, edit, scanning, tools, help}) {
        popup->setParent(bar, popup->windowFlags());
        bar->addMenu(popup);
    }
    window.setMenuBar(bar); // deletes the previous bar
    return true;
}

} // namespace tonemirror::app
