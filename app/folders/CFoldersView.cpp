#include "app/folders/CFoldersView.h"

#include "app/AppContext.h"
#include "app/Prompts.h"
#include "app/common/CommandIds.h"
#include "app/common/FileActions.h"
#include "app/common/TrashFiles.h"
#include "app/folders/CCheckedTreeCtrl.h"
#include "app/folders/CFileList.h"
#include "app/frame/CommandTable.h"
#include "app/tags/CTagEditWnd.h"
#include "app/tags/NameTagWorkflow.h"
#include "app/tags/TagPanePainting.h"
#include "platform/os/Paths.h"
#include "shell/Preferences.h"
#include "shell/RecentValues.h"
#include "shell/SettingNames.h"
#include "shell/SettingsStore.h"

#include <QAction>
#include <QDesktopServices>
#include <QFile>
#include <QFileSystemWatcher>
#include <QLabel>
#include <QMenu>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

namespace tonemirror::app {

namespace {

constexpr int kTreeWidth = 250;
constexpr int kHintHeight = 60;
constexpr int kEditorHeight = 150;
constexpr int kRefreshDelayMs = 300; // after the last change on disk

} // namespace

CFoldersView::CFoldersView(AppContext& context, QWidget* parent)
    : QSplitter(Qt::Horizontal, parent), context_(context) {
    setObjectName(QStringLiteral("Tonemirror:FoldersView"));
    openFile = [](const QUrl& file) { return QDesktopServices::openUrl(file); };
    addWidget(createLeftPane());
    addWidget(createRightPane());
    createConversion();
    setChildrenCollapsible(false);
    connect(this, &QSplitter::splitterMoved, this, [this] {
        const QList<int> panes = sizes();
        initialSizesPending_ = false;
        if (panes.size() == 2 && panes[0] + panes[1] > 0) {
            treeShare_ = static_cast<double>(panes[0]) / (panes[0] + panes[1]);
        }
    });
    tree_->fillTopLevel();
    refreshHint();
}

CFoldersView::~CFoldersView() {
    delete conversion_->panel(); // an open conversion window goes with the page
}

void CFoldersView::createConversion() {
    NameTagWorkflow::Page page;
    page.widget = this;
    page.selectedFiles = [this] { return selectedFiles(); };
    page.beforeConverting = [this] { hideTagEditor(); }; // edits waiting land on their names first
    page.afterConverting = [this](bool anyConverted) {
        if (anyConverted) {
            list_->reread();
        } else {
            reloadTagEditorLater();
        }
    };
    conversion_ = new NameTagWorkflow(context_, editor_->tagAccess(), std::move(page));
}

CConvertDlg* CFoldersView::conversionWindow() const {
    return conversion_->panel();
}

QWidget* CFoldersView::createLeftPane() {
    auto* pane = new QWidget(this);
    tree_ = new CCheckedTreeCtrl(pane);
    tree_->imageForPath = [this](const std::u16string& path) { return imageFor(path); };
    references_ = shell::ReferenceFolders(shell::readReferenceFolders(context_.settings));
    tree_->referenceForPath = [this](const std::u16string& path) { return references_.covers(path); };
    tree_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(tree_, &QWidget::customContextMenuRequested, this, &CFoldersView::onTreeContextMenu);
    hint_ = new QLabel(pane);
    hint_->setObjectName(QStringLiteral("Hint"));
    hint_->setFont(tagPaneFont());
    hint_->setAlignment(Qt::AlignCenter);
    hint_->setWordWrap(true);
    hint_->setTextFormat(Qt::PlainText); // it may name folders
    hint_->setFixedHeight(kHintHeight);
    auto* layout = new QVBoxLayout(pane);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(tree_, 1);
    layout->addWidget(hint_);
    connect(tree_, &CCheckedTreeCtrl::checkClicked, this, &CFoldersView::onCheckClicked);
    connect(tree_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        onFolderSelected(item);
        watchShownFolders();
    });
    connect(tree_, &QTreeWidget::itemExpanded, this, &CFoldersView::watchShownFolders);
    connect(tree_, &QTreeWidget::itemCollapsed, this, &CFoldersView::watchShownFolders);
    watcher_ = new QFileSystemWatcher(this);
    refreshSoon_ = new QTimer(this);
    refreshSoon_->setSingleShot(true);
    refreshSoon_->setInterval(kRefreshDelayMs);
    connect(watcher_, &QFileSystemWatcher::directoryChanged, refreshSoon_, qOverload<>(&QTimer::start));
    connect(refreshSoon_, &QTimer::timeout, this, &CFoldersView::refresh);
    return pane;
}

