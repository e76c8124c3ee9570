#pragma once

#include "shell/UpdateCheck.h"

#include <QObject>

class QWidget;

namespace tonemirror::app {

struct AppContext;
class UpdateChecker;

// The update check as the user meets it: the automatic check when it is due, the update dialog when
// it finds a newer version or the user asks, and the time of the last good answer in the settings.
class UpdateWorkflow : public QObject {
    Q_OBJECT
public:
    // `window` parents the dialogs.
    UpdateWorkflow(AppContext& context, shell::LocalVersion version, shell::UpdateServer server,
                   QWidget* window);

    // Reads whether checks are on and starts the automatic check when one is due.
    void startAutomaticCheck();
    bool automaticCheckStarted() const { return automaticCheckStarted_; }

    // The Options dialog's "Check for updates".
    bool checkUpdates() const { return checkUpdates_; }
    void setCheckUpdates(bool on) { checkUpdates_ = on; }

    // The update dialog: checks at once (0) or shows a result already known.
    void showDialog(int initialResult);

private:
    void onResult(int result);
    void storeLastUpdate();

    AppContext& context_;
    shell::LocalVersion version_;
    shell::UpdateServer server_;
    QWidget* window_;
    UpdateChecker* checker_ = nullptr;
    bool checkUpdates_ = true;
    bool automaticCheckStarted_ = false;
};

} // namespace tonemirror::app
