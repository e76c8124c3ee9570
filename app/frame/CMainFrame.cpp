#include "app/frame/CMainFrame.h"

#include "app/AppContext.h"
#include "app/Prompts.h"
#include "app/Resources.h"
#include "app/dialogs/CAboutDlg.h"
#include "app/dialogs/COptionsDlg.h"
#include "app/dialogs/CSkippedItemsDlg.h"
#include "app/dialogs/CUpdateDlg.h"
#include "app/dialogs/UpdateChecker.h"
#include "app/folders/CFoldersView.h"
#include "app/frame/CResGenerator.h"
#include "app/frame/CommandIds.h"
#include "app/frame/EngineBridge.h"
#include "app/frame/ProgressPane.h"
#include "app/frame/ScanCommandState.h"
#include "app/frame/WindowPlacement.h"
#include "app/results/CResultsPage.h"
#include "engine/ScanEngine.h"
#include "engine/TrackStore.h"
#include "engine/WorkerPool.h"
#include "platform/os/ErrorReport.h"
#include "shell/CTranslator.h"
#include "shell/ResultCells.h"
#include "shell/SettingNames.h"
#include "shell/SettingsStore.h"

#include <QAction>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QTabWidget>
#include <QToolBar>

#include <algorithm>
#include <ctime>

