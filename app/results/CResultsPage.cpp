#include "app/results/CResultsPage.h"

#include "app/AppContext.h"
#include "engine/Playlist.h"

#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QTableWidget>

namespace tonemirror::app {

namespace {

QString percentText(float value) {
    return value < 0 ? QStringLiteral("-") : QString::number(value, 'f', 1) + QLatin1Char('%');
}

} // namespace

CResultsPage::CResultsPage(AppContext& context, QWidget* parent)
    : QSplitter(Qt::Vertical, parent), context_(context) {
    list_ = new QTableWidget(0, 7, this);
    list_->setObjectName(QStringLiteral("CViewList"));
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->verticalHeader()->hide();
    const int widths[] = {20, 350, 80, 80, 80, 20, 350};
    for (int column = 0; column < 7; ++column) {
        list_->setColumnWidth(column, widths[column]);
    }
    addWidget(list_);
    retranslate();
}

void CResultsPage::retranslate() {
    list_->setHorizontalHeaderLabels({QString(), context_.text(u"RESULTS_FILE1", u"File #1"),
                                      context_.text(u"RESULTS_CONTENT", u"% content"),
                                      context_.text(u"RESULTS_TAGS", u"% tags"),
                                      context_.text(u"RESULTS_EXPEREM", u"% experim."), QString(),
                                      context_.text(u"RESULTS_FILE2", u"File #2")});
}

void CResultsPage::appendRow(const engine::DuplicatePair& pair) {
    rows_.push_back(pair);
    const int row = list_->rowCount();
    list_->insertRow(row);
    list_->setItem(row, 1, new QTableWidgetItem(toQString(pair.path1)));
    list_->setItem(row, 2, new QTableWidgetItem(percentText(pair.contentPercent)));
    list_->setItem(row, 3, new QTableWidgetItem(percentText(pair.tagsPercent)));
    list_->setItem(row, 4, new QTableWidgetItem(percentText(pair.experimentalPercent)));
    list_->setItem(row, 6, new QTableWidgetItem(toQString(pair.path2)));
}

void CResultsPage::addPairs(std::vector<engine::DuplicatePair> pairs) {
    for (engine::DuplicatePair& pair : pairs) {
        if (!pair.isUpdate) {
            appendRow(pair);
            continue;
        }
        for (std::size_t row = 0; row < rows_.size(); ++row) {
            if (rows_[row].path1 == pair.path1 && rows_[row].path2 == pair.path2) {
                rows_[row].experimentalPercent = pair.experimentalPercent;
                list_->item(static_cast<int>(row), 4)->setText(percentText(pair.experimentalPercent));
                break;
            }
        }
    }
    emit rowsChanged();
}

void CResultsPage::clearRows() {
    rows_.clear();
    list_->setRowCount(0);
    emit rowsChanged();
}

int CResultsPage::rowCount() const {
    return static_cast<int>(rows_.size());
}

void CResultsPage::setExperimentalColumnVisible(bool visible) {
    list_->setColumnWidth(4, visible ? 100 : 0);
}

int CResultsPage::experimentalColumnWidth() const {
    return list_->columnWidth(4);
}

void CResultsPage::runCommand(int) {}

void CResultsPage::savePlaylist() {
    const QString file = QFileDialog::getSaveFileName(this, QString(), QStringLiteral("duplicates.m3u"),
                                                      QStringLiteral("Playlist (*.m3u)"));
    if (file.isEmpty()) {
        return;
    }
    QFile out(file);
    const std::string text = engine::formatPlaylist(rows_);
    if (out.open(QIODevice::WriteOnly)) {
        out.write(text.data(), static_cast<qint64>(text.size()));
    }
}

void CResultsPage::exportResults() {}

} // namespace tonemirror::app
