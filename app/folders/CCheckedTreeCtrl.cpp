#include "app/folders/CCheckedTreeCtrl.h"

#include "app/AppContext.h"
#include "app/Resources.h"
#include "app/common/WaitCursor.h"
#include "app/folders/FolderListing.h"

#include <QFileIconProvider>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>

#include <algorithm>

namespace tonemirror::app {

namespace {

constexpr int kPathRole = Qt::UserRole;      // QString: the path in the core's UTF-16 form
constexpr int kImageRole = Qt::UserRole + 1; // int: the check-box image 1..4
constexpr int kImageSize = 15;
constexpr int kImageSlot = kImageSize + 4; // image plus its margins, before the folder icon

QRect imageRectIn(const QRect& cell) {
    return QRect(cell.left() + 2, cell.top() + (cell.height() - kImageSize) / 2, kImageSize, kImageSize);
}

// Draws the check-box image in a slot before what the standard delegate draws.
class CheckImageDelegate : public QStyledItemDelegate {
public:
    explicit CheckImageDelegate(QObject* parent) : QStyledItemDelegate(parent) {
        loadImages(); // also when the page is made without the main window
        const char* names[4] = {"unticked", "ticked", "partial", "none"};
        for (int i = 0; i < 4; ++i) {
            images_[i] = QIcon(QStringLiteral(":/images/check-%1.svg").arg(QLatin1String(names[i])));
        }
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem shifted(option);
        shifted.rect.setLeft(option.rect.left() + kImageSlot);
        QStyledItemDelegate::paint(painter, shifted, index);
        const int image = std::clamp(index.data(kImageRole).toInt(), 1, 4);
        images_[image - 1].paint(painter, imageRectIn(option.rect));
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        const QSize size = QStyledItemDelegate::sizeHint(option, index);
        return {size.width() + kImageSlot, std::max(size.height(), kImageSize + 2)};
    }

private:
    QIcon images_[4]; // SVG, sharp at any device pixel ratio
};

} // namespace

CCheckedTreeCtrl::CCheckedTreeCtrl(QWidget* parent) : QTreeWidget(parent) {
    setObjectName(QStringLiteral("CCheckedTreeCtrl"));
    folderIcon_ = QFileIconProvider().icon(QAbstractFileIconProvider::Folder);
    setHeaderHidden(true);
    setColumnCount(1);
    setItemDelegate(new CheckImageDelegate(this));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformRowHeights(true);
    setMouseTracking(true); // hot tracking
    setFrameShadow(QFrame::Sunken);
    header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    header()->setStretchLastSection(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    connect(this, &QTreeWidget::itemExpanded, this, &CCheckedTreeCtrl::fillChildren);
}

std::u16string CCheckedTreeCtrl::path(const QTreeWidgetItem* item) {
    return item != nullptr ? toU16(item->data(0, kPathRole).toString()) : std::u16string();
}

int CCheckedTreeCtrl::image(const QTreeWidgetItem* item) {
    return item != nullptr ? item->data(0, kImageRole).toInt() : 0;
}

void CCheckedTreeCtrl::setImage(QTreeWidgetItem* item, int image) {
    item->setData(0, kImageRole, image);
}

void CCheckedTreeCtrl::setReferenceLook(QTreeWidgetItem* item, bool reference) const {
    if (hasReferenceLook(item) == reference) {
        return;
    }
    QFont font = item->font(0);
    font.setItalic(reference);
    item->setFont(0, font);
    item->setForeground(0, reference ? palette().brush(QPalette::Link) : QBrush());
}

bool CCheckedTreeCtrl::hasReferenceLook(const QTreeWidgetItem* item) {
    return item->font(0).italic();
}

QTreeWidgetItem* CCheckedTreeCtrl::makeItem(const FolderEntry& entry) const {
    auto* item = new QTreeWidgetItem;
    item->setText(0, entry.name);
    item->setIcon(0, folderIcon_);
    item->setData(0, kPathRole, toQString(entry.path));
    setImage(item, imageForPath ? imageForPath(entry.path) : kUnticked);
    setReferenceLook(item, referenceForPath && referenceForPath(entry.path));
    item->setChildIndicatorPolicy(entry.hasSubfolders ? QTreeWidgetItem::ShowIndicator
                                                      : QTreeWidgetItem::DontShowIndicator);
    return item;
}

void CCheckedTreeCtrl::fillTopLevel() {
    const WaitCursor wait;
    clear();
    for (const FolderEntry& entry : topLevelFolders()) {
        addTopLevelItem(makeItem(entry));
    }
    if (QTreeWidgetItem* first = topLevelItem(0)) {
        first->setExpanded(true);
        setCurrentItem(first);
    }
}

void CCheckedTreeCtrl::fillChildren(QTreeWidgetItem* item) {
    if (item == nullptr || item->childCount() > 0) {
        return;
    }
    const WaitCursor wait;
    const std::vector<FolderEntry> entries = listFolder(path(item), ListWhat::FoldersOnly);
    QList<QTreeWidgetItem*> children;
    for (const FolderEntry& entry : entries) {
        children.append(makeItem(entry));
    }
    item->addChildren(children);
    if (children.isEmpty()) {
        item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicator);
    }
}

void CCheckedTreeCtrl::refreshExpanded() {
    for (int i = 0; i < topLevelItemCount(); ++i) {
        refreshChildren(topLevelItem(i));
    }
}

void CCheckedTreeCtrl::refreshChildren(QTreeWidgetItem* item) {
    if (!item->isExpanded()) {
        return; // filled again, if ever, when it is opened
    }
    const std::vector<FolderEntry> entries = listFolder(path(item), ListWhat::FoldersOnly);
    // Both lists are in the listing's order: walk them together.
    int at = 0;
    for (const FolderEntry& entry : entries) {
        const QString wanted = toQString(entry.path);
        int found = -1;
        for (int i = at; i < item->childCount() && found < 0; ++i) {
            if (item->child(i)->data(0, kPathRole).toString() == wanted) {
                found = i;
            }
        }
        if (found < 0) {
            item->insertChild(at, makeItem(entry));
        } else {
            while (found > at) { // folders between the last kept and this one are gone
                delete item->takeChild(at);
                --found;
            }
        }
        ++at;
    }
    while (item->childCount() > at) {
        delete item->takeChild(at);
    }
    item->setChildIndicatorPolicy(entries.empty() ? QTreeWidgetItem::DontShowIndicator
                                                  : QTreeWidgetItem::ShowIndicator);
    for (int i = 0; i < item->childCount(); ++i) {
        refreshChildren(item->child(i));
    }
}

std::vector<std::u16string> CCheckedTreeCtrl::expandedPaths() const {
    std::vector<std::u16string> paths;
    for (QTreeWidgetItemIterator it(const_cast<CCheckedTreeCtrl*>(this)); *it != nullptr; ++it) {
        if ((*it)->isExpanded() && !path(*it).empty()) {
            paths.push_back(path(*it));
        }
    }
    return paths;
}

QTreeWidgetItem* CCheckedTreeCtrl::findLoaded(const std::u16string& wanted) const {
    const QString text = toQString(wanted);
    for (QTreeWidgetItemIterator it(const_cast<CCheckedTreeCtrl*>(this)); *it != nullptr; ++it) {
        if ((*it)->data(0, kPathRole).toString() == text) {
            return *it;
        }
    }
    return nullptr;
}

QRect CCheckedTreeCtrl::checkRect(const QTreeWidgetItem* item) const {
    return imageRectIn(visualItemRect(item));
}

QTreeWidgetItem* CCheckedTreeCtrl::checkHit(const QPoint& position) const {
    QTreeWidgetItem* item = itemAt(position);
    return item != nullptr && checkRect(item).contains(position) ? item : nullptr;
}

void CCheckedTreeCtrl::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        if (QTreeWidgetItem* item = checkHit(event->position().toPoint())) {
            event->accept();
            emit checkClicked(item);
            return;
        }
    }
    QTreeWidget::mousePressEvent(event);
}

void CCheckedTreeCtrl::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        if (QTreeWidgetItem* item = checkHit(event->position().toPoint())) {
            event->accept(); // a quick second click on the image is a second tick, not an expand
            emit checkClicked(item);
            return;
        }
    }
    QTreeWidget::mouseDoubleClickEvent(event);
}

void CCheckedTreeCtrl::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space && event->modifiers() == Qt::NoModifier) {
        event->accept();
        if (currentItem() != nullptr) {
            emit checkClicked(currentItem());
        }
        return;
    }
    QTreeWidget::keyPressEvent(event);
}

} // namespace tonemirror::app
