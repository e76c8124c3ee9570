#pragma once

#include "engine/DuplicatePair.h"
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

// The row store of the results list: one DuplicatePair per row in display order, which every
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

    const std::vector<engine::DuplicatePair>& rows() const { return rows_; }
    // Null for a row out of range.
    const engine::DuplicatePair* rowAt(int row) const;
    void setDetails(int row, std::shared_ptr<engine::DetailsRecord> first,
                    std::shared_ptr<engine::DetailsRecord> second);

    // New pairs are appended in order, each run of them as one insertion; an update (isUpdate) gives
    // its experimental score to the rows with the same two paths and is dropped when there is none.
    void addPairs(std::vector<engine::DuplicatePair> pairs);
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

    // Stable sort by a column; a cleared flag reverses the column's order. Paths compare through the
    // collator's sort keys.
    void sortBy(int column, bool directionFlag, const QCollator& collator);
    // Qt's sort: paths and marks A to Z when ascending, scores highest first when descending, paths
    // compared as the user's locale orders them, ignoring case.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    // The texts of the current language (headers, "wait").
    void retranslate();

private:
    void insertRun(std::vector<engine::DuplicatePair>& run);
    void applyUpdate(const engine::DuplicatePair& update);
    void rebuildIndex();
    std::vector<std::uint32_t> sortOrder(int column, bool directionFlag, const QCollator& collator) const;
    QString percentCellText(int column, float value) const;
    QString experimentalFailureText(analysis::AnalysisFailure failure) const;
    static std::size_t pairHash(const engine::DuplicatePair& pair);

    Translate translate_;
    std::vector<engine::DuplicatePair> rows_;
    // Rows by the hash of their two paths, for experimental updates; rebuilt lazily after rows move.
    std::unordered_multimap<std::size_t, int> index_;
    bool indexValid_ = true;
    QString headers_[kColumnCount];
    QString waitText_;
    QPixmap checkHeader_;
};

} // namespace tonemirror::app
