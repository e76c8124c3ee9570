#include "app/frame/StatusPanes.h"

#include "app/AppContext.h"
#include "app/frame/ProgressPane.h"
#include "shell/ResultCells.h"

#include <QLabel>
#include <QStatusBar>

#include <algorithm>

namespace tonemirror::app {

StatusPanes::StatusPanes(const AppContext& context, QStatusBar& bar) : QObject(&bar), context_(context) {
    bar.setSizeGripEnabled(true);
    const int widths[] = {0, 90, 120};
    for (int pane = 0; pane < 3; ++pane) {
        panes_[pane] = new QLabel(&bar);
        panes_[pane]->setObjectName(QStringLiteral("pane%1").arg(pane));
        if (pane == 0) {
            bar.addWidget(panes_[pane], 1); // hidden while a menu prompt shows
        } else {
            panes_[pane]->setFixedWidth(widths[pane]);
            bar.addPermanentWidget(panes_[pane]);
        }
    }
    progress_ = new ProgressPane(&bar);
    progress_->setObjectName(QStringLiteral("pane3"));
    bar.addPermanentWidget(progress_);
}

void StatusPanes::refresh(int rows, const engine::ScanEngine::Counters& counters) {
    QString summary = rows > 0 ? QString::number(rows) + QLatin1Char(' ') +
                                     context_.text(u"STATUS_DUPLICATES", u"duplicate(s)")
                               : QString();
    if (counters.itemsSkipped > 0) { // the count says where to look: Scanning > Skipped items
        summary += (summary.isEmpty() ? QString() : QStringLiteral(", ")) +
                   context_.text(u"STATUS_SKIPPED", u"%1 skipped").arg(counters.itemsSkipped);
    }
    panes_[0]->setText(summary);
    panes_[1]->setText(context_.text(u"STATUS_CACHE", u"Cache") + QStringLiteral(": ") +
                       QString::number(counters.tracksKnown));
    panes_[2]->setText(context_.text(u"STATUS_NEW", u"New") + QStringLiteral(": ") +
                       QString::number(counters.filesDone) + QLatin1Char('/') +
                       QString::number(counters.filesQueued));
    // What each count counts: the cache holds earlier scans' tracks too, and files left out of this
    // scan are in neither.
    panes_[1]->setToolTip(
        context_.text(u"STATUS_CACHE_TIP", u"Tracks in the cache, from this and earlier scans"));
    panes_[2]->setToolTip(context_.text(u"STATUS_NEW_TIP",
                                        u"Files of this scan analysed or taken from the cache, "
                                        u"of the files found; files left out are counted "
                                        u"under Scanning > Skipped items"));
    refreshProgress(counters);
}

void StatusPanes::refreshProgress(const engine::ScanEngine::Counters& counters) {
    progress_->setCounts(counters.filesDone, counters.filesQueued);
}

void StatusPanes::refreshProgressTip(const engine::ScanEngine::Progress& progress, bool scanning) {
    if (!scanning) {
        progress_->setToolTip(QString());
        return;
    }
    QString tip = context_.text(u"PROGRESS_READING", u"Reading: %1").arg(windowName(progress.currentFile));
    if (progress.secondsLeft >= 0.0) {
        const auto ms = static_cast<std::uint32_t>(std::min(progress.secondsLeft, 4.0e6) * 1000.0);
        tip += QLatin1Char('\n') +
               context_.text(u"PROGRESS_LEFT", u"About %1 left").arg(toQString(shell::durationText(ms)));
    } else {
        tip += QLatin1Char('\n') + context_.text(u"PROGRESS_ESTIMATING", u"Estimating the time left...");
    }
    progress_->setToolTip(tip);
}

} // namespace tonemirror::app
