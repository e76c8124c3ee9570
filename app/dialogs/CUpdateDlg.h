#pragma once

#include "shell/UpdateCheck.h"

#include <QDialog>

#include <functional>

class QLabel;

namespace tonemirror::app {

struct AppContext;
class UpdateChecker;

// "Check for update": checks at once (initial result 0) or shows a result already known (1), then
// says what came back. The link to the web site shows only when an update exists.
class CUpdateDlg : public QDialog {
    Q_OBJECT
public:
    // `succeeded` runs when a check reached the server with a valid answer (results 1 and 3).
    CUpdateDlg(const AppContext& context, int initialResult, shell::LocalVersion version,
               std::function<void()> succeeded, shell::UpdateServer server = shell::defaultUpdateServer(),
               QWidget* parent = nullptr);

    QString statusText() const;
    bool linkShown() const;

    // Shows a result as the dialog would on its arrival.
    void showResult(int result);

private:
    const AppContext& context_;
    std::function<void()> succeeded_;
    QLabel* status_ = nullptr;
    QLabel* link_ = nullptr;
    UpdateChecker* checker_ = nullptr;
};

} // namespace tonemirror::app
