#pragma once

#include "app/common/QtTranslations.h"
#include "app/frame/CommandTable.h"
#include "shell/UpdateCheck.h"

#include <QMainWindow>
#include <QTimer>

#include <memory>

class QLabel;
class QTabWidget;
class QToolBar;

namespace tonemirror::app {

struct AppContext;
struct OptionsValues;
class CFoldersView;
class CResGenerator;
class CResultsPage;
class EngineBridge;
class ProgressPane;
class UpdateChecker;

// The program's one top-level window: menu, tool bar, status bar with the progress pane, and the
// two pages. It drives the scan engine, turns its posted messages into page updates and routes
// every command. Lives on the user-interface thread; workers only post messages to it.
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
    QLabel* statusPane(int index) const { return panes_[index]; }
    ProgressPane* progressPane() const { return progress_; }
    bool automaticCheckStarted() const { return automaticCheckStarted_; }

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
    void startAutomaticUpdateCheck();
    void connectCommands();

    void onEngineMessage(quint32 message);
    void onUpdateResult(int result);
    void onIdle();
    void refreshProgressTip();
    void startScan();
    void showOptions();
    void showAbout();
    void showSkippedItems();
    void showUpdateDialog(int initialResult);
    void toggleBar(QWidget* bar, int command);
    void storePlacement();
    void storeLastUpdate();

    AppContext& context_;
    EngineBridge& bridge_;
    shell::UpdateServer updateServer_;
    shell::LocalVersion version_;
    bool checkForUpdates_ = true;
    bool automaticCheckStarted_ = false;
    bool engineShutDown_ = false;

    CommandTable* commands_ = nullptr;
    CommandImages images_;
    std::unique_ptr<CResGenerator> menus_;
    QToolBar* toolBar_ = nullptr;
    QLabel* panes_[3] = {};
    ProgressPane* progress_ = nullptr;
    QTabWidget* tabs_ = nullptr;
    CFoldersView* folders_ = nullptr;
    CResultsPage* results_ = nullptr;
    UpdateChecker* updates_ = nullptr;
    QTimer idle_;
    QtTranslations qtTexts_;
};

} // namespace tonemirror::app
