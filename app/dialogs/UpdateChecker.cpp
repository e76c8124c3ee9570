#include "app/dialogs/UpdateChecker.h"

#include <QCoreApplication>
#include <QEvent>

#include <mutex>

namespace tonemirror::app {

namespace {

const QEvent::Type kResultEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

class ResultEvent : public QEvent {
public:
    explicit ResultEvent(int result) : QEvent(kResultEvent), result_(result) {}
    int result() const { return result_; }

private:
    int result_;
};

} // namespace

// Shared with every check thread: the target is cleared when the checker goes, under the mutex, so a
// thread never posts to a destroyed object.
struct UpdateChecker::Link {
    std::mutex mutex;
    UpdateChecker* target = nullptr;
};

UpdateChecker::UpdateChecker(shell::UpdateServer server, QObject* parent)
    : QObject(parent), link_(std::make_shared<Link>()), server_(std::move(server)) {
    link_->target = this;
}

UpdateChecker::~UpdateChecker() {
    std::lock_guard lock(link_->mutex);
    link_->target = nullptr;
}

bool UpdateChecker::start(shell::LocalVersion local, bool firstCheck) {
    std::shared_ptr<Link> link = link_;
    std::thread thread = shell::startUpdateCheck(
        [link](shell::UpdateResult result) {
            std::lock_guard lock(link->mutex);
            if (link->target != nullptr) {
                QCoreApplication::postEvent(link->target, new ResultEvent(static_cast<int>(result)));
            }
        },
        local, firstCheck, server_);
    if (!thread.joinable()) {
        return false;
    }
    thread.detach(); // one request, bounded by the check's own time-outs
    return true;
}

bool UpdateChecker::event(QEvent* event) {
    if (event->type() == kResultEvent) {
        emit finished(static_cast<ResultEvent*>(event)->result());
        return true;
    }
    return QObject::event(event);
}

} // namespace tonemirror::app
