#include "app/results/ResultsModel.h"

#include "app/AppContext.h"
#include "app/Resources.h"
#include "shell/ResultCells.h"

#include <QCollator>
#include <QCollatorSortKey>
#include <QIcon>

#include <algorithm>
#include <functional>

namespace tonemirror::app {

namespace {

// Above this many separate runs of removed rows the view is reset instead of told run by run.
constexpr int kMaxRemovalRuns = 64;

bool isMarkColumn(int column) {
    return column == ResultsModel::kMark1 || column == ResultsModel::kMark2;
}

float percentValue(const engine::DuplicatePair& pair, int column) {
    switch (column) {
    case ResultsModel::kContent:
        return pair.contentPercent;
    case ResultsModel::kTags:
        return pair.tagsPercent;
    case ResultsModel::kAcoustic:
        return pair.acousticPercent;
    default:
        return pair.experimentalPercent;
    }
}

} // namespace

shell::PercentColumn ResultsModel::percentColumn(int column) {
    switch (column) {
    case ResultsModel::kContent:
        return shell::PercentColumn::Content;
    case ResultsModel::kTags:
        return shell::PercentColumn::Tags;
    case ResultsModel::kAcoustic:
        return shell::PercentColumn::Acoustic;
    default:
        return shell::PercentColumn::Experimental;
    }
}

bool ResultsModel::isPercentColumn(int column) {
    return (column >= ResultsModel::kContent && column <= ResultsModel::kExperimental) ||
           column == ResultsModel::kAcoustic;
}

ResultsModel::ResultsModel(Translate translate, QObject* parent)
    : QAbstractTableModel(parent), translate_(std::move(translate)) {
    loadImages(); // the check-header picture
    retranslate();
}

int ResultsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int ResultsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

const ResultRow* ResultsModel::rowAt(int row) const {
    return row >= 0 && row < static_cast<int>(rows_.size()) ? &rows_[static_cast<std::size_t>(row)] : nullptr;
}

QString ResultsModel::percentCellText(int column, float value) const {
    switch (shell::percentState(percentColumn(column), value)) {
    case shell::PercentState::Value:
        return toQString(shell::percentText(value));
    case shell::PercentState::Dash:
        return QStringLiteral("-");
    case shell::PercentState::Wait:
        return waitText_;
    case shell::PercentState::NotAvailable:
        break;
    }
    return QStringLiteral("n/a");
}

// Why the experimental comparison of a row could not run, in the cell's few words.
QString ResultsModel::experimentalFailureText(analysis::AnalysisFailure failure) const {
    switch (failure) {
    case analysis::AnalysisFailure::tooShort:
        return translate_(u"EXPERIM_TOO_SHORT", u"too short");
    case analysis::AnalysisFailure::silent:
        return translate_(u"EXPERIM_SILENT", u"silent");
    case analysis::AnalysisFailure::noDecoder:
    case analysis::AnalysisFailure::badSamples:
        return translate_(u"EXPERIM_UNREADABLE", u"unreadable");
    case analysis::AnalysisFailure::none:
    case analysis::AnalysisFailure::stopped:
        break;
    }
    return QStringLiteral("n/a");
}

QVariant ResultsModel::data(const QModelIndex& index, int role) const {
    const ResultRow* row = rowAt(index.row());
    if (row == nullptr || !index.isValid()) {
        return {};
    }
    const engine::DuplicatePair* pair = &row->pair;
    const int column = index.column();
    if (role == Qt::DisplayRole) {
        if (column == kFile1 || column == kFile2) {
            return windowName(column == kFile1 ? pair->path1 : pair->path2);
        }
        if (column == kExperimental && pair->experimentalFailure != analysis::AnalysisFailure::none) {
            return experimentalFailureText(pair->experimentalFailure);
        }
        return isPercentColumn(column) ? QVariant(percentCellText(column, percentValue(*pair, column)))
                                       : QVariant();
    }
    if (role == kValueRole && isPercentColumn(column)) {
        return percentValue(*pair, column);
    }
    if (role == Qt::CheckStateRole && isMarkColumn(column)) {
        return row->marked(column == kMark1 ? 1 : 2) ? Qt::Checked : Qt::Unchecked;
    }
    if (role == Qt::TextAlignmentRole && isPercentColumn(column)) {
        return int(Qt::AlignCenter);
    }
    return {};
}

bool ResultsModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::CheckStateRole || !isMarkColumn(index.column()) || rowAt(index.row()) == nullptr) {
        return false;
    }
    setMarked(index.row(), index.column() == kMark1 ? 1 : 2, value.toInt() == Qt::Checked);
    return true;
}

