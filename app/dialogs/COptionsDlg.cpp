#include "app/dialogs/COptionsDlg.h"

#include "app/dialogs/DialogUnits.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>

#include <algorithm>

namespace tonemirror::app {

namespace {

// Widens a control to its text when the dialog-unit width cuts it, never past `rightEdge`.
void growToFit(QWidget* control, int rightEdge) {
    const int wanted = control->sizeHint().width();
    if (wanted > control->width()) {
        control->resize(std::min(wanted, rightEdge - control->x()), control->height());
    }
}

float threshold(const QSlider* slider) {
    return engine::thresholdFromPercent(static_cast<std::uint32_t>(slider->value())); // never below 0
}

} // namespace

int sliderPosition(float threshold) {
    // A stored threshold may be any 32-bit number over 100: clamp before the conversion, which
    // would overflow.
    if (!(threshold > 0.0f)) {
        return 0;
    }
    return static_cast<int>(std::min(threshold, 1.0f) * 100.0f + 0.5f);
}

QString sliderLabel(int position) {
    return QString::number(position * 0.01, 'f', 2);
}

COptionsDlg::COptionsDlg(const OptionsValues& values, std::function<bool()> confirmClear,
                         std::function<void()> clearCache, QWidget* parent)
    : QDialog(parent), confirmClear_(std::move(confirmClear)), clearCache_(std::move(clearCache)) {
    setWindowTitle(QStringLiteral("Options"));
    setFont(dialogFont(QStringLiteral("MS Shell Dlg"), 8));
    build(values);
}

void COptionsDlg::build(const OptionsValues& values) {
    const DialogUnits du(font());
    setFixedSize(du.x(272), du.y(141));
    buildMethodGroup(values);
    buildOtherGroup(values);

    du.place(new QGroupBox(QStringLiteral("Sensitivity"), this), 4, 55, 261, 63);
    content_ = addSensitivity(QStringLiteral("Content"), 66, 27, 1013, 1015, values.contentThreshold);
    tags_ = addSensitivity(QStringLiteral("Tags"), 83, 16, 1014, 1016, values.tagsThreshold);
    acoustic_ = addSensitivity(QStringLiteral("Sound"), 100, 22, kAcousticSliderId, kAcousticLabelId,
                               values.acousticThreshold);
    // The sound threshold means something only while matches are verified.
    acoustic_->setEnabled(values.verifyMatches);
    connect(verify_, &QCheckBox::toggled, acoustic_, &QWidget::setEnabled);
    buildButtons();
}

void COptionsDlg::buildMethodGroup(const OptionsValues& values) {
    const DialogUnits du(font());
    du.place(new QGroupBox(QStringLiteral("Compare method"), this), 4, 4, 86, 48);
    method_ = new QButtonGroup(this);
    const struct {
        const char* text;
        int id;
        int top;
        int width;
    } radios[] = {
        {"Only tags", 1007, 18, 63}, {"Only content", 1008, 28, 71}, {"Tags and content", 1009, 38, 72}};
    for (const auto& radio : radios) {
        auto* button = new QRadioButton(QString::fromLatin1(radio.text), this);
        button->setObjectName(QString::number(radio.id));
        du.place(button, 12, radio.top, radio.width, 10);
        growToFit(button, du.x(90 - 4));
        method_->addButton(button, radio.id - 1006); // 1, 2, 3
    }
    const int method = values.compareMethod == 1 || values.compareMethod == 2 ? values.compareMethod : 3;
    method_->button(method)->setChecked(true);
}

void COptionsDlg::buildOtherGroup(const OptionsValues& values) {
    const DialogUnits du(font());
    du.place(new QGroupBox(QStringLiteral("Other"), this), 98, 4, 167, 48);
    const auto addCheck = [&](const char* text, int id, int top, int width, bool checked) {
        auto* box = new QCheckBox(QString::fromLatin1(text), this);
        box->setObjectName(QString::number(id));
        box->setChecked(checked);
        du.place(box, 106, top, width, 10);
        // A font wider than the one the layout was made for may need the slack up to the group's edge.
        growToFit(box, du.x(265 - 4));
        return box;
    };
    checkUpdates_ = addCheck("Check for updates", 1026, 17, 75, values.checkUpdates);
    accurate_ = addCheck("Enable experimental algorithm (very slow)", 1012, 28, 151, values.accurate);
    verify_ = addCheck("Verify matches by sound", kVerifyId, 39, 100, values.verifyMatches);
}

void COptionsDlg::buildButtons() {
    const DialogUnits du(font());
    auto* clear = new QPushButton(QStringLiteral("Clear internal cache"), this);
    clear->setObjectName(QString::number(kClearCacheId));
    clear->setEnabled(static_cast<bool>(clearCache_));
    du.place(clear, 5, 123, 94, 14);
    connect(clear, &QPushButton::clicked, this, &COptionsDlg::onClearCache);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("1"));
    ok->setDefault(true);
    du.place(ok, 162, 123, 50, 14);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("2"));
    du.place(cancel, 218, 123, 50, 14);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

QSlider* COptionsDlg::addSensitivity(const QString& caption, int top, int labelWidth, int sliderId,
                                     int valueLabelId, float threshold) {
    const DialogUnits du(font());
    du.place(new QLabel(caption, this), 10, top, labelWidth, 8);
    auto* slider = new QSlider(Qt::Horizontal, this);
    slider->setObjectName(QString::number(sliderId));
    slider->setRange(0, 100);
    slider->setSingleStep(1);
    du.place(slider, 44, top, 192, 12);
    auto* value = new QLabel(this);
    value->setObjectName(QString::number(valueLabelId));
    du.place(value, 237, top, 24, 8);
    // The label follows every move, by mouse or keys; a stored threshold above 1 leaves the slider at
    // its end.
    connect(slider, &QSlider::valueChanged, value,
            [value](int position) { value->setText(sliderLabel(position)); });
    slider->setValue(sliderPosition(threshold));
    value->setText(sliderLabel(slider->value()));
    return slider;
}

OptionsValues COptionsDlg::values() const {
    OptionsValues result;
    result.compareMethod = method_->checkedId();
    result.checkUpdates = checkUpdates_->isChecked();
    result.accurate = accurate_->isChecked();
    result.contentThreshold = threshold(content_);
    result.tagsThreshold = threshold(tags_);
    result.verifyMatches = verify_->isChecked();
    result.acousticThreshold = threshold(acoustic_);
    return result;
}

void COptionsDlg::onClearCache() {
    if (!clearCache_ || !confirmClear_ || !confirmClear_()) {
        return;
    }
    clearCache_();
    reject(); // other changes made in the dialog are discarded
}

} // namespace tonemirror::app