QWidget* CFoldersView::createRightPane() {
    auto* pane = new QWidget(this);
    list_ = new CFileList(pane);
    auto* frame = new QFrame(pane);
    frame->setFrameStyle(QFrame::Panel | QFrame::Sunken); // a thin edge round the editor
    frame->setLineWidth(1);
    frame->setFixedHeight(kEditorHeight);
    editor_ = new CTagEditWnd(context_, frame);
    auto* frameLayout = new QVBoxLayout(frame);
    frameLayout->setContentsMargins(1, 1, 1, 1);
    frameLayout->addWidget(editor_);
    editorFrame_ = frame;
    editorFrame_->hide(); // until the editor holds a file
    auto* layout = new QVBoxLayout(pane);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(list_, 1);
    layout->addWidget(editorFrame_);
    connect(list_, &CFileList::selectionChanged, this, &CFoldersView::reloadTagEditorLater);
    connect(list_, &CFileList::aboutToEmpty, this, &CFoldersView::hideTagEditor);
    connect(list_, &CFileList::rowDoubleClicked, this, &CFoldersView::onRowDoubleClicked);
    connect(list_, &CFileList::contextMenuRequested, this, &CFoldersView::onListContextMenu);
    return pane;
}

void CFoldersView::setTickedFolders(std::vector<std::u16string> folders) {
    ticked_.load(std::move(folders));
    refreshAllImages();
    refreshHint();
}

void CFoldersView::setViewMode(FileViewMode mode) {
    list_->setViewMode(mode);
}

void CFoldersView::setInitialPaneSizes() {
    hint_->setFixedHeight(kHintHeight);
    editorFrame_->setFixedHeight(kEditorHeight);
    // The page may not have its final width yet: the tree keeps 250 pixels until the page is first
    // painted, from then on the panes keep their proportion.
    initialSizesPending_ = true;
    applyPaneSizes();
    refreshHint();
}

void CFoldersView::applyPaneSizes() {
    const int available = std::max(width() - handleWidth(), 2);
    if (initialSizesPending_) {
        treeShare_ = std::min(static_cast<double>(kTreeWidth) / available, 0.9);
    }
    if (treeShare_ > 0) {
        const int tree = static_cast<int>(treeShare_ * available + 0.5);
        setSizes({tree, available - tree});
    }
}

void CFoldersView::resizeEvent(QResizeEvent* event) {
    QSplitter::resizeEvent(event);
    applyPaneSizes();
}

void CFoldersView::paintEvent(QPaintEvent* event) {
    initialSizesPending_ = false;
    QSplitter::paintEvent(event);
}

void CFoldersView::retranslate() {
    editor_->retranslate();
    refreshHint();
}

QString CFoldersView::hintText() const {
    return hint_->text();
}

bool CFoldersView::tagEditorShown() const {
    return !editorFrame_->isHidden();
}

void CFoldersView::refreshHint() {
    const QString empty =
        context_.text(u"EMPTY_FOLDERS", u"Please, select folders with music and start scanning");
    hint_->setText(toQString(ticked_.hintText(toU16(empty))));
}

// ---- ticking ----

int CFoldersView::imageFor(const std::u16string& path) const {
    if (!shell::isFileSystemPath(path)) {
        return CCheckedTreeCtrl::kNoCheckBox;
    }
    switch (ticked_.markOf(path)) {
    case shell::FolderMark::Ticked:
        return CCheckedTreeCtrl::kTicked;
    case shell::FolderMark::PartlyTicked:
        return CCheckedTreeCtrl::kPartial;
    case shell::FolderMark::Unticked:
        break;
    }
    return CCheckedTreeCtrl::kUnticked;
}

void CFoldersView::refreshAllImages() {
    for (QTreeWidgetItemIterator it(tree_); *it != nullptr; ++it) {
        CCheckedTreeCtrl::setImage(*it, imageFor(CCheckedTreeCtrl::path(*it)));
    }
    tree_->viewport()->update();
}

void CFoldersView::onCheckClicked(QTreeWidgetItem* item) {
    const std::u16string path = CCheckedTreeCtrl::path(item);
    if (!shell::isFileSystemPath(path)) {
        return; // no check box
    }
    const bool tick = CCheckedTreeCtrl::image(item) != CCheckedTreeCtrl::kTicked;
    const std::u16string changed = tick ? ticked_.tick(path) : ticked_.untick(path);
    CCheckedTreeCtrl::setImage(item, imageFor(path));
    for (int i = 0; i < tree_->topLevelItemCount(); ++i) {
        refreshImages(tree_->topLevelItem(i), changed);
    }
    tree_->viewport()->update();
    refreshHint();
}

// ---- reference folders ----

