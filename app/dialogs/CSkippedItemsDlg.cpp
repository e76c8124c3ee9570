#include "app/dialogs/CSkippedItemsDlg.h"

#include "app/AppContext.h"
#include "app/dialogs/SkippedItemsModel.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QTableView>
#include <QVBoxLayout>

namespace tonemirror::app {

CSkippedItemsDlg::CSkippedItemsDlg(const AppContext& context, std::vector<engine::SkippedItem> items,
                                   std::int64_t total, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(context.text(u"SKIPPED_TITLE", u"Skipped items"));
    const auto listed = static_cast<std::int64_t>(items.size());
    QString heading = context.text(u"SKIPPED_HEADING", u"The last scan left out %1 item(s):").arg(total);
    if (listed < total) {
        heading += QLatin1Char(' ') + context.text(u"SKIPPED_FIRST", u"the first %1 are listed.").arg(listed);
    }
    heading_ = new QLabel(heading, this);
    heading_->setWordWrap(true);
    heading_->setTextFormat(Qt::PlainText);

    model_ = new SkippedItemsModel(context, std::move(items), this);
    view_ = new QTableView(this);
    view_->setModel(model_);
    view_->setSelectionBehavior(QAbstractItemView::SelectRows);
    view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view_->setShowGrid(false);
    view_->setWordWrap(false);
    view_->setTextElideMode(Qt::ElideMiddle);
    view_->verticalHeader()->hide();
    // One line a row at a fixed height keeps a long list cheap to lay out.
    view_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view_->verticalHeader()->setDefaultSectionSize(view_->fontMetrics().height() + 6);
    view_->horizontalHeader()->resizeSection(SkippedItemsModel::kName, 380);
    view_->horizontalHeader()->resizeSection(SkippedItemsModel::kReason, 260);
    view_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    view_->horizontalHeader()->setStretchLastSection(true);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(heading_);
    layout->addWidget(view_, 1);
    layout->addWidget(buttons);
    resize(820, 420);
}

QString CSkippedItemsDlg::headingText() const {
    return heading_->text();
}

} // namespace tonemirror::app
