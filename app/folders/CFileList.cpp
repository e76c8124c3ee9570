#include "app/folders/CFileList.h"

#include "app/common/PlainText.h"

#include "app/AppContext.h"
#include "app/common/NameCollator.h"
#include "app/common/WaitCursor.h"
#include "app/folders/FolderListing.h"

#include <QCollator>
#include <QEvent>
#include <QFileIconProvider>
#include <QHeaderView>
#include <QListView>
#include <QLocale>
#include <QMimeDatabase>
#include <QStackedWidget>
#include <QStandardItemModel>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>

namespace tonemirror::app {

namespace {

constexpr int kPathRole = Qt::UserRole + 1;   // column 0: the path in the core's UTF-16 form
constexpr int kFolderRole = Qt::UserRole + 2; // every column: the row is a folder
constexpr int kSortRole = Qt::UserRole + 3;   // Size: bytes; Modified: the time

enum Column { kName, kSize, kType, kModified, kColumns };

// Folders before files, then the column's value; names and types in the user's collation order.
class FileItem : public QStandardItem {
public:
    using QStandardItem::QStandardItem;

    bool operator<(const QStandardItem& other) const override {
        const bool folder = data(kFolderRole).toBool();
        if (folder != other.data(kFolderRole).toBool()) {
            return folder;
        }
        const QVariant mine = data(kSortRole);
        const QVariant theirs = other.data(kSortRole);
        if (mine.isValid() && theirs.isValid() && mine != theirs) {
            return QVariant::compare(mine, theirs) == QPartialOrdering::Less;
        }
        return collator().compare(text(), other.text()) < 0;
    }

private:
    static const QCollator& collator() {
        thread_local const QCollator instance = nameCollator();
        return instance;
    }
};

QStandardItem* cell(const QString& text, bool folder, const QVariant& sortKey = {}) {
    auto* item = new FileItem(text);
    item->setEditable(false);
    item->setData(folder, kFolderRole);
    if (sortKey.isValid()) {
        item->setData(sortKey, kSortRole);
    }
    return item;
}

} // namespace

CFileList::CFileList(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("FileList"));
    const QFileIconProvider provider;
    folderIcon_ = provider.icon(QAbstractFileIconProvider::Folder);
    fileIcon_ = provider.icon(QAbstractFileIconProvider::File);
    model_ = new QStandardItemModel(0, kColumns, this);
    // Column titles stay in English in every language.
    model_->setHorizontalHeaderLabels(
        {QStringLiteral("Name"), QStringLiteral("Size"), QStringLiteral("Type"), QStringLiteral("Modified")});
    model_->horizontalHeaderItem(kSize)->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);

    details_ = new QTreeView(this);
    details_->setObjectName(QStringLiteral("FileDetails"));
    details_->setModel(model_);
    details_->setRootIsDecorated(false);
    details_->setItemsExpandable(false);
    details_->setUniformRowHeights(true);
    details_->setAllColumnsShowFocus(true);
    details_->setSortingEnabled(true);
    details_->sortByColumn(kName, Qt::AscendingOrder);
    const int widths[kColumns] = {300, 100, 200, 140};
    for (int column = 0; column < kColumns; ++column) {
        details_->setColumnWidth(column, widths[column]);
    }
    icons_ = new QListView(this);
    icons_->setObjectName(QStringLiteral("FileIcons"));
    icons_->setModel(model_);
    icons_->setSelectionModel(details_->selectionModel()); // one selection for both views
    for (QAbstractItemView* view :
         {static_cast<QAbstractItemView*>(details_), static_cast<QAbstractItemView*>(icons_)}) {
        connectView(view);
    }
    stack_ = new QStackedWidget(this);
    stack_->addWidget(details_);
    stack_->addWidget(icons_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(stack_);
    setViewMode(FileViewMode::Details);
    connect(details_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &CFileList::selectionChanged);
}

void CFileList::connectView(QAbstractItemView* view) {
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(view, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
        if (index.isValid()) {
            emit rowDoubleClicked(index.row());
        }
    });
    connect(view, &QWidget::customContextMenuRequested, this, [this, view](const QPoint& position) {
        emit contextMenuRequested(view->viewport()->mapToGlobal(position), view->indexAt(position).isValid());
    });
}

