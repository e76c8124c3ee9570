#pragma once

#include "shell/Preferences.h"

#include <QDialog>

#include <functional>

class QButtonGroup;
class QCheckBox;
class QLabel;
class QSlider;

namespace tonemirror::app {

// What the Options dialog shows and returns.
using OptionsValues = shell::OptionsPreferences;

// The modal Options dialog. Controls carry their numbers as object names ("1013" is the content
// slider). Its texts are not translated, except the cache question.
class COptionsDlg : public QDialog {
    Q_OBJECT
public:
    // `clearCache` empties the cache; null disables the button (a scan is running).
    // `confirmClear` asks the user and returns true for Yes.
    COptionsDlg(const OptionsValues& values, std::function<bool()> confirmClear,
                std::function<void()> clearCache, QWidget* parent = nullptr);

    // The controls as they stand: method from the radio buttons, flags, thresholds from the sliders.
    OptionsValues values() const;

    static constexpr int kClearCacheId = 32784;
    // The sound check: its check box, slider and value label.
    static constexpr int kVerifyId = 1017;
    static constexpr int kAcousticSliderId = 1018;
    static constexpr int kAcousticLabelId = 1019;

private:
    void build(const OptionsValues& values);
    void buildMethodGroup(const OptionsValues& values);
    void buildOtherGroup(const OptionsValues& values);
    void buildButtons();
    QSlider* addSensitivity(const QString& caption, int top, int labelWidth, int sliderId, int valueLabelId,
                            float threshold);
    void onClearCache();

    std::function<bool()> confirmClear_;
    std::function<void()> clearCache_;
    QButtonGroup* method_ = nullptr;
    QCheckBox* checkUpdates_ = nullptr;
    QCheckBox* accurate_ = nullptr;
    QSlider* content_ = nullptr;
    QSlider* tags_ = nullptr;
    QCheckBox* verify_ = nullptr;
    QSlider* acoustic_ = nullptr;
};

// Slider position for a threshold: threshold * 100 + 0.5, truncated, the threshold first clamped to
// [0, 1].
int sliderPosition(float threshold);
// The label text of a slider position: position * 0.01 with two decimals ("0.83").
QString sliderLabel(int position);

} // namespace tonemirror::app
