#pragma once

#include "app/tags/CConvertDlg.h"

#include <QObject>
#include <QPointer>

#include <array>
#include <functional>
#include <string>
#include <vector>

namespace tonemirror::audio {
class TagAccess;
}

namespace tonemirror::app {

struct AppContext;

// The name/tag conversion as the user meets it: the conversion panel over the page that lists the
// files (the page is disabled while it is open), the recent patterns of each direction, and Apply
// converting the selected files and naming those it could not convert.
class NameTagWorkflow : public QObject {
    Q_OBJECT
public:
    // What the workflow needs of the page.
    struct Page {
        QWidget* widget = nullptr;
        std::function<std::vector<std::u16string>()> selectedFiles;
        // Before the first file: edits waiting for the files land on the names they were made for.
        std::function<void()> beforeConverting;
        // After the last file: true when at least one was converted.
        std::function<void(bool anyConverted)> afterConverting;
    };

    NameTagWorkflow(AppContext& context, audio::TagAccess& tags, Page page);

    // Opens the panel for a direction, unless one is open.
    void open(CConvertDlg::Direction direction);
    // Converts the selected files as Apply does; how many were converted.
    int apply(CConvertDlg::Direction direction, const std::u16string& pattern);
    CConvertDlg* panel() const { return panel_; }

private:
    void onClosed(int button);
    void readHistories();
    void rememberPattern(CConvertDlg::Direction direction, const std::u16string& pattern);

    AppContext& context_;
    audio::TagAccess& tags_;
    Page page_;
    QPointer<CConvertDlg> panel_;
    std::array<std::vector<std::u16string>, 2> histories_; // Filename -> Tags, Tags -> Filename
    bool historiesRead_ = false;
};

} // namespace tonemirror::app
