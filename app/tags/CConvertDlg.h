#pragma once

#include <QWidget>

#include <string>
#include <vector>

class QComboBox;
class QPushButton;

namespace tonemirror::app {

struct AppContext;

// The small tool window where the user enters the pattern of a name/tag conversion. Apply and
// Cancel (and the close box, as Cancel) hide it and then report the button through `closed`,
// posted, so the owner acts after the window is gone from the screen.
class CConvertDlg : public QWidget {
    Q_OBJECT
public:
    enum class Direction { FilenameToTags, TagsToFilename };
    static constexpr int kApply = 1;
    static constexpr int kCancel = 2;

    // history: the direction's earlier patterns, newest first.
    CConvertDlg(AppContext& context, Direction direction, const std::vector<std::u16string>& history,
                QWidget* owner);

    Direction direction() const { return direction_; }
    // The trimmed pattern taken when Apply was pressed.
    const std::u16string& pattern() const { return pattern_; }
    QComboBox* patternBox() const { return box_; }

    void apply();
    void cancel();
    // Centres the window on a widget (the Folders page).
    void centreOn(const QWidget* widget);

    Q_SIGNAL void closed(int button);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void finish(int button);
    void layoutControls();

    AppContext& context_;
    Direction direction_;
    std::u16string pattern_;
    QComboBox* box_ = nullptr;
    QPushButton* apply_ = nullptr;
    QPushButton* cancel_ = nullptr;
    bool finished_ = false;
};

} // namespace tonemirror::app
