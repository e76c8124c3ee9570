#pragma once

#include "platform/os/DesktopTrash.h"

#include <QString>
#include <QUrl>

#include <functional>
#include <string>

class QObject;

namespace tonemirror::app {

struct AppContext;

// The desktop's handlers for the files of the results list. Paths are the core's UTF-16 paths; the
// native name of a file is taken from the core's own conversion, never re-encoded by Qt.

// A file: URL of the path's native name, every byte kept.
QUrl fileUrl(const std::u16string& path);

// Opens the file with its default application. false when no handler took it.
bool openFile(const std::u16string& path);

// Shows the file in the file manager: asks the desktop's file manager to show it selected, else
// opens its folder (everything before the last separator; nothing without one). Returns at once;
// `failed` runs (maybe later, on this thread) when neither worked.
void showInFolder(const std::u16string& path, const std::function<void()>& failed = {});

struct TrashOutcome {
    bool trashed = false;
    QString reason;       // in plain, translated words when not trashed
    os::TrashEntry entry; // where it went, to put it back
};

// Moves one file or folder to the desktop's trash (our own checked trash, never a copy). An item that
// cannot be trashed stays where it is; nothing is ever deleted outright.
TrashOutcome moveToTrash(const AppContext& context, const std::u16string& path);

// Why the trash refused, in the user's language, with the system's own words after it when it gave any.
QString trashReason(const AppContext& context, const os::TrashOutcome& outcome);

} // namespace tonemirror::app
