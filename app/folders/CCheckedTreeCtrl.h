#pragma once

#include <QTreeWidget>

#include <functional>
#include <string>
#include <vector>

namespace tonemirror::app {

struct FolderEntry;

// The folder tree of the Folders page: each item carries a check-box image (1 unticked, 2 ticked,
// 3 partly ticked, 4 none) drawn before its folder icon. A click on the image, or Space on the
// current item, only reports the item through checkClicked; what it means is the page's business.
// Levels are filled the first time they are expanded.
class CCheckedTreeCtrl : public QTreeWidget {
    Q_OBJECT
public:
    enum Image { kUnticked = 1, kTicked = 2, kPartial = 3, kNoCheckBox = 4 };

    explicit CCheckedTreeCtrl(QWidget* parent = nullptr);

    // Chooses the image of a new item from its path (empty for an item without a file-system path).
    std::function<int(const std::u16string& path)> imageForPath;
    // Tells whether a new item's folder is, or lies in, a reference folder.
    std::function<bool(const std::u16string& path)> referenceForPath;

    static std::u16string path(const QTreeWidgetItem* item);
    static int image(const QTreeWidgetItem* item);
    static void setImage(QTreeWidgetItem* item, int image);
    // Reference folders, and the folders below them, are written in italics in the link colour.
    void setReferenceLook(QTreeWidgetItem* item, bool reference) const;
    static bool hasReferenceLook(const QTreeWidgetItem* item);

    // Replaces everything with the top-level folders; expands and selects the first.
    void fillTopLevel();
    // Adds the subfolders of the item the first time (no-op once it has children).
    void fillChildren(QTreeWidgetItem* item);
    // Lists every expanded folder again: new subfolders appear, vanished ones go; the others keep
    // their items (ticks, expansion, selection).
    void refreshExpanded();
    // The paths of the expanded folders.
    std::vector<std::u16string> expandedPaths() const;
    // The check-box rectangle of an item in viewport coordinates.
    QRect checkRect(const QTreeWidgetItem* item) const;
    // The loaded item showing this path, or null.
    QTreeWidgetItem* findLoaded(const std::u16string& path) const;

    Q_SIGNAL void checkClicked(QTreeWidgetItem* item);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QTreeWidgetItem* makeItem(const FolderEntry& entry) const;
    QTreeWidgetItem* checkHit(const QPoint& position) const;
    void refreshChildren(QTreeWidgetItem* item);

    QIcon folderIcon_;
};

} // namespace tonemirror::app
