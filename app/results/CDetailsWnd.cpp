#include "app/results/CDetailsWnd.h"

#include "app/AppContext.h"
#include "app/common/CommandIds.h"
#include "app/results/CSuperButton.h"
#include "shell/ResultCells.h"

#include <QLinearGradient>
#include <QPainter>

#include <algorithm>

namespace tonemirror::app {

namespace {

constexpr int kButtonWidth = 100;
constexpr int kButtonHeight = 30;
constexpr int kTop = 5;
constexpr int kSeparatorBottom = kTop + CDetailsWnd::kRows * CDetailsWnd::kRowHeight + 15;
constexpr int kSeparatorDarkest = 90;

QFont paneFont(bool bold) {
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(16);
    font.setBold(bold);
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

enum Row {
    kArtist,
    kTitle,
    kAlbum,
    kDuration,
    kSize,
    kBitRate,
    kFolder,
    kFileName,
    kFormat,
    kQuality,
    kTags
};

} // namespace

CDetailsWnd::CDetailsWnd(AppContext& context, QWidget* parent)
    : QWidget(parent), context_(context), labelFont_(paneFont(true)), valueFont_(paneFont(false)),
      boldValueFont_(paneFont(true)) {
    setObjectName(QStringLiteral("Tonemirror:DetailsWnd"));
    const int commands[4] = {cmd::kDelete1, cmd::kPlay1, cmd::kDelete2, cmd::kPlay2};
    for (int i = 0; i < 4; ++i) {
        buttons_[i] = new CSuperButton(commands[i], QString(), this);
        buttons_[i]->resize(kButtonWidth, kButtonHeight);
        connect(buttons_[i], &CSuperButton::commandRequested, this, &CDetailsWnd::commandRequested);
    }
    layoutButtons();
    retranslate();
}

CSuperButton* CDetailsWnd::button(int command) const {
    for (CSuperButton* button : buttons_) {
        if (button->command() == command) {
            return button;
        }
    }
    return nullptr;
}

void CDetailsWnd::setRecords(std::shared_ptr<const engine::DetailsRecord> first,
                             std::shared_ptr<const engine::DetailsRecord> second) {
    first_ = std::move(first);
    second_ = std::move(second);
    update();
}

void CDetailsWnd::retranslate() {
    const QString deleteText = context_.text(u"DELETE", u"Delete");
    const QString playText = context_.text(u"PLAY", u"Play");
    buttons_[0]->setText(deleteText);
    buttons_[1]->setText(playText);
    buttons_[2]->setText(deleteText);
    buttons_[3]->setText(playText);
    update();
}

QString CDetailsWnd::label(int row) const {
    switch (row) {
    case kArtist:
        return context_.text(u"DETAILS_ARTIST", u"artist");
    case kTitle:
        return context_.text(u"DETAILS_TITLE", u"title");
    case kAlbum:
        return context_.text(u"DETAILS_ALBUM", u"album");
    case kDuration:
        return context_.text(u"DETAILS_DURATION", u"duration");
    case kSize:
        return context_.text(u"DETAILS_SIZE", u"size");
    case kBitRate:
        return context_.text(u"DETAILS_BITRATE", u"bitrate");
    case kFolder:
        return context_.text(u"DETAILS_FOLDER", u"folder");
    case kFormat:
        return context_.text(u"DETAILS_FORMAT", u"format");
    case kQuality:
        return context_.text(u"DETAILS_QUALITY", u"quality");
    case kTags:
        return context_.text(u"DETAILS_TAGS", u"tags");
    default:
        return context_.text(u"DETAILS_FILENAME", u"filename");
    }
}

CDetailsWnd::Value CDetailsWnd::value(int row, int side) const {
    const engine::DetailsRecord* mine = (side == 1 ? first_ : second_).get();
    const engine::DetailsRecord* other = (side == 1 ? second_ : first_).get();
    if (mine == nullptr) {
        return {};
    }
    const shell::DetailsEmphasis bold = shell::detailsEmphasis(mine, other);
    switch (row) {
    case kArtist:
        return {toQString(mine->artist)};
    case kTitle:
        return {toQString(mine->title)};
    case kAlbum:
        return {toQString(mine->album)};
    case kDuration:
        return {toQString(shell::durationText(mine->durationMs)), bold.duration};
    case kSize:
        return {toQString(shell::sizeText(mine->sizeBytes)), bold.size};
    case kBitRate:
        return {toQString(shell::bitRateText(mine->bitRate)), bold.bitRate};
    case kFolder:
        return {windowName(mine->folder)};
    case kFormat:
        return {formatText(*mine), bold.format};
    case kQuality:
        return {qualityText(*mine), bold.quality};
    case kTags:
        return {mine->sampleRate == 0
                    ? QString()
                    : context_.text(u"DETAILS_TAGS_VALUE", u"%1 of 3 filled").arg(mine->tagFields),
                bold.tags};
    default:
        return {windowName(mine->fileName)};
    }
}

// "flac, 44100 Hz, stereo"; empty when the quality was not read.
QString CDetailsWnd::formatText(const engine::DetailsRecord& record) const {
    if (record.sampleRate == 0) {
        return {};
    }
    const QString channels = record.channels == 1 ? context_.text(u"DETAILS_MONO", u"mono")
                             : record.channels == 2
                                 ? context_.text(u"DETAILS_STEREO", u"stereo")
                                 : context_.text(u"DETAILS_CHANNELS", u"%1 channels").arg(record.channels);
    const QString format =
        record.format.empty() ? QStringLiteral("?") : QString::fromStdString(record.format);
    return QStringLiteral("%1, %2 Hz, %3").arg(format).arg(record.sampleRate).arg(channels);
}

QString CDetailsWnd::qualityText(const engine::DetailsRecord& record) const {
    if (record.sampleRate == 0) {
        return {};
    }
    if (record.probablyTranscoded) {
        return context_.text(u"DETAILS_TRANSCODED", u"probably transcoded (ends at %1 kHz)")
            .arg(record.cutoffHz / 1000.0, 0, 'f', 1);
    }
    return record.lossless ? context_.text(u"DETAILS_LOSSLESS", u"lossless")
                           : context_.text(u"DETAILS_LOSSY", u"lossy");
}

void CDetailsWnd::resizeEvent(QResizeEvent*) {
    if (!isMinimized()) {
        layoutButtons();
    }
}

void CDetailsWnd::layoutButtons() {
    const int right = width() - 110;
    buttons_[0]->move(10, 10);
    buttons_[1]->move(10, 50);
    buttons_[2]->move(right, 10);
    buttons_[3]->move(right, 50);
}

void CDetailsWnd::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QLinearGradient background(0, 0, 0, height());
    background.setColorAt(0.0, QColor(177, 195, 224));
    background.setColorAt(1.0, Qt::white);
    painter.fillRect(rect(), background);
    const int w = width();
    if (w < kMinimumWidth) {
        return;
    }
    const int labels = labelColumnWidth();
    const int a = (w - labels - 20) / 2; // width of each value column
    paintSeparator(painter, a + 10);
    paintSeparator(painter, a + 9 + labels);
    painter.setPen(Qt::black);
    painter.setFont(labelFont_);
    for (int row = 0; row < kRows; ++row) {
        const QRect cell(a + 10, kTop + row * kRowHeight, labels, kRowHeight);
        painter.drawText(cell, Qt::AlignCenter | Qt::TextSingleLine, label(row));
    }
    paintColumn(painter, 1, QRect(5, kTop, a, kRowHeight), Qt::AlignRight);
    paintColumn(painter, 2, QRect(a + 15 + labels, kTop, a, kRowHeight), Qt::AlignLeft);
}

int CDetailsWnd::labelColumnWidth() const {
    // Wide enough for the longest label of the current language, with room on both sides of it.
    const QFontMetrics metrics(labelFont_);
    int widest = 0;
    for (int row = 0; row < kRows; ++row) {
        widest = std::max(widest, metrics.horizontalAdvance(label(row)));
    }
    return std::max(kLabelColumnWidth, widest + 2 * kLabelPadding);
}

// Shaded from grey at both ends to dark at y = 90.
void CDetailsWnd::paintSeparator(QPainter& painter, int x) const {
    const QColor grey(128, 128, 128);
    QLinearGradient shade(0, kTop, 0, kSeparatorBottom);
    shade.setColorAt(0.0, grey);
    shade.setColorAt(double(kSeparatorDarkest - kTop) / (kSeparatorBottom - kTop), QColor(32, 32, 32));
    shade.setColorAt(1.0, grey);
    painter.fillRect(QRect(x, kTop, 1, kSeparatorBottom - kTop), shade);
}

void CDetailsWnd::paintColumn(QPainter& painter, int side, const QRect& column,
                              Qt::Alignment alignment) const {
    painter.setPen(Qt::black);
    for (int row = 0; row < kRows; ++row) {
        const Value shown = value(row, side);
        const QFont& font = shown.bold ? boldValueFont_ : valueFont_;
        painter.setFont(font);
        const QRect cell = column.translated(0, row * kRowHeight);
        const QString text = QFontMetrics(font).elidedText(shown.text, Qt::ElideMiddle, cell.width());
        painter.drawText(cell, alignment | Qt::AlignVCenter | Qt::TextSingleLine, text);
    }
}

} // namespace tonemirror::app
