#pragma once

#include "app/results/ResultRow.h"
#include "shell/PairRowIndex.h"
#include "shell/ResultCells.h"

#include <QAbstractTableModel>
#include <QPixmap>

#include <cstdint>
#include <functional>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class QCollator;

namespace tonemirror::app {

// The row store of the results list: one row per reported pair in display order, which every
// command and the playlist use. Rows carry their own marks and details references.
class ResultsModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // The acoustic match comes after the seven classic columns, whose numbers stay as they are.
    enum Column { kMark1, kFile1, kContent, kTags, kExperimental, kMark2, kFile2, kAcoustic, kColumnCount };
    // The score of a percent cell as a float (Qt::UserRole).
    static constexpr int kValueRole = Qt::UserRole;

    // A text of the current language for a translation key and its English default.
    using Translate = std::function<QString(const char16_t* key, std::u16string_view english)>;

    explicit ResultsModel(Translate translate, QObject* parent = nullptr);

    // Columns that show a score as a percent cell, and which score each shows.
    static bool isPercentColumn(int column);
    static shell::PercentColumn percentColumn(int column);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    const std::vector<ResultRow>& rows() const { return rows_; }
    // The listed pairs in display order, for the playlist and the exports.
    std::vector<engine::DuplicatePair> pairs() const;
    // Null for a row out of range.
    const ResultRow* rowAt(int row) const;
    void setDetails(int row, std::shared_ptr<engine::DetailsRecord> first,
                    std::shared_ptr<engine::DetailsRecord> second);

    // New pairs are appended in order as one insertion; then each score goes to the rows listing its
    // pair and is dropped when there is none.
    void addResults(engine::PendingResults results);
    int appendRow(engine::DuplicatePair pair);
    void clearRows();
    void removeRow(int row);
    // Removes every row holding one of `paths` on either side; the rest keep their order.
    int removeRowsWithPaths(const std::unordered_set<std::u16string>& paths);
    // Removes the rows whose flag is set (one flag per row).
    int removeRowsWhere(const std::vector<bool>& remove);

    // 1 for File #1, 2 for File #2.
    void setMarked(int row, int side, bool marked);
    int markedCount(int side) const;

    // Marks by file, as the groups view shows them: a file counts as marked while any cell holding
    // it is, and marking a file marks every cell holding it. The cells stay the one store of marks,
    // so the pairs list still marks the same file in two rows separately.
    bool fileMarked(const std::u16string& path) const;
    void setFileMarked(const std::u16string& path, bool marked);
    // Every cell holding one of `files` is marked, every other cell cleared.
    void setMarkedFiles(const std::unordered_set<std::u16string>& files);

    // Stable sort by a column; a cleared flag reverses the column's order. Paths compare through the
    // collator's sort keys.
    void sortBy(int column, bool directionFlag, const QCollator& collator);
    // Qt's sort: paths and marks A to Z when ascending, scores highest first when descending, paths
    // compared as the user's locale orders them, ignoring case.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    // The texts of the current language (headers, "wait").
    void retranslate();

private:
    void insertPairs(std::vector<engine::DuplicatePair>& pairs);
    // Rows and sides (row * 2 + side - 1) holding a file; rebuilt after rows change.
    const std::vector<std::size_t>* cellsOf(const std::u16string& path) const;
    void forgetPositions();
    void applyScore(const engine::ExperimentalScore& score);
    std::vector<std::uint32_t> sortOrder(int column, bool directionFlag, const QCollator& collator) const;
    QString percentCellText(int column, float value) const;
    QString experimentalFailureText(analysis::AnalysisFailure failure) const;

    Translate translate_;
    std::vector<ResultRow> rows_;
    shell::PairRowIndex index_; // where the experimental scores go
    mutable std::unordered_map<std::u16string, std::vector<std::size_t>> cells_;
    mutable bool cellsValid_ = false;

    QString headers_[kColumnCount];
    QString waitText_;
    QPixmap checkHeader_;
};

} // namespace tonemirror::app