void CFoldersView::setReference(const std::u16string& folder, bool chosen) {
    if (!references_.set(folder, chosen)) {
        return;
    }
    if (!shell::writeReferenceFolders(context_.settings, references_.folders())) {
        context_.prompts.warning(
            this, QStringLiteral("Warning"),
            context_.text(u"REFERENCE_NOT_STORED",
                          u"The reference folders could not be stored in the settings."));
    }
    refreshReferenceLook();
}

QMenu* CFoldersView::folderMenu(QTreeWidgetItem* item) {
    const std::u16string path = CCheckedTreeCtrl::path(item);
    if (item == nullptr || !shell::isFileSystemPath(path)) {
        return nullptr;
    }
    auto* menu = new QMenu(this);
    QAction* reference = menu->addAction(context_.text(u"USE_AS_REFERENCE", u"Use as reference"));
    reference->setCheckable(true);
    reference->setChecked(references_.covers(path));
    // A folder inside a reference folder is one by its parent's choice.
    reference->setEnabled(references_.isChosen(path) || !references_.covers(path));
    reference->setStatusTip(context_.text(
        u"PROMPT_USE_AS_REFERENCE", u"Files in this folder are the copies to keep: never marked or removed"));
    connect(reference, &QAction::toggled, this, [this, path](bool on) { setReference(path, on); });
    return menu;
}

void CFoldersView::onTreeContextMenu(const QPoint& position) {
    if (QMenu* menu = folderMenu(tree_->itemAt(position))) {
        menu->exec(tree_->viewport()->mapToGlobal(position));
        menu->deleteLater();
    }
}

void CFoldersView::refreshReferenceLook() {
    for (QTreeWidgetItemIterator it(tree_); *it != nullptr; ++it) {
        tree_->setReferenceLook(*it, references_.covers(CCheckedTreeCtrl::path(*it)));
    }
}

// The loaded folders related to the highest folder whose mark changed take their marks again; other
// branches are left alone. Items without a check box are looked into, as they may hold such folders.
void CFoldersView::refreshImages(QTreeWidgetItem* item, const std::u16string& changed) {
    const std::u16string path = CCheckedTreeCtrl::path(item);
    const bool fileSystem = shell::isFileSystemPath(path);
    if (fileSystem && !shell::pathsRelated(path, changed)) {
        return;
    }
    if (fileSystem) {
        CCheckedTreeCtrl::setImage(item, imageFor(path));
    }
    for (int i = 0; i < item->childCount(); ++i) {
        refreshImages(item->child(i), changed);
    }
}

// ---- refresh ----

void CFoldersView::refresh() {
    tree_->refreshExpanded();
    std::vector<std::u16string> selected;
    for (const int row : list_->selectedRows()) {
        selected.push_back(list_->path(row));
    }
    list_->reread();
    std::vector<int> rows;
    for (const std::u16string& path : selected) {
        if (const int row = list_->rowOf(path); row >= 0) {
            rows.push_back(row);
        }
    }
    list_->selectRows(rows);
    watchShownFolders();
}

// Only what is on screen is watched: the expanded folders and the one the list shows.
void CFoldersView::watchShownFolders() {
    QStringList wanted;
    std::vector<std::u16string> paths = tree_->expandedPaths();
    paths.push_back(CCheckedTreeCtrl::path(tree_->currentItem()));
    for (const std::u16string& path : paths) {
        const QString name = toQString(path);
        // A name that is not UTF-8 cannot be handed to the watcher; it is refreshed by F5 alone.
        if (!path.empty() &&
            QFile::encodeName(name) == QByteArray::fromStdString(os::toNativePath(path).native())) {
            wanted << name;
        }
    }
    const QStringList watched = watcher_->directories();
    for (const QString& folder : watched) {
        if (!wanted.contains(folder)) {
            watcher_->removePath(folder);
        }
    }
    for (const QString& folder : wanted) {
        if (!watched.contains(folder)) {
            watcher_->addPath(folder);
        }
    }
}

// ---- file list ----

void CFoldersView::onFolderSelected(QTreeWidgetItem* item) {
    list_->showFolder(CCheckedTreeCtrl::path(item));
    reloadTagEditorLater();
}

void CFoldersView::onRowDoubleClicked(int row) {
    const std::u16string path = list_->path(row);
    if (list_->isFolder(row)) {
        if (QTreeWidgetItem* parent = tree_->currentItem()) {
            tree_->fillChildren(parent);
            parent->setExpanded(true);
            for (int i = 0; i < parent->childCount(); ++i) {
                if (CCheckedTreeCtrl::path(parent->child(i)) == path) {
                    tree_->setCurrentItem(parent->child(i));
                    return;
                }
            }
        }
    }
    if (openFile) {
        openFile(fileUrl(path)); // the name's own bytes: a name that is not UTF-8 opens that very file
    }
}

