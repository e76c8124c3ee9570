#include "app/results/ResultCellDelegate.h"

#include "app/common/PlainText.h"

#include "app/common/RoundedBar.h"
#include "app/results/ResultsModel.h"
#include "shell/ResultCells.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

namespace tonemirror::app {

namespace {

QColor colour(const shell::Rgb& rgb) {
    return QColor(rgb.r, rgb.g, rgb.b);
}

bool isMarkColumn(int column) {
    return column == ResultsModel::kMark1 || column == ResultsModel::kMark2;
}

} // namespace

QRect ResultCellDelegate::barFrame(const QRect& cell) {
    return cell.adjusted(3, 2, -3, -2);
}

QRect ResultCellDelegate::barFill(const QRect& cell, float value) {
    if (cell.width() < shell::kMinimumBarCellWidth || !(value >= 0.0f)) {
        return {};
    }
    const QRect area = barArea(barFrame(cell));
    return QRect(area.left(), area.top(), shell::barFillWidth(area.width(), value), area.height());
}

void ResultCellDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                               const QModelIndex& index) const {
    const int column = index.column();
    if (ResultsModel::isPercentColumn(column)) {
        paintPercent(painter, option, index);
    } else if (isMarkColumn(column)) {
        paintCheck(painter, option, index);
    } else {
        QStyledItemDelegate::paint(painter, option, index);
    }
}

void ResultCellDelegate::paintBackground(QPainter* painter, const QStyleOptionViewItem& option,
                                         const QModelIndex& index) const {
    QStyleOptionViewItem background = option;
    initStyleOption(&background, index);
    background.text.clear();
    background.features &= ~QStyleOptionViewItem::HasCheckIndicator;
    const QWidget* widget = option.widget;
    QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &background, painter, widget);
}

void ResultCellDelegate::paintPercent(QPainter* painter, const QStyleOptionViewItem& option,
                                      const QModelIndex& index) const {
    paintBackground(painter, option, index);
    const QRect cell = option.rect;
    if (cell.width() < shell::kMinimumBarCellWidth) {
        return;
    }
    const float value = index.data(ResultsModel::kValueRole).toFloat();
    painter->save();
    const bool selected = (option.state & QStyle::State_Selected) != 0;
    QColor text = option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
    if (value >= 0.0f) {
        const QRect frame = paintBarFrame(*painter, cell, option.palette);
        const shell::BarColours colours =
            shell::barColours(ResultsModel::percentColumn(index.column()), value);
        paintBarFillWidth(*painter, frame, barFill(cell, value).width(), colour(colours.top),
                          colour(colours.bottom));
        text = option.palette.color(QPalette::Text); // on the frame's window colour
    }
    painter->setPen(text);
    painter->setFont(option.font);
    const QString shown =
        option.fontMetrics.elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideRight, cell.width());
    painter->drawText(cell, Qt::AlignCenter | Qt::TextSingleLine, shown);
    painter->restore();
}

void ResultCellDelegate::paintCheck(QPainter* painter, const QStyleOptionViewItem& option,
                                    const QModelIndex& index) const {
    paintBackground(painter, option, index);
    const QWidget* widget = option.widget;
    QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
    QStyleOptionViewItem box = option;
    const QSize size(style->pixelMetric(QStyle::PM_IndicatorWidth, &option, widget),
                     style->pixelMetric(QStyle::PM_IndicatorHeight, &option, widget));
    box.rect = QRect(QPoint(0, 0), size);
    box.rect.moveCenter(option.rect.center());
    box.state &= ~(QStyle::State_On | QStyle::State_Off);
    box.state |= index.data(Qt::CheckStateRole).toInt() == Qt::Checked ? QStyle::State_On : QStyle::State_Off;
    style->drawPrimitive(QStyle::PE_IndicatorItemViewItemCheck, &box, painter, widget);
}

// A click anywhere in a mark cell toggles the mark; the cell is hardly wider than the box.
bool ResultCellDelegate::editorEvent(QEvent* event, QAbstractItemModel* model,
                                     const QStyleOptionViewItem& option, const QModelIndex& index) {
    if (!isMarkColumn(index.column())) {
        return QStyledItemDelegate::editorEvent(event, model, option, index);
    }
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonDblClick) {
        return type == QEvent::MouseButtonRelease;
    }
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() != Qt::LeftButton || !option.rect.contains(mouse->position().toPoint())) {
        return false;
    }
    const bool marked = index.data(Qt::CheckStateRole).toInt() == Qt::Checked;
    model->setData(index, marked ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
    return false; // the press still selects the row
}

bool ResultCellDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view,
                                   const QStyleOptionViewItem& option, const QModelIndex& index) {
    if (event->type() != QEvent::ToolTip) {
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    }
    const QString text = index.data(Qt::DisplayRole).toString();
    const int margin = 2 * (view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1);
    if (text.isEmpty() || option.fontMetrics.horizontalAdvance(text) + margin <= option.rect.width()) {
        QToolTip::hideText();
        return true;
    }
    QToolTip::showText(event->globalPos(), plainToolTip(text), view, option.rect);
    return true;
}

} // namespace tonemirror::app
