#pragma once

#include "engine/UserMessage.h"

#include <QObject>

namespace tonemirror::app {

// Turns the engine's messages into events posted to the user-interface thread (QEvent::User + n)
// and hands them on as a signal there. post() is called from worker threads and only queues.
// Must outlive the engine that posts to it.
class EngineBridge : public QObject, public engine::MessageSink {
    Q_OBJECT
public:
    using QObject::QObject;

    void post(std::uint32_t message) override;

    // Delivered on the thread that owns the bridge, in posting order.
    Q_SIGNAL void messageArrived(quint32 message);

protected:
    bool event(QEvent* event) override;
};

} // namespace tonemirror::app
