#pragma once

#include "app/folders/FileViewMode.h"

#include <QHash>
#include <QIcon>
#include <QWidget>

#include <functional>
#include <string>
#include <vector>

class QAbstractItemView;
class QItemSelectionModel;
class QListView;
class QStackedWidget;
class QStandardItemModel;
class QTreeView;

namespace tonemirror::app {

struct FolderEntry;

// The file list of the Folders page: every visible item of one folder with the columns Name, Size,
// Type and Modified, shown in one of four view modes. Two views share one model and one selection: a tree
// view for the details mode and a list view for the other three.
class CFileList : public QWidget {
    Q_OBJECT
public:
    explicit CFileList(QWidget* parent = nullptr);

    // Empties the list and fills it with the folder's items, sorted by the current sort column.
    void showFolder(const std::u16string& folder);
    // Reads the shown folder again.
    void reread() { showFolder(folder_); }
    const std::u16string& folder() const { return folder_; }

    void setViewMode(FileViewMode mode);
    FileViewMode viewMode() const { return viewMode_; }

    int rowCount() const;
    QString name(int row) const;
    std::u16string path(int row) const;
    bool isFolder(int row) const;
    // Selected rows in list order.
    std::vector<int> selectedRows() const;
    void selectRows(const std::vector<int>& rows);
    // The row showing this path, or -1.
    int rowOf(const std::u16string& path) const;

    QAbstractItemView* currentView() const;
    QTreeView* detailsView() const { return details_; }
    QStandardItemModel* model() const { return model_; }

    // Emitted before the list is emptied for a new listing.
    Q_SIGNAL void aboutToEmpty();
    Q_SIGNAL void selectionChanged();
    Q_SIGNAL void rowDoubleClicked(int row);
    // A right click: the global position and whether it hit an item.
    Q_SIGNAL void contextMenuRequested(const QPoint& globalPosition, bool onItem);

private:
    void appendRow(const FolderEntry& entry);
    void connectView(QAbstractItemView* view);
    QIcon iconFor(const FolderEntry& entry, const QString& mimeName, const QString& genericIcon);

    std::u16string folder_;
    FileViewMode viewMode_ = FileViewMode::Details;
    QStandardItemModel* model_ = nullptr;
    QStackedWidget* stack_ = nullptr;
    QTreeView* details_ = nullptr;
    QListView* icons_ = nullptr;
    QIcon folderIcon_;
    QIcon fileIcon_;
    QHash<QString, QIcon> mimeIcons_;
};

} // namespace tonemirror::app
