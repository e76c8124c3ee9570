#pragma once

#include "engine/DetailsRecord.h"

#include <QFont>
#include <QWidget>

#include <memory>

namespace tonemirror::app {

struct AppContext;
class CSuperButton;

// The details pane under the results list: the two files of the selected row side by side (tags,
// duration, size, bit rate, folder, file name, then the quality: format, lossless or lossy, filled
// tag fields), the better value of the two in bold, and a Delete and a Play button for each file.
class CDetailsWnd : public QWidget {
    Q_OBJECT
public:
    static constexpr int kRows = 11;
    static constexpr int kRowHeight = 20;
    static constexpr int kMinimumWidth = 200;     // narrower, only the background and buttons show
    static constexpr int kLabelColumnWidth = 100; // between the divider lines, at least
    static constexpr int kLabelPadding = 6;       // between a label and each divider line

    explicit CDetailsWnd(AppContext& context, QWidget* parent = nullptr);

    // Either record may be null: its column stays empty.
    void setRecords(std::shared_ptr<const engine::DetailsRecord> first,
                    std::shared_ptr<const engine::DetailsRecord> second);
    void retranslate();

    struct Value {
        QString text;
        bool bold = false;
    };
    // The value shown in a row (0 artist ... 7 file name, 8 format, 9 quality, 10 tags) for side 1
    // (left) or 2 (right).
    Value value(int row, int side) const;
    QString label(int row) const;
    CSuperButton* button(int command) const;
    // Pixels between the two divider lines: the longest label with its padding.
    int labelColumnWidth() const;

    // Commands 101/102 (Delete) and 105/106 (Play) of the left and right file.
    Q_SIGNAL void commandRequested(int command);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void layoutButtons();
    QString formatText(const engine::DetailsRecord& record) const;
    QString qualityText(const engine::DetailsRecord& record) const;
    void paintSeparator(QPainter& painter, int x) const;
    void paintColumn(QPainter& painter, int side, const QRect& column, Qt::Alignment alignment) const;

    AppContext& context_;
    std::shared_ptr<const engine::DetailsRecord> first_;
    std::shared_ptr<const engine::DetailsRecord> second_;
    QFont labelFont_;
    QFont valueFont_;
    QFont boldValueFont_;
    CSuperButton* buttons_[4] = {}; // left Delete, left Play, right Delete, right Play
};

} // namespace tonemirror::app
