#include "app/dialogs/UpdateWorkflow.h"

#include "app/AppContext.h"
#include "app/dialogs/CUpdateDlg.h"
#include "app/dialogs/UpdateChecker.h"
#include "shell/Preferences.h"

#include <ctime>

namespace tonemirror::app {

UpdateWorkflow::UpdateWorkflow(AppContext& context, shell::LocalVersion version, shell::UpdateServer server,
                               QWidget* window)
    : QObject(window), context_(context), version_(version), server_(std::move(server)), window_(window) {
    checker_ = new UpdateChecker(server_, this);
    connect(checker_, &UpdateChecker::finished, this, &UpdateWorkflow::onResult);
}

void UpdateWorkflow::startAutomaticCheck() {
    const shell::UpdatePreferences stored = shell::readUpdatePreferences(context_.settings);
    checkUpdates_ = stored.checkUpdates();
    const shell::AutomaticCheck check =
        shell::automaticCheckDue(stored.checkUpdate, stored.lastUpdate, std::time(nullptr));
    if (check.due) {
        automaticCheckStarted_ = checker_->start(version_, check.firstCheck);
    }
}

void UpdateWorkflow::showDialog(int initialResult) {
    CUpdateDlg dialog(
        context_, initialResult, version_, [this] { storeLastUpdate(); }, server_, window_);
    dialog.exec();
}

void UpdateWorkflow::onResult(int result) {
    if (result == static_cast<int>(shell::UpdateResult::Present)) {
        showDialog(result);
    } else if (result == static_cast<int>(shell::UpdateResult::UpToDate)) {
        storeLastUpdate();
    }
}

void UpdateWorkflow::storeLastUpdate() {
    shell::writeLastUpdate(context_.settings, static_cast<std::uint32_t>(std::time(nullptr)));
}

} // namespace tonemirror::app