QVariant ResultsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount) {
        return {};
    }
    if (role == Qt::DisplayRole) {
        return headers_[section];
    }
    if (role == Qt::DecorationRole && isMarkColumn(section)) {
        return QIcon(QStringLiteral(":/images/check-header.svg"));
    }
    return {};
}

Qt::ItemFlags ResultsModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) {
        return Qt::NoItemFlags;
    }
    const Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    return isMarkColumn(index.column()) ? flags | Qt::ItemIsUserCheckable : flags;
}

void ResultsModel::retranslate() {
    headers_[kFile1] = translate_(u"RESULTS_FILE1", u"File #1");
    headers_[kContent] = translate_(u"RESULTS_CONTENT", u"% content");
    headers_[kTags] = translate_(u"RESULTS_TAGS", u"% tags");
    headers_[kExperimental] = translate_(u"RESULTS_EXPEREM", u"% experim.");
    headers_[kFile2] = translate_(u"RESULTS_FILE2", u"File #2");
    headers_[kAcoustic] = translate_(u"RESULTS_MATCH", u"% match");
    waitText_ = translate_(u"WAIT", u"wait");
    emit headerDataChanged(Qt::Horizontal, 0, kColumnCount - 1);
    if (!rows_.empty()) {
        emit dataChanged(index(0, kExperimental), index(rowCount() - 1, kExperimental), {Qt::DisplayRole});
    }
}

std::vector<engine::DuplicatePair> ResultsModel::pairs() const {
    std::vector<engine::DuplicatePair> listed;
    listed.reserve(rows_.size());
    for (const ResultRow& row : rows_) {
        listed.push_back(row.pair);
    }
    return listed;
}

void ResultsModel::addResults(engine::PendingResults results) {
    insertPairs(results.pairs); // a score may be for a pair of this very batch
    for (const engine::ExperimentalScore& score : results.scores) {
        applyScore(score);
    }
}

int ResultsModel::appendRow(engine::DuplicatePair pair) {
    std::vector<engine::DuplicatePair> one;
    one.push_back(std::move(pair));
    insertPairs(one);
    return rowCount() - 1;
}

void ResultsModel::insertPairs(std::vector<engine::DuplicatePair>& pairs) {
    if (pairs.empty()) {
        return;
    }
    const int first = rowCount();
    beginInsertRows({}, first, first + static_cast<int>(pairs.size()) - 1);
    for (engine::DuplicatePair& pair : pairs) {
        index_.appended(pair, rows_.size());
        rows_.push_back(ResultRow{std::move(pair), false, false, nullptr, nullptr});
    }
    cellsValid_ = false;
    endInsertRows();
    pairs.clear();
}

void ResultsModel::applyScore(const engine::ExperimentalScore& score) {
    const auto pairAt = [this](std::size_t row) -> const engine::DuplicatePair& { return rows_[row].pair; };
    for (const std::size_t row : index_.rowsOf(score, rows_.size(), pairAt)) {
        shell::applyScore(rows_[row].pair, score);
        const QModelIndex cell = index(static_cast<int>(row), kExperimental);
        emit dataChanged(cell, cell);
    }
}

void ResultsModel::clearRows() {
    beginResetModel();
    rows_.clear();
    index_.clear();
    cells_.clear();
    cellsValid_ = false;
    endResetModel();
}

