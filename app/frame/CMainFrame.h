#pragma once

#include "app/common/QtTranslations.h"
#include "app/dialogs/UpdateWorkflow.h"
#include "app/frame/CommandTable.h"
#include "app/frame/StatusPanes.h"
#include "shell/Preferences.h"
#include "shell/UpdateCheck.h"

#include <QMainWindow>
#include <QTimer>

#include <memory>

class QFileSystemWatcher;
class QLabel;
class QTabWidget;
class QToolBar;

namespace tonemirror::app {

struct AppContext;
using OptionsValues = shell::OptionsPreferences;
class CFoldersView;
class CResGenerator;
class CResultsPage;
class EngineBridge;
class ProgressPane;
class StatusPanes;
class UpdateWorkflow;

// The program's one top-level window: menu, tool bar, status bar and the two pages. It runs its own
// commands (scan control, options, languages, bars, about), drives the scan engine and turns its
// posted messages into page updates; the pages run their own commands. Lives on the user-interface thread;
// workers only post messages to it.
class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    // Opens the settings (a damaged settings file is kept aside and reported), reads the version and
    // applies the stored language.
    CMainFrame(AppContext& context, EngineBridge& bridge,
               shell::UpdateServer updateServer = shell::defaultUpdateServer());
    ~CMainFrame() override;

    // Builds the window's content, opens the cache and the ignore list, starts the worker pool and
    // the automatic update check when due. false when the window cannot be made.
    bool create();
    // Shows the window at the stored placement when it fits a screen, else at the default one.
    void showAtStoredPlacement();

    void refreshStatus();
    void refreshScanCommands();
    // Enables Edit -> Undo exactly when the journal holds a batch to put back.
    void refreshUndo();
    void runCommand(int id);
    // Stops the scan, saves the ignore list and ends the workers (no time limit). Runs once.
    void shutdownEngine();

    QAction* action(int id) const { return commands_->action(id); }
    CFoldersView* foldersView() const { return folders_; }
    CResultsPage* resultsPage() const { return results_; }
    CFoldersView* foldersPage() const { return folders_; }
    // The question Options asks before the cache is cleared.
    QString clearCacheQuestion() const;
    QTabWidget* tabs() const { return tabs_; }
    QToolBar* toolBar() const { return toolBar_; }
    QLabel* statusPane(int index) const { return status_->pane(index); }
    ProgressPane* progressPane() const { return status_->progress(); }
    bool automaticCheckStarted() const { return updates_->automaticCheckStarted(); }

    // Applies the Options dialog's values as OK does.
    void applyOptions(const OptionsValues& values);
    void switchLanguage(const QString& name);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void openSettings();
    void applyStoredLanguage();
    void applyQtLanguage();
    void watchMenuPrompts();
    void readComparisonSettings();
    void createToolBar();
    void createStatusBar();
    void createPages();
    void applyBarVisibility();
    void openStores();
    void connectCommands();

    void onEngineMessage(quint32 message);
    void onIdle();
    void refreshProgressTip();
    void startScan();
    void showOptions();
    void showAbout();
    void showSkippedItems();
    void undoFiles();
    void watchJournal();
    void toggleBar(QWidget* bar, int command);
    void storePlacement();

    AppContext& context_;
    EngineBridge& bridge_;
    shell::UpdateServer updateServer_;
    shell::LocalVersion version_;
    bool engineShutDown_ = false;

    CommandTable* commands_ = nullptr;
    CommandImages images_;
    std::unique_ptr<CResGenerator> menus_;
    QToolBar* toolBar_ = nullptr;
    StatusPanes* status_ = nullptr;
    QTabWidget* tabs_ = nullptr;
    CFoldersView* folders_ = nullptr;
    CResultsPage* results_ = nullptr;
    UpdateWorkflow* updates_ = nullptr;
    QTimer idle_;
    QFileSystemWatcher* journalWatch_ = nullptr; // new batches, from either page or the command line
    QtTranslations qtTexts_;
};

} // namespace tonemirror::app
