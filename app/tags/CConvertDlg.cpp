#include "app/tags/CConvertDlg.h"

#include "app/AppContext.h"
#include "app/tags/EditText.h"
#include "app/tags/TagPanePainting.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QKeyEvent>
#include <QPainter>
#include <QPushButton>

namespace tonemirror::app {

CConvertDlg::CConvertDlg(AppContext& context, Direction direction, const std::vector<std::u16string>& history,
                         QWidget* owner)
    : QWidget(owner, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      context_(context), direction_(direction) {
    setObjectName(QStringLiteral("Tonemirror:ConvertDlg"));
    setWindowTitle(direction == Direction::FilenameToTags
                       ? context.text(u"FILENAME_TO_TAGS", u"Filename -> Tags")
                       : context.text(u"TAGS_TO_FILENAME", u"Tags -> Filename"));
    setFont(tagPaneFont());
    setFixedSize(400, 150);
    box_ = new QComboBox(this);
    box_->setObjectName(QStringLiteral("Pattern"));
    box_->setEditable(true);
    box_->setInsertPolicy(QComboBox::NoInsert);
    box_->setCompleter(nullptr);
    for (const std::u16string& pattern : history) {
        box_->addItem(toQString(pattern));
    }
    if (history.empty()) {
        box_->setEditText(QStringLiteral("<track>. <artist> - <title>"));
    } else {
        box_->setCurrentIndex(0);
    }
    apply_ = new QPushButton(context.text(u"APPLY", u"Apply"), this);
    apply_->setDefault(true);
    cancel_ = new QPushButton(context.text(u"CANCEL", u"Cancel"), this);
    connect(apply_, &QPushButton::clicked, this, &CConvertDlg::apply);
    connect(cancel_, &QPushButton::clicked, this, &CConvertDlg::cancel);
    layoutControls();
    box_->setFocus();
}

void CConvertDlg::layoutControls() {
    const int w = width();
    const int h = height();
    box_->setGeometry(70, 5, w - 75, 26);
    apply_->setGeometry(w - 200, h - 33, 95, 28);
    cancel_->setGeometry(w - 100, h - 33, 95, 28);
}

void CConvertDlg::centreOn(const QWidget* widget) {
    const QPoint centre = widget->mapToGlobal(widget->rect().center());
    move(centre.x() - width() / 2, centre.y() - height() / 2);
}

void CConvertDlg::apply() {
    pattern_ = trimmedEditText(box_->currentText().left(1023));
    finish(kApply);
}

void CConvertDlg::cancel() {
    finish(kCancel);
}

void CConvertDlg::finish(int button) {
    if (finished_) {
        return;
    }
    finished_ = true;
    hide();
    QMetaObject::invokeMethod(
        this, [this, button] { emit closed(button); }, Qt::QueuedConnection);
}

void CConvertDlg::closeEvent(QCloseEvent* event) {
    finish(kCancel);
    event->accept();
}

void CConvertDlg::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        cancel();
        return;
    }
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        apply();
        return;
    }
    QWidget::keyPressEvent(event);
}

void CConvertDlg::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutControls();
}

void CConvertDlg::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paintTagPaneBackground(painter, rect());
    drawTagPaneLabel(painter, QRect(QPoint(5, 5), QPoint(69, 28)),
                     context_.text(u"CONVERT_FORMAT", u"Format:"));
    painter.setPen(Qt::black);
    const int wrap = Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap;
    painter.drawText(QRect(QPoint(5, 40), QPoint(394, 119)), wrap, context_.text(u"CONVERT_USE", u"Use:"));
    painter.setPen(QColor(100, 100, 100));
    painter.drawText(QRect(QPoint(70, 40), QPoint(394, 119)), wrap,
                     QStringLiteral("<title>, <artist>, <album>, <year>, <track>, <comment>, <genre>"));
}

} // namespace tonemirror::app