void ResultsModel::removeRow(int row) {
    if (rowAt(row) == nullptr) {
        return;
    }
    beginRemoveRows({}, row, row);
    rows_.erase(rows_.begin() + row);
    forgetPositions();
    endRemoveRows();
}

int ResultsModel::removeRowsWithPaths(const std::unordered_set<std::u16string>& paths) {
    std::vector<bool> remove(rows_.size());
    for (std::size_t row = 0; row < rows_.size(); ++row) {
        remove[row] = paths.count(rows_[row].pair.path1) != 0 || paths.count(rows_[row].pair.path2) != 0;
    }
    return removeRowsWhere(remove);
}

int ResultsModel::removeRowsWhere(const std::vector<bool>& remove) {
    std::vector<std::pair<int, int>> runs; // first, last
    for (int row = 0; row < static_cast<int>(std::min(remove.size(), rows_.size())); ++row) {
        if (!remove[static_cast<std::size_t>(row)]) {
            continue;
        }
        if (!runs.empty() && runs.back().second == row - 1) {
            runs.back().second = row;
        } else {
            runs.emplace_back(row, row);
        }
    }
    int removed = 0;
    if (static_cast<int>(runs.size()) > kMaxRemovalRuns) {
        beginResetModel();
        std::vector<ResultRow> kept;
        kept.reserve(rows_.size());
        for (std::size_t row = 0; row < rows_.size(); ++row) {
            if (row < remove.size() && remove[row]) {
                ++removed;
            } else {
                kept.push_back(std::move(rows_[row]));
            }
        }
        rows_.swap(kept);
        forgetPositions();
        endResetModel();
        return removed;
    }
    for (auto run = runs.rbegin(); run != runs.rend(); ++run) {
        beginRemoveRows({}, run->first, run->second);
        rows_.erase(rows_.begin() + run->first, rows_.begin() + run->second + 1);
        removed += run->second - run->first + 1;
        forgetPositions();
        endRemoveRows();
    }
    return removed;
}

void ResultsModel::setMarked(int row, int side, bool marked) {
    if (rowAt(row) == nullptr) {
        return;
    }
    ResultRow& changed = rows_[static_cast<std::size_t>(row)];
    (side == 1 ? changed.marked1 : changed.marked2) = marked;
    const QModelIndex cell = index(row, side == 1 ? kMark1 : kMark2);
    emit dataChanged(cell, cell, {Qt::CheckStateRole});
}

int ResultsModel::markedCount(int side) const {
    int count = 0;
    for (const ResultRow& row : rows_) {
        count += row.marked(side) ? 1 : 0;
    }
    return count;
}

void ResultsModel::forgetPositions() {
    index_.rowsMoved();
    cellsValid_ = false;
}

const std::vector<std::size_t>* ResultsModel::cellsOf(const std::u16string& path) const {
    if (!cellsValid_) {
        cells_.clear();
        for (std::size_t row = 0; row < rows_.size(); ++row) {
            cells_[rows_[row].pair.path1].push_back(row * 2);
            cells_[rows_[row].pair.path2].push_back(row * 2 + 1);
        }
        cellsValid_ = true;
    }
    const auto found = cells_.find(path);
    return found == cells_.end() ? nullptr : &found->second;
}

bool ResultsModel::fileMarked(const std::u16string& path) const {
    const std::vector<std::size_t>* cells = cellsOf(path);
    return cells != nullptr && std::any_of(cells->begin(), cells->end(), [this](std::size_t cell) {
               return rows_[cell / 2].marked(static_cast<int>(cell % 2) + 1);
           });
}

void ResultsModel::setFileMarked(const std::u16string& path, bool marked) {
    const std::vector<std::size_t>* cells = cellsOf(path);
    if (cells == nullptr) {
        return;
    }
    for (const std::size_t cell : std::vector<std::size_t>(*cells)) {
        setMarked(static_cast<int>(cell / 2), static_cast<int>(cell % 2) + 1, marked);
    }
}

