#pragma once

#include "app/folders/FileViewMode.h"
#include "app/tags/CConvertDlg.h"
#include "shell/DiskFolders.h"
#include "shell/ReferenceFolders.h"
#include "shell/TickedFolders.h"

#include <QSplitter>

#include <functional>
#include <string>
#include <vector>

class QAction;
class QFileSystemWatcher;
class QLabel;
class QTimer;
class QMenu;
class QTreeWidgetItem;
class QUrl;

namespace tonemirror::app {

struct AppContext;
class CCheckedTreeCtrl;
class CFileList;
class CTagEditWnd;
class NameTagWorkflow;

// The "Folders" page: the folder tree where the user ticks folders to scan with the hint under it,
// and the file list of the selected folder with the tag editor under it. The page keeps the ticked
// folders a scan starts from; the frame stores them as "Folders" when a scan starts.
class CFoldersView : public QSplitter {
    Q_OBJECT
public:
    CFoldersView(AppContext& context, QWidget* parent = nullptr);
    ~CFoldersView() override;

    // The ticked folders in tick order: read when a scan starts, loaded from "Folders" at start
    // (where a folder that repeats another or lies inside another gives way to the innermost one).
    const std::vector<std::u16string>& tickedFolders() const { return ticked_.folders(); }
    void setTickedFolders(std::vector<std::u16string> folders);

    void setViewMode(FileViewMode mode);
    // The menu bar's view modes of the file list (their command numbers are the modes).
    void useViewCommands(const std::vector<QAction*>& actions);
    // Pane sizes once the window has its size.
    void setInitialPaneSizes();
    // Re-reads every text after a language switch.
    void retranslate();
    // Lists the expanded folders and the shown folder again (View > Refresh, and on its own when one
    // of them changes on disk); the selected files stay selected.
    void refresh();

    // Commands of the file list's context menu: 115 Filename -> Tags, 116 Tags -> Filename, 117 Delete.
    void runCommand(int id);
    // Runs a conversion over the selected files, as Apply in the conversion window does; returns how
    // many files were converted.
    int applyConversion(CConvertDlg::Direction direction, const std::u16string& pattern);
    // The right-click menu of the file list: on an item, the file menu when the selection holds a file
    // (null otherwise); on empty space, the View submenu. The caller owns it.
    QMenu* contextMenu(bool onItem);

    // The folders chosen with "Use as reference" in the tree's menu, kept in the settings.
    const std::vector<std::u16string>& referenceFolders() const { return references_.folders(); }
    void setReference(const std::u16string& folder, bool chosen);
    // The tree's right-click menu for a folder ("Use as reference"); null for an item that is no
    // folder on disk. The caller owns it.
    QMenu* folderMenu(QTreeWidgetItem* item);

    // Opens a file with its default application.
    std::function<bool(const QUrl& file)> openFile;

    CCheckedTreeCtrl* tree() const { return tree_; }
    CFileList* fileList() const { return list_; }
    CTagEditWnd* tagEditor() const { return editor_; }
    bool tagEditorShown() const;
    QString hintText() const;
    CConvertDlg* conversionWindow() const;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void applyPaneSizes();
    QWidget* createLeftPane();
    QWidget* createRightPane();
    int imageFor(const std::u16string& path) const;
    void refreshHint();
    void refreshAllImages();
    void refreshImages(QTreeWidgetItem* item, const std::u16string& changed);
    void onCheckClicked(QTreeWidgetItem* item);
    void onTreeContextMenu(const QPoint& position);
    void refreshReferenceLook();
    void onFolderSelected(QTreeWidgetItem* item);
    void onRowDoubleClicked(int row);
    void onListContextMenu(const QPoint& globalPosition, bool onItem);
    QMenu* fileMenu();
    void reloadTagEditor();
    void hideTagEditor();
    // Loads the list's selection into the editor once the current event has been handled.
    void reloadTagEditorLater();
    bool selectionHoldsFile() const;
    std::vector<std::u16string> selectedFiles() const;
    void createConversion();
    void deleteSelection();
    void watchShownFolders();

    AppContext& context_;
    shell::DiskFolders disk_;
    shell::TickedFolders ticked_{disk_};
    shell::ReferenceFolders references_;
    CCheckedTreeCtrl* tree_ = nullptr;
    QLabel* hint_ = nullptr;
    CFileList* list_ = nullptr;
    QWidget* editorFrame_ = nullptr;
    CTagEditWnd* editor_ = nullptr;
    bool initialSizesPending_ = false;
    double treeShare_ = 0; // the tree pane's part of the width, kept when the page is resized
    bool reloadQueued_ = false;
    NameTagWorkflow* conversion_ = nullptr;
    QFileSystemWatcher* watcher_ = nullptr;
    QTimer* refreshSoon_ = nullptr; // gathers a burst of changes into one refresh
};

} // namespace tonemirror::app
