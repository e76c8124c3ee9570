#include "app/frame/EngineBridge.h"

#include <QCoreApplication>
#include <QEvent>

namespace tonemirror::app {

namespace {
constexpr int kFirstMessage = engine::UM_PAIRS_PENDING;
constexpr int kLastMessage = engine::UM_SCORES_PENDING;
} // namespace

void EngineBridge::post(std::uint32_t message) {
    const auto type = static_cast<QEvent::Type>(QEvent::User + static_cast<int>(message - engine::WM_USER));
    QCoreApplication::postEvent(this, new QEvent(type));
}

bool EngineBridge::event(QEvent* event) {
    const int message = static_cast<int>(event->type()) - QEvent::User + static_cast<int>(engine::WM_USER);
    if (message >= kFirstMessage && message <= kLastMessage) {
        emit messageArrived(static_cast<quint32>(message));
        return true;
    }
    return QObject::event(event);
}

} // namespace tonemirror::app