void ResultsModel::setMarkedFiles(const std::unordered_set<std::u16string>& files) {
    for (ResultRow& row : rows_) {
        row.marked1 = files.count(row.pair.path1) != 0;
        row.marked2 = files.count(row.pair.path2) != 0;
    }
    if (!rows_.empty()) {
        emit dataChanged(index(0, kMark1), index(rowCount() - 1, kMark2), {Qt::CheckStateRole});
    }
}

void ResultsModel::setDetails(int row, std::shared_ptr<engine::DetailsRecord> first,
                              std::shared_ptr<engine::DetailsRecord> second) {
    if (rowAt(row) == nullptr) {
        return;
    }
    rows_[static_cast<std::size_t>(row)].details1 = std::move(first);
    rows_[static_cast<std::size_t>(row)].details2 = std::move(second);
}

std::vector<std::uint32_t> ResultsModel::sortOrder(int column, bool directionFlag,
                                                   const QCollator& collator) const {
    const auto count = static_cast<std::uint32_t>(rows_.size());
    const auto& rows = rows_;
    if (column == kFile1 || column == kFile2) {
        const auto path = [&rows, column](std::uint32_t row) {
            return toQString(rows[row].path(column == kFile1 ? 1 : 2));
        };
        if (collator.locale().language() == QLocale::C) {
            // The C locale's collator compares code points with case; fold the case ourselves.
            std::vector<QString> folded;
            folded.reserve(rows.size());
            for (std::uint32_t row = 0; row < count; ++row) {
                folded.push_back(path(row).toCaseFolded());
            }
            return shell::stableRowOrder(
                count, [&folded](std::uint32_t a, std::uint32_t b) { return folded[a] < folded[b]; },
                directionFlag);
        }
        std::vector<QCollatorSortKey> keys;
        keys.reserve(rows.size());
        for (std::uint32_t row = 0; row < count; ++row) {
            keys.push_back(collator.sortKey(path(row)));
        }
        return shell::stableRowOrder(
            count, [&keys](std::uint32_t a, std::uint32_t b) { return keys[a].compare(keys[b]) < 0; },
            directionFlag);
    }
    if (isMarkColumn(column)) {
        const bool first = column == kMark1;
        return shell::stableRowOrder(
            count,
            [&rows, first](std::uint32_t a, std::uint32_t b) {
                return first ? shell::markBefore(rows[a].marked1, rows[b].marked1)
                             : shell::markBefore(rows[a].marked2, rows[b].marked2);
            },
            directionFlag);
    }
    return shell::stableRowOrder(
        count,
        [&rows, column](std::uint32_t a, std::uint32_t b) {
            return shell::percentBefore(percentValue(rows[a].pair, column),
                                        percentValue(rows[b].pair, column));
        },
        directionFlag);
}

void ResultsModel::sort(int column, Qt::SortOrder order) {
    const bool textual = column == kFile1 || column == kFile2 || column == kMark1 || column == kMark2;
    QCollator collator; // the user's locale
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    sortBy(column, (order == Qt::AscendingOrder) == textual, collator);
}

void ResultsModel::sortBy(int column, bool directionFlag, const QCollator& collator) {
    if (column < 0 || column >= kColumnCount || rows_.size() < 2) {
        return;
    }
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const std::vector<std::uint32_t> order = sortOrder(column, directionFlag, collator);
    std::vector<int> newRow(order.size());
    std::vector<ResultRow> sorted;
    sorted.reserve(rows_.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        newRow[order[i]] = static_cast<int>(i);
        sorted.push_back(std::move(rows_[order[i]]));
    }
    rows_.swap(sorted);
    forgetPositions();
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& old : before) {
        after.append(index(newRow[static_cast<std::size_t>(old.row())], old.column()));
    }
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

} // namespace tonemirror::app