bool CFoldersView::selectionHoldsFile() const {
    for (const int row : list_->selectedRows()) {
        if (!list_->isFolder(row)) {
            return true;
        }
    }
    return false;
}

std::vector<std::u16string> CFoldersView::selectedFiles() const {
    std::vector<std::u16string> files;
    for (const int row : list_->selectedRows()) {
        if (!list_->isFolder(row)) {
            files.push_back(list_->path(row));
        }
    }
    return files;
}

QMenu* CFoldersView::fileMenu() {
    auto* menu = new QMenu(this);
    const auto add = [&](const char16_t* key, const char16_t* text, int id) {
        menu->addAction(context_.text(key, text))->setData(id);
    };
    add(u"FILENAME_TO_TAGS", u"Filename -> Tags", cmd::kFilenameToTags);
    add(u"TAGS_TO_FILENAME", u"Tags -> Filename", cmd::kTagsToFilename);
    menu->addSeparator();
    add(u"DELETE", u"Delete", cmd::kFolderDelete);
    return menu;
}

void CFoldersView::useViewCommands(const std::vector<QAction*>& actions) {
    for (QAction* action : actions) {
        const auto mode = static_cast<FileViewMode>(action->data().toInt());
        connect(action, &QAction::triggered, this, [this, mode] { setViewMode(mode); });
    }
}

QMenu* CFoldersView::contextMenu(bool onItem) {
    if (onItem) {
        return selectionHoldsFile() ? fileMenu() : nullptr;
    }
    auto* menu = new QMenu(this);
    QMenu* view = menu->addMenu(context_.text(u"MENU_VIEW", u"View"));
    for (int id = cmd::kViewMediumIcons; id <= cmd::kViewDetails; ++id) {
        const CommandInfo* info = CommandTable::info(id);
        QAction* action = view->addAction(context_.text(info->key, info->text));
        action->setCheckable(true);
        action->setChecked(static_cast<FileViewMode>(id) == list_->viewMode());
        action->setData(id);
    }
    return menu;
}

void CFoldersView::onListContextMenu(const QPoint& globalPosition, bool onItem) {
    QMenu* menu = contextMenu(onItem);
    if (menu == nullptr) {
        return;
    }
    const QAction* chosen = menu->exec(globalPosition);
    const int id = chosen != nullptr ? chosen->data().toInt() : 0;
    menu->deleteLater();
    if (cmd::isFolderViewCommand(id)) {
        setViewMode(static_cast<FileViewMode>(id));
    } else if (id != 0) {
        runCommand(id);
    }
}

void CFoldersView::reloadTagEditor() {
    reloadQueued_ = false;
    const int loaded = editor_->loadSelection(selectedFiles());
    editorFrame_->setVisible(loaded > 0);
}

// Posted: the selection changes of one pass of the event loop (a range selected row by row, a
// listing read again) make one reload, with the last selection.
void CFoldersView::reloadTagEditorLater() {
    if (reloadQueued_) {
        return;
    }
    reloadQueued_ = true;
    QMetaObject::invokeMethod(this, &CFoldersView::reloadTagEditor, Qt::QueuedConnection);
}

void CFoldersView::hideTagEditor() {
    if (!editor_->loadedFiles().empty()) {
        editor_->commitAndClear();
    }
    editorFrame_->hide();
}

void CFoldersView::runCommand(int id) {
    switch (id) {
    case cmd::kFilenameToTags:
        conversion_->open(CConvertDlg::Direction::FilenameToTags);
        return;
    case cmd::kTagsToFilename:
        conversion_->open(CConvertDlg::Direction::TagsToFilename);
        return;
    case cmd::kFolderDelete:
        deleteSelection();
        return;
    default:
        return;
    }
}

// ---- conversions ----

int CFoldersView::applyConversion(CConvertDlg::Direction direction, const std::u16string& pattern) {
    return conversion_->apply(direction, pattern);
}

// ---- delete ----

void CFoldersView::deleteSelection() {
    const std::vector<int> rows = list_->selectedRows();
    if (rows.empty()) {
        return;
    }
    TrashRequest request;
    request.listFiles = true; // the question names what goes
    for (const int row : rows) {
        request.files.push_back(list_->path(row));
    }
    request.singleName = list_->name(rows.front());
    request.beforeMoving = [this] { hideTagEditor(); }; // edits waiting for the files land before they go
    request.afterMoving = [this](const std::unordered_set<std::u16string>& trashed) {
        if (!trashed.empty()) {
            list_->reread();
        } else {
            reloadTagEditorLater();
        }
    };
    confirmAndTrash(context_, this, request);
}

} // namespace tonemirror::app