void CFileList::setViewMode(FileViewMode mode) {
    if (mode < FileViewMode::MediumIcons || mode > FileViewMode::Details) {
        return;
    }
    viewMode_ = mode;
    if (mode == FileViewMode::Details) {
        stack_->setCurrentWidget(details_);
        return;
    }
    const bool medium = mode == FileViewMode::MediumIcons;
    icons_->setViewMode(medium ? QListView::IconMode : QListView::ListMode);
    icons_->setIconSize(medium ? QSize(48, 48) : QSize(16, 16));
    icons_->setFlow(mode == FileViewMode::List ? QListView::TopToBottom : QListView::LeftToRight);
    icons_->setGridSize(medium                             ? QSize(110, 90)
                        : mode == FileViewMode::SmallIcons ? QSize(220, 22)
                                                           : QSize());
    icons_->setWrapping(true);
    icons_->setWordWrap(medium);
    icons_->setMovement(QListView::Static);
    icons_->setResizeMode(QListView::Adjust);
    icons_->setUniformItemSizes(mode != FileViewMode::MediumIcons);
    stack_->setCurrentWidget(icons_);
}

QAbstractItemView* CFileList::currentView() const {
    return viewMode_ == FileViewMode::Details ? static_cast<QAbstractItemView*>(details_)
                                              : static_cast<QAbstractItemView*>(icons_);
}

void CFileList::showFolder(const std::u16string& folder) {
    const WaitCursor wait;
    emit aboutToEmpty();
    model_->removeRows(0, model_->rowCount());
    folder_ = folder;
    if (!folder.empty()) {
        for (const FolderEntry& entry : listFolder(folder, ListWhat::Everything)) {
            appendRow(entry);
        }
    }
    const QHeaderView* header = details_->header();
    model_->sort(header->sortIndicatorSection(), header->sortIndicatorOrder());
}

QIcon CFileList::iconFor(const FolderEntry& entry, const QString& mimeName, const QString& genericIcon) {
    if (entry.isFolder) {
        return folderIcon_;
    }
    const auto known = mimeIcons_.constFind(mimeName);
    if (known != mimeIcons_.constEnd()) {
        return *known;
    }
    QIcon icon = QIcon::fromTheme(genericIcon, fileIcon_);
    mimeIcons_.insert(mimeName, icon);
    return icon;
}

void CFileList::appendRow(const FolderEntry& entry) {
    static const QMimeDatabase mimes;
    const QMimeType type = entry.isFolder ? mimes.mimeTypeForName(QStringLiteral("inode/directory"))
                                          : mimes.mimeTypeForFile(entry.name, QMimeDatabase::MatchExtension);
    const QLocale locale;
    QStandardItem* name = cell(entry.name, entry.isFolder);
    name->setData(toQString(entry.path), kPathRole);
    name->setIcon(iconFor(entry, type.name(), type.iconName()));
    name->setToolTip(plainToolTip(entry.name));
    const QString sizeText = entry.size >= 0
                                 ? locale.formattedDataSize(entry.size, 1, QLocale::DataSizeTraditionalFormat)
                                 : QString();
    QStandardItem* size =
        cell(sizeText, entry.isFolder, entry.size >= 0 ? QVariant(qlonglong(entry.size)) : QVariant());
    size->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QStandardItem* kind = cell(type.comment(), entry.isFolder);
    const QString time =
        entry.modified.isValid() ? locale.toString(entry.modified, QLocale::ShortFormat) : QString();
    QStandardItem* modified =
        cell(time, entry.isFolder, entry.modified.isValid() ? QVariant(entry.modified) : QVariant());
    model_->appendRow({name, size, kind, modified});
}

int CFileList::rowCount() const {
    return model_->rowCount();
}

QString CFileList::name(int row) const {
    return model_->item(row, kName)->text();
}

std::u16string CFileList::path(int row) const {
    return toU16(model_->item(row, kName)->data(kPathRole).toString());
}

bool CFileList::isFolder(int row) const {
    return model_->item(row, kName)->data(kFolderRole).toBool();
}

std::vector<int> CFileList::selectedRows() const {
    std::vector<int> rows;
    for (const QModelIndex& index : details_->selectionModel()->selectedRows(kName)) {
        rows.push_back(index.row());
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

void CFileList::selectRows(const std::vector<int>& rows) {
    QItemSelection selection;
    for (const int row : rows) {
        selection.select(model_->index(row, 0), model_->index(row, kColumns - 1));
    }
    details_->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
}

int CFileList::rowOf(const std::u16string& wanted) const {
    const QString text = toQString(wanted);
    for (int row = 0; row < model_->rowCount(); ++row) {
        if (model_->item(row, kName)->data(kPathRole).toString() == text) {
            return row;
        }
    }
    return -1;
}

} // namespace tonemirror::app
