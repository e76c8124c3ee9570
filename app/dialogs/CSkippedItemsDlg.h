#pragma once

#include "engine/SkippedItem.h"

#include <QDialog>

#include <cstdint>
#include <vector>

class QLabel;
class QTableView;

namespace tonemirror::app {

struct AppContext;
class SkippedItemsModel;

// "Skipped items": what the last scan left out under the ticked folders, and why. `total` is how
// many were skipped; the list may hold fewer when the engine stopped recording them.
class CSkippedItemsDlg : public QDialog {
    Q_OBJECT
public:
    CSkippedItemsDlg(const AppContext& context, std::vector<engine::SkippedItem> items, std::int64_t total,
                     QWidget* parent = nullptr);

    QString headingText() const;
    SkippedItemsModel* model() const { return model_; }

private:
    QLabel* heading_ = nullptr;
    QTableView* view_ = nullptr;
    SkippedItemsModel* model_ = nullptr;
};

} // namespace tonemirror::app
