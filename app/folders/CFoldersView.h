#pragma once

#include <QSplitter>

#include <string>
#include <vector>

class QLabel;

namespace tonemirror::app {

struct AppContext;

// The "Folders" page: the folder tree where the user ticks folders to scan, the hint under it, the
// file list of the selected folder and the tag editor.
class CFoldersView : public QSplitter {
    Q_OBJECT
public:
    CFoldersView(AppContext& context, QWidget* parent = nullptr);

    // The ticked folders in tick order: read when a scan starts, loaded from "Folders" at start.
    const std::vector<std::u16string>& tickedFolders() const { return ticked_; }
    void setTickedFolders(std::vector<std::u16string> folders);

    // File list view mode: commands 111 (medium icons) to 114 (details).
    void setViewMode(int command);
    // Pane sizes once the window has its size.
    void setInitialPaneSizes();
    // Re-reads every text after a language switch.
    void retranslate();

private:
    void refreshHint();

    AppContext& context_;
    std::vector<std::u16string> ticked_;
    QLabel* hint_ = nullptr;
};

} // namespace tonemirror::app
