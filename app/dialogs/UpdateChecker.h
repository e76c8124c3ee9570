#pragma once

#include "shell/UpdateCheck.h"

#include <QObject>

#include <memory>

namespace tonemirror::app {

// Runs update checks on threads of their own and reports each result on the user-interface thread.
// Destroying the checker does not wait for a running check: its late result is dropped.
class UpdateChecker : public QObject {
    Q_OBJECT
public:
    explicit UpdateChecker(shell::UpdateServer server = shell::defaultUpdateServer(),
                           QObject* parent = nullptr);
    ~UpdateChecker() override;

    // false when no thread could be started.
    bool start(shell::LocalVersion local, bool firstCheck);

    Q_SIGNAL void finished(int result);

protected:
    bool event(QEvent* event) override;

private:
    struct Link;
    std::shared_ptr<Link> link_;
    shell::UpdateServer server_;
};

} // namespace tonemirror::app
