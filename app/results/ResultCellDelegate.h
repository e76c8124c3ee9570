#pragma once

#include <QStyledItemDelegate>

namespace tonemirror::app {

// Paints the cells of the results list: the percent columns as framed gradient bars with their
// text, the mark columns as centred check boxes that a click toggles, and the paths as plain text
// with a tool tip only when it is cut.
class ResultCellDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

    // The rectangle of a percent cell's bar frame and of its filled part, for a cell rectangle and a
    // value; the fill is empty for a negative value or a cell too narrow to draw.
    static QRect barFrame(const QRect& cell);
    static QRect barFill(const QRect& cell, float value);

private:
    void paintPercent(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const;
    void paintCheck(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const;
    void paintBackground(QPainter* painter, const QStyleOptionViewItem& option,
                         const QModelIndex& index) const;
};

} // namespace tonemirror::app
