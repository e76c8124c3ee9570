#include "app/frame/CMainFrame.h"

#include "app/AppContext.h"
#include "app/Prompts.h"
#include "app/Resources.h"
#include "app/common/CommandIds.h"
#include "app/common/FileJournal.h"
#include "app/dialogs/CAboutDlg.h"
#include "app/dialogs/CKeeperRulesDlg.h"
#include "app/dialogs/COptionsDlg.h"
#include "app/dialogs/CSkippedItemsDlg.h"
#include "app/dialogs/UpdateWorkflow.h"
#include "app/folders/CFoldersView.h"
#include "app/frame/CResGenerator.h"
#include "app/frame/EngineBridge.h"
#include "app/frame/ScanCommandState.h"
#include "app/frame/StatusPanes.h"
#include "app/frame/WindowPlacement.h"
#include "app/results/CResultsPage.h"
#include "engine/ScanEngine.h"
#include "engine/TrackStore.h"
#include "engine/WorkerPool.h"
#include "platform/os/ErrorReport.h"
#include "platform/os/Paths.h"
#include "shell/ActionJournal.h"
#include "shell/CTranslator.h"
#include "shell/Preferences.h"
#include "shell/SettingsStore.h"

#include <QAction>
#include <QCloseEvent>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTabWidget>
#include <QToolBar>

