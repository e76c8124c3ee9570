#pragma once

#include "engine/ScanEngine.h"

#include <QObject>

class QLabel;
class QStatusBar;

namespace tonemirror::app {

struct AppContext;
class ProgressPane;

// The status bar's panes: 0 the number of duplicates (and of items the scan left out), 1 the tracks
// the cache knows, 2 the files of this scan done of those queued, 3 the same as a progress bar.
class StatusPanes : public QObject {
    Q_OBJECT
public:
    StatusPanes(const AppContext& context, QStatusBar& bar);

    // Every pane, for `rows` rows in the results list.
    void refresh(int rows, const engine::ScanEngine::Counters& counters);
    // Only the progress bar: between messages, while files are read.
    void refreshProgress(const engine::ScanEngine::Counters& counters);
    // The progress pane's tip: while a scan runs, the file being read and about how long is left.
    void refreshProgressTip(const engine::ScanEngine::Progress& progress, bool scanning);

    QLabel* pane(int index) const { return panes_[index]; }
    ProgressPane* progress() const { return progress_; }

private:
    const AppContext& context_;
    QLabel* panes_[3] = {};
    ProgressPane* progress_ = nullptr;
};

} // namespace tonemirror::app
