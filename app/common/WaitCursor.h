#pragma once

#include <QGuiApplication>

namespace tonemirror::app {

// The wait cursor for the lifetime of the object (listing a slow folder, a network mount).
class WaitCursor {
public:
    WaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QGuiApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

} // namespace tonemirror::app