namespace tonemirror::app {

namespace {

constexpr int kIdleIntervalMs = 100; // progress and command states between messages
constexpr int kFoldersPage = 0;
constexpr int kResultsPage = 1;
constexpr int kExperimentalWidthAfterOptions = 100; // the list makes the column 80 wide

} // namespace

CMainFrame::CMainFrame(AppContext& context, EngineBridge& bridge, shell::UpdateServer updateServer)
    : context_(context), bridge_(bridge), updateServer_(std::move(updateServer)),
      version_(shell::programVersion()) {
    loadImages();
    setObjectName(QStringLiteral("Tonemirror:MainFrame"));
    openSettings();
    applyStoredLanguage();
    setWindowTitle(
        QStringLiteral("Tonemirror %1.%2 (beta)").arg(version_.packed >> 16).arg(version_.packed & 0xFFFFu));
    commands_ = new CommandTable(this);
    menus_ = std::make_unique<CResGenerator>(context_, *commands_, images_);
    menus_->languageChosen = [this](const QString& name) { switchLanguage(name); };
    menus_->editShown = [this] { refreshUndo(); };
    updates_ = new UpdateWorkflow(context_, version_, updateServer_, this);
}

CMainFrame::~CMainFrame() {
    shutdownEngine();
}

void CMainFrame::openSettings() {
    const shell::SettingsStore::LoadStatus status = context_.settings.load();
    if (status != shell::SettingsStore::LoadStatus::KeptAside &&
        status != shell::SettingsStore::LoadStatus::Unreadable) {
        return;
    }
    QString text =
        QStringLiteral("Can't access settings\n") + QString::fromStdString(context_.settings.file().string());
    if (status == shell::SettingsStore::LoadStatus::KeptAside) {
        text += QStringLiteral("\n\nThe file was damaged and has been kept as\n") +
                QString::fromStdString(context_.settings.keptAsidePath().string()) +
                QStringLiteral("\nThe program runs with default settings.");
    }
    context_.prompts.warning(nullptr, QStringLiteral("Warning"), text);
}

void CMainFrame::applyStoredLanguage() {
    if (const auto language = shell::readLanguage(context_.settings)) {
        context_.translator.selectLanguage(*language); // English stays when it is gone
    }
    applyQtLanguage();
}

// Each language file names the locale of Qt's own texts for it; a file without one leaves them English.
void CMainFrame::applyQtLanguage() {
    qtTexts_.apply(context_.text(u"LOCALE", u"en").trimmed());
}

// A prompt shown while the pointer was over a menu item or tool button stays until something
// clears it; the counts come back once the menu closes or the command has run.
void CMainFrame::watchMenuPrompts() {
    for (QMenu* menu : menuBar()->findChildren<QMenu*>()) {
        connect(menu, &QMenu::aboutToHide, statusBar(), &QStatusBar::clearMessage);
    }
}

bool CMainFrame::create() {
    if (!menus_->assignMainMenu(*this)) {
        os::reportError("CMainFrame::OnCreate", 169, -1);
        return false;
    }
    watchMenuPrompts();
    readComparisonSettings();
    createToolBar();
    createStatusBar();
    createPages();
    if (!context_.engine.settings().accurate.load()) {
        results_->setExperimentalColumnVisible(false);
    }
    applyBarVisibility();
    connectCommands();
    refreshScanCommands();
    openStores();
    recoverFiles(context_, this); // a clean-up cut short by a kill is finished before anything else
    watchJournal();
    refreshStatus();
    folders_->setInitialPaneSizes();
    connect(&idle_, &QTimer::timeout, this, &CMainFrame::onIdle);
    idle_.start(kIdleIntervalMs);
    connect(&bridge_, &EngineBridge::messageArrived, this, &CMainFrame::onEngineMessage);
    context_.engine.createPool();
    updates_->startAutomaticCheck();
    return true;
}

void CMainFrame::readComparisonSettings() {
    context_.engine.settings().assign(shell::readScanPreferences(context_.settings));
}

void CMainFrame::createToolBar() {
    toolBar_ = new QToolBar(this);
    toolBar_->setObjectName(QStringLiteral("ToolBar"));
    toolBar_->setMovable(false);
    toolBar_->setFloatable(false);
    toolBar_->setIconSize(QSize(24, 24));
    toolBar_->toggleViewAction()->setVisible(false); // the View menu has its own item
    const int buttons[] = {cmd::kStart, cmd::kPause,   cmd::kStop, 0,          cmd::kSavePlaylist,
                           0,           cmd::kOptions, 0,          cmd::kAbout};
    for (const int id : buttons) {
        if (id == 0) {
            toolBar_->addSeparator();
            continue;
        }
        QAction* command = commands_->action(id);
        command->setIcon(images_.icon(CommandTable::info(id)->image));
        toolBar_->addAction(command);
    }
    addToolBar(Qt::TopToolBarArea, toolBar_);
}

void CMainFrame::createStatusBar() {
    status_ = new StatusPanes(context_, *statusBar());
}

void CMainFrame::createPages() {
    tabs_ = new QTabWidget(this);
    tabs_->setObjectName(QStringLiteral("CSuperTab"));
    folders_ = new CFoldersView(context_, tabs_);
    results_ = new CResultsPage(context_, tabs_);
    results_->restoreLayout();
    tabs_->addTab(folders_, context_.text(u"FOLDERS", u"Folders"));
    tabs_->addTab(results_, context_.text(u"RESULTS", u"Results"));
    tabs_->setCurrentIndex(kFoldersPage);
    setCentralWidget(tabs_);
    folders_->setTickedFolders(shell::readScanFolders(context_.settings));
    connect(results_, &CResultsPage::rowsChanged, this, &CMainFrame::refreshStatus);
    // The Files menu's and the tool bar's commands on the results, the Tools > Folders view modes.
    results_->useFileCommands(commands_->action(cmd::kSavePlaylist), commands_->action(cmd::kExportResults));
    results_->useGroupCommands(commands_->action(cmd::kViewPairs), commands_->action(cmd::kViewGroups),
                               commands_->action(cmd::kMarkAllButBest));
    std::vector<QAction*> views;
    for (int id = cmd::kViewMediumIcons; id <= cmd::kViewDetails; ++id) {
        views.push_back(commands_->action(id));
    }
    folders_->useViewCommands(views);
}

void CMainFrame::applyBarVisibility() {
    const shell::WindowPreferences window = shell::readWindowPreferences(context_.settings);
    toolBar_->setVisible(window.showToolbar);
    statusBar()->setVisible(window.showStatusBar);
    commands_->action(cmd::kToolbar)->setChecked(window.showToolbar);
    commands_->action(cmd::kStatusBar)->setChecked(window.showStatusBar);
}

void CMainFrame::openStores() {
    if (context_.store.openCache() < 0) {
        context_.prompts.error(this, QStringLiteral("Error"), QStringLiteral("Can't open cache file"));
    }
    context_.store.loadIgnoreList();
}

void CMainFrame::connectCommands() {
    connect(commands_, &CommandTable::triggered, this, &CMainFrame::runCommand);
    QAction* refresh = commands_->action(cmd::kRefresh);
    refresh->setShortcut(QKeySequence(Qt::Key_F5));
    addAction(refresh); // F5 works wherever the focus is, the menu closed
    QAction* undo = commands_->action(cmd::kUndo);
    undo->setShortcut(QKeySequence::Undo); // a text field with focus still undoes its own typing first
    addAction(undo);
}

void CMainFrame::watchJournal() {
    journalWatch_ = new QFileSystemWatcher(this);
    const QString folder = toQString(os::fromNativeName(shell::ActionJournal::standardFolder().native()));
    if (QFileInfo(folder).isDir()) {
        journalWatch_->addPath(folder);
    }
    connect(journalWatch_, &QFileSystemWatcher::directoryChanged, this, &CMainFrame::refreshUndo);
    refreshUndo();
}

void CMainFrame::refreshUndo() {
    commands_->action(cmd::kUndo)->setEnabled(canUndoFiles());
}

void CMainFrame::undoFiles() {
    undoLastFiles(context_, this);
    refreshUndo();
}

void CMainFrame::runCommand(int id) {
    statusBar()->clearMessage(); // the command's prompt has done its work
    switch (id) {
    case cmd::kStart:
        startScan();
        return;
    case cmd::kPause:
        context_.engine.togglePause();
        refreshScanCommands();
        return;
    case cmd::kStop:
        context_.engine.requestStop();
        refreshScanCommands();
        return;
    case cmd::kSkippedItems:
        showSkippedItems();
        return;
    case cmd::kExit:
        close();
        return;
    case cmd::kOptions:
        showOptions();
        return;
    case cmd::kCheckUpdates:
        updates_->showDialog(0);
        return;
    case cmd::kAbout:
        showAbout();
        return;
    case cmd::kToolbar:
        toggleBar(toolBar_, id);
        return;
    case cmd::kStatusBar:
        toggleBar(statusBar(), id);
        return;
    case cmd::kRefresh:
        folders_->refresh();
        return;
    case cmd::kUndo:
        undoFiles();
        return;
    case cmd::kKeeperRules:
        editKeeperRules(context_, this);
        return;
    default:
        break; // the pages run their own
    }
}

void CMainFrame::startScan() {
    const std::vector<std::u16string>& folders = folders_->tickedFolders();
    if (folders.empty()) {
        // A scan of nothing would end at once and look like a library without duplicates.
        context_.prompts.information(this, context_.text(u"INFORMATION", u"Information"),
                                     context_.text(u"NO_FOLDER_TICKED",
                                                   u"No folder is ticked. Tick the folders "
                                                   u"to scan on the Folders page, then "
                                                   u"press Start."));
        return;
    }
    shell::writeScanFolders(context_.settings, folders);
    context_.engine.startScan(folders);
    refreshScanCommands();
}

void CMainFrame::refreshScanCommands() {
    const engine::ScanControl& control = context_.engine.control();
    const ScanCommandState state =
        scanCommandState(control.isStopped(), control.jobCount(), control.isRunning());
    commands_->action(cmd::kStart)->setEnabled(state.startEnabled);
    commands_->action(cmd::kPause)->setEnabled(state.pauseEnabled);
    commands_->action(cmd::kPause)->setChecked(state.pauseChecked);
    commands_->action(cmd::kStop)->setEnabled(state.stopEnabled);
}

void CMainFrame::refreshStatus() {
    const int rows = results_->rowCount();
    const engine::ScanEngine::Counters counters = context_.engine.counters();
    status_->refresh(rows, counters);
    commands_->action(cmd::kSkippedItems)->setEnabled(counters.itemsSkipped > 0);
    commands_->action(cmd::kSavePlaylist)->setEnabled(rows > 0);
    commands_->action(cmd::kExportResults)->setEnabled(rows > 0);
    QString caption = context_.text(u"RESULTS", u"Results");
    if (rows > 0) {
        caption += QStringLiteral(" (%1)").arg(rows);
    }
    tabs_->setTabText(kResultsPage, caption);
    refreshProgressTip();
}

void CMainFrame::onIdle() {
    status_->refreshProgress(context_.engine.counters());
    refreshProgressTip();
    refreshScanCommands();
}

// While a scan runs: the file being read and about how long is left, on the progress pane.
void CMainFrame::refreshProgressTip() {
    const bool scanning = context_.engine.control().jobCount() > 0;
    status_->refreshProgressTip(scanning ? context_.engine.progress() : engine::ScanEngine::Progress{},
                                scanning);
}

void CMainFrame::onEngineMessage(quint32 message) {
    switch (message) {
    case engine::UM_PAIRS_PENDING:
    case engine::UM_SCORES_PENDING:
        results_->addResults(context_.engine.takePendingResults());
        break;
    case engine::UM_RESULTS_RESET:
        results_->clearRows();
        break;
    case engine::UM_FILE_DONE:
        break;
    case engine::UM_SCAN_STATE:
        refreshScanCommands();
        if (context_.engine.control().jobCount() == 0) {
            results_->scanEnded();
        }
        break;
    default:
        return;
    }
    refreshStatus();
}

void CMainFrame::showSkippedItems() {
    const engine::ScanEngine::Counters counters = context_.engine.counters();
    CSkippedItemsDlg dialog(context_, context_.engine.skippedItems(), counters.itemsSkipped, this);
    dialog.exec();
}

void CMainFrame::toggleBar(QWidget* bar, int command) {
    bar->setVisible(bar->isHidden());
    commands_->action(command)->setChecked(!bar->isHidden());
}

void CMainFrame::showOptions() {
    OptionsValues values;
    static_cast<engine::ScanPreferences&>(values) = context_.engine.settings().preferences();
    values.checkUpdates = updates_->checkUpdates();
    const auto confirm = [this] {
        return context_.prompts.question(this, context_.text(u"QUESTION", u"Question"), clearCacheQuestion());
    };
    std::function<void()> clear;
    if (context_.engine.control().jobCount() <= 0) { // the table must not change under a scan
        clear = [this] {
            context_.engine.clearCache();
            context_.store.saveIgnoreList(); // emptied on disk at once, as every change of the list
        };
    }
    COptionsDlg dialog(values, confirm, clear, this);
    if (dialog.exec() == QDialog::Accepted) {
        applyOptions(dialog.values());
    }
    refreshStatus();
}

QString CMainFrame::clearCacheQuestion() const {
    return context_.text(u"CLEAR_CACHE", u"Clear internal cache ?") + QStringLiteral("\n\n") +
           context_.text(u"CLEAR_CACHE_IGNORES", u"The list of ignored pairs is emptied too.");
}

void CMainFrame::applyOptions(const OptionsValues& values) {
    engine::ScanSettings& settings = context_.engine.settings();
    const engine::ScanPreferences before = settings.preferences();
    updates_->setCheckUpdates(values.checkUpdates);
    settings.assign(values);
    shell::writeOptionsPreferences(context_.settings, values, before);
    if (values.accurate != before.accurate) {
        results_->setExperimentalColumnVisible(values.accurate, kExperimentalWidthAfterOptions);
    }
}

void CMainFrame::switchLanguage(const QString& name) {
    const QString chosen = name.left(1023);
    shell::writeLanguage(context_.settings, toU16(chosen));
    context_.translator.selectLanguage(toU16(chosen));
    applyQtLanguage();
    menus_->assignMainMenu(*this);
    watchMenuPrompts();
    statusBar()->clearMessage();
    tabs_->setTabText(kFoldersPage, context_.text(u"FOLDERS", u"Folders"));
    refreshStatus(); // the panes, the Results tab's count and the tool tips in the new language
    // Posted, as the pages re-read their texts after this command has finished.
    QMetaObject::invokeMethod(folders_, &CFoldersView::retranslate, Qt::QueuedConnection);
    QMetaObject::invokeMethod(results_, &CResultsPage::retranslate, Qt::QueuedConnection);
}

void CMainFrame::showAbout() {
    CAboutDlg dialog(context_, version_, this);
    dialog.exec();
}

void CMainFrame::showAtStoredPlacement() {
    showAtPlacement(*this, shell::readWindowPreferences(context_.settings));
}

void CMainFrame::storePlacement() {
    shell::WindowPreferences window;
    takePlacement(*this, window);
    window.showToolbar = !toolBar_->isHidden();
    window.showStatusBar = !statusBar()->isHidden();
    shell::writeWindowPreferences(context_.settings, window);
    results_->storeLayout();
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    if (toolBar_ != nullptr) {
        storePlacement();
    }
    shutdownEngine();
    event->accept();
}

void CMainFrame::shutdownEngine() {
    if (engineShutDown_) {
        return;
    }
    engineShutDown_ = true;
    idle_.stop();
    context_.engine.requestStop();
    context_.store.saveIgnoreList();
    context_.engine.shutdown(engine::WorkerPool::kInfiniteWait);
}

} // namespace tonemirror::app
