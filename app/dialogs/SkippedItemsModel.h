#pragma once

#include "engine/SkippedItem.h"

#include <QAbstractTableModel>
#include <QString>

#include <vector>

namespace tonemirror::app {

struct AppContext;

// What a scan left out, one item a row: its name, the reason in the current language and the
// detail (the first name of a file reached twice, the system's words for an error).
class SkippedItemsModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { kName, kReason, kDetail, kColumnCount };

    SkippedItemsModel(const AppContext& context, std::vector<engine::SkippedItem> items,
                      QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // The reason as the user reads it, translated.
    static QString reasonText(const AppContext& context, engine::SkipReason reason);

private:
    const AppContext& context_;
    std::vector<engine::SkippedItem> items_;
    QString headers_[kColumnCount];
};

} // namespace tonemirror::app