namespace tonemirror::app {

namespace {

constexpr int kIdleIntervalMs = 100; // progress and command states between messages
constexpr int kFoldersPage = 0;
constexpr int kResultsPage = 1;
constexpr int kExperimentalWidthAfterOptions = 100; // the list makes the column 80 wide

std::uint32_t flag(bool value) {
    return value ? 1u : 0u;
}

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
    updates_ = new UpdateChecker(updateServer_, this);
    connect(updates_, &UpdateChecker::finished, this, &CMainFrame::onUpdateResult);
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
    if (const auto language = context_.settings.readText("Language")) {
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
    refreshStatus();
    folders_->setInitialPaneSizes();
    connect(&idle_, &QTimer::timeout, this, &CMainFrame::onIdle);
    idle_.start(kIdleIntervalMs);
    connect(&bridge_, &EngineBridge::messageArrived, this, &CMainFrame::onEngineMessage);
    context_.engine.createPool();
    startAutomaticUpdateCheck();
    return true;
}

void CMainFrame::readComparisonSettings() {
    engine::ScanSettings& settings = context_.engine.settings();
    const shell::SettingsStore& store = context_.settings;
    settings.compareMethod = engine::ScanSettings::normalisedMethod(
        static_cast<std::int32_t>(store.readNumber("CompareMethod").value_or(3)));
    settings.accurate = store.readNumber("Accurate").value_or(0) != 0;
    // Taken as stored, without a range check: 150 makes a threshold of 1.5.
    settings.contentThreshold =
        static_cast<float>(store.readNumber("SensitivityContent").value_or(75)) * 0.01f;
    settings.tagsThreshold = static_cast<float>(store.readNumber("SensitivityTags").value_or(75)) * 0.01f;
    namespace names = shell::settings;
    settings.verifyMatches =
        store.readNumber(names::kVerifyMatches).value_or(names::kVerifyMatchesDefault) != 0;
    settings.acousticThreshold =
        static_cast<float>(
            store.readNumber(names::kSensitivityAcoustic).value_or(names::kSensitivityAcousticDefault)) *
        0.01f;
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
    QStatusBar* bar = statusBar();
    bar->setSizeGripEnabled(true);
    const int widths[] = {0, 90, 120};
    for (int pane = 0; pane < 3; ++pane) {
        panes_[pane] = new QLabel(bar);
        panes_[pane]->setObjectName(QStringLiteral("pane%1").arg(pane));
        if (pane == 0) {
            bar->addWidget(panes_[pane], 1); // hidden while a menu prompt shows
        } else {
            panes_[pane]->setFixedWidth(widths[pane]);
            bar->addPermanentWidget(panes_[pane]);
        }
    }
    progress_ = new ProgressPane(bar);
    progress_->setObjectName(QStringLiteral("pane3"));
    bar->addPermanentWidget(progress_);
}

void CMainFrame::createPages() {
    tabs_ = new QTabWidget(this);
    tabs_->setObjectName(QStringLiteral("CSuperTab"));
    folders_ = new CFoldersView(context_, tabs_);
    folders_->fileMenuBuilder = [this](QWidget* parent) { return menus_->buildFileContextMenu(parent); };
    results_ = new CResultsPage(context_, tabs_);
    results_->restoreLayout();
    tabs_->addTab(folders_, context_.text(u"FOLDERS", u"Folders"));
    tabs_->addTab(results_, context_.text(u"RESULTS", u"Results"));
    tabs_->setCurrentIndex(kFoldersPage);
    setCentralWidget(tabs_);
    const auto folders = context_.settings.readText("Folders");
    folders_->setTickedFolders(shell::parseQuotedList(folders.value_or(std::u16string())));
    connect(results_, &CResultsPage::rowsChanged, this, &CMainFrame::refreshStatus);
    connect(results_, &CResultsPage::commandRequested, this, &CMainFrame::runCommand);
}

void CMainFrame::applyBarVisibility() {
    const bool showToolBar = context_.settings.readNumber("ShowToolbar").value_or(1) != 0;
    const bool showStatusBar = context_.settings.readNumber("ShowStatusBar").value_or(1) != 0;
    toolBar_->setVisible(showToolBar);
    statusBar()->setVisible(showStatusBar);
    commands_->action(cmd::kToolbar)->setChecked(showToolBar);
    commands_->action(cmd::kStatusBar)->setChecked(showStatusBar);
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
    case cmd::kSavePlaylist:
        results_->savePlaylist();
        return;
    case cmd::kExportResults:
        results_->exportResults();
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
        showUpdateDialog(0);
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
    default:
        break;
    }
    if (cmd::isFolderViewCommand(id)) {
        folders_->setViewMode(id);
    } else if (cmd::isResultsCommand(id)) {
        results_->runCommand(id);
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
    context_.settings.writeText("Folders", shell::formatQuotedList(folders));
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
    QString summary = rows > 0 ? QString::number(rows) + QLatin1Char(' ') +
                                     context_.text(u"STATUS_DUPLICATES", u"duplicate(s)")
                               : QString();
    if (counters.itemsSkipped > 0) { // the count says where to look: Scanning > Skipped items
        summary += (summary.isEmpty() ? QString() : QStringLiteral(", ")) +
                   context_.text(u"STATUS_SKIPPED", u"%1 skipped").arg(counters.itemsSkipped);
    }
    panes_[0]->setText(summary);
    commands_->action(cmd::kSkippedItems)->setEnabled(counters.itemsSkipped > 0);
    commands_->action(cmd::kSavePlaylist)->setEnabled(rows > 0);
    commands_->action(cmd::kExportResults)->setEnabled(rows > 0);
    QString caption = context_.text(u"RESULTS", u"Results");
    if (rows > 0) {
        caption += QStringLiteral(" (%1)").arg(rows);
    }
    tabs_->setTabText(kResultsPage, caption);
    panes_[1]->setText(context_.text(u"STATUS_CACHE", u"Cache") + QStringLiteral(": ") +
                       QString::number(counters.tracksKnown));
    panes_[2]->setText(context_.text(u"STATUS_NEW", u"New") + QStringLiteral(": ") +
                       QString::number(counters.filesDone) + QLatin1Char('/') +
                       QString::number(counters.filesQueued));
    // What each count counts: the cache holds earlier scans' tracks too, and files left out of this
    // scan are in neither.
    panes_[1]->setToolTip(
        context_.text(u"STATUS_CACHE_TIP", u"Tracks in the cache, from this and earlier scans"));
    panes_[2]->setToolTip(context_.text(u"STATUS_NEW_TIP",
                                        u"Files of this scan analysed or taken from the cache, "
                                        u"of the files found; files left out are counted "
                                        u"under Scanning > Skipped items"));
    progress_->setCounts(counters.filesDone, counters.filesQueued);
    refreshProgressTip();
}

void CMainFrame::onIdle() {
    const engine::ScanEngine::Counters counters = context_.engine.counters();
    progress_->setCounts(counters.filesDone, counters.filesQueued);
    refreshProgressTip();
    refreshScanCommands();
}

// While a scan runs: the file being read and about how long is left, on the progress pane.
void CMainFrame::refreshProgressTip() {
    if (context_.engine.control().jobCount() <= 0) {
        progress_->setToolTip(QString());
        return;
    }
    const engine::ScanEngine::Progress progress = context_.engine.progress();
    QString tip = context_.text(u"PROGRESS_READING", u"Reading: %1").arg(windowName(progress.currentFile));
    if (progress.secondsLeft >= 0.0) {
        const auto ms = static_cast<std::uint32_t>(std::min(progress.secondsLeft, 4.0e6) * 1000.0);
        tip += QLatin1Char('\n') +
               context_.text(u"PROGRESS_LEFT", u"About %1 left").arg(toQString(shell::durationText(ms)));
    } else {
        tip += QLatin1Char('\n') + context_.text(u"PROGRESS_ESTIMATING", u"Estimating the time left...");
    }
    progress_->setToolTip(tip);
}

void CMainFrame::onEngineMessage(quint32 message) {
    switch (message) {
    case engine::UM_PAIRS_PENDING:
        results_->addPairs(context_.engine.takePendingPairs());
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
    engine::ScanSettings& settings = context_.engine.settings();
    OptionsValues values;
    values.compareMethod = settings.compareMethod.load();
    values.checkUpdates = checkForUpdates_;
    values.accurate = settings.accurate.load();
    values.contentThreshold = settings.contentThreshold.load();
    values.tagsThreshold = settings.tagsThreshold.load();
    values.verifyMatches = settings.verifyMatches.load();
    values.acousticThreshold = settings.acousticThreshold.load();
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
    checkForUpdates_ = values.checkUpdates;
    context_.settings.writeNumber("CheckUpdate", flag(values.checkUpdates));
    settings.compareMethod = values.compareMethod;
    context_.settings.writeNumber("CompareMethod", static_cast<std::uint32_t>(values.compareMethod));
    if (values.accurate != settings.accurate.load()) {
        settings.accurate = values.accurate;
        context_.settings.writeNumber("Accurate", flag(values.accurate));
        results_->setExperimentalColumnVisible(values.accurate, kExperimentalWidthAfterOptions);
    }
    settings.contentThreshold = values.contentThreshold;
    context_.settings.writeNumber("SensitivityContent",
                                  static_cast<std::uint32_t>(sliderPosition(values.contentThreshold)));
    settings.tagsThreshold = values.tagsThreshold;
    context_.settings.writeNumber("SensitivityTags",
                                  static_cast<std::uint32_t>(sliderPosition(values.tagsThreshold)));
    settings.verifyMatches = values.verifyMatches;
    context_.settings.writeNumber(shell::settings::kVerifyMatches, flag(values.verifyMatches));
    settings.acousticThreshold = values.acousticThreshold;
    context_.settings.writeNumber(shell::settings::kSensitivityAcoustic,
                                  static_cast<std::uint32_t>(sliderPosition(values.acousticThreshold)));
}

void CMainFrame::switchLanguage(const QString& name) {
    const QString chosen = name.left(1023);
    context_.settings.writeText("Language", toU16(chosen));
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

void CMainFrame::showUpdateDialog(int initialResult) {
    CUpdateDlg dialog(
        context_, initialResult, version_, [this] { storeLastUpdate(); }, updateServer_, this);
    dialog.exec();
}

void CMainFrame::storeLastUpdate() {
    context_.settings.writeNumber("LastUpdate", static_cast<std::uint32_t>(std::time(nullptr)));
}

void CMainFrame::startAutomaticUpdateCheck() {
    const auto checkUpdate = context_.settings.readNumber("CheckUpdate");
    checkForUpdates_ = checkUpdate.value_or(1) == 1;
    const shell::AutomaticCheck check =
        shell::automaticCheckDue(checkUpdate, context_.settings.readNumber("LastUpdate"), std::time(nullptr));
    if (check.due) {
        automaticCheckStarted_ = updates_->start(version_, check.firstCheck);
    }
}

void CMainFrame::onUpdateResult(int result) {
    if (result == static_cast<int>(shell::UpdateResult::Present)) {
        showUpdateDialog(result);
    } else if (result == static_cast<int>(shell::UpdateResult::UpToDate)) {
        storeLastUpdate();
    }
}

void CMainFrame::showAtStoredPlacement() {
    const shell::SettingsStore& store = context_.settings;
    const auto stored = storedPlacement(store.readNumber("WindowLeft"), store.readNumber("WindowTop"),
                                        store.readNumber("WindowRight"), store.readNumber("WindowBottom"),
                                        store.readNumber("WindowMaximized"));
    QList<QRect> screens;
    for (const QScreen* screen : QGuiApplication::screens()) {
        screens.append(screen->availableGeometry());
    }
    if (stored && placementFits(stored->normal, screens)) {
        setGeometry(stored->normal);
        stored->maximized ? showMaximized() : show();
        return;
    }
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        resize(area.width() * 3 / 4, area.height() * 3 / 4);
    }
    show();
}

void CMainFrame::storePlacement() {
    shell::SettingsStore& store = context_.settings;
    const QRect normal = isMaximized() || isMinimized() ? normalGeometry() : geometry();
    store.writeNumber("WindowMaximized", flag(isMaximized()));
    store.writeNumber("WindowLeft", static_cast<std::uint32_t>(normal.left()));
    store.writeNumber("WindowRight", static_cast<std::uint32_t>(normal.left() + normal.width()));
    store.writeNumber("WindowTop", static_cast<std::uint32_t>(normal.top()));
    store.writeNumber("WindowBottom", static_cast<std::uint32_t>(normal.top() + normal.height()));
    store.writeNumber("ShowToolbar", flag(!toolBar_->isHidden()));
    store.writeNumber("ShowStatusBar", flag(!statusBar()->isHidden()));
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
