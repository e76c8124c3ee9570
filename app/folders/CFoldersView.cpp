#include "app/folders/CFoldersView.h"

#include "app/AppContext.h"
#include "app/Prompts.h"
#include "app/common/FailureReport.h"
#include "app/common/FileActions.h"
#include "app/folders/CCheckedTreeCtrl.h"
#include "app/folders/CFileList.h"
#include "app/folders/NameTagRunner.h"
#include "app/frame/CommandIds.h"
#include "app/frame/CommandTable.h"
#include "app/tags/CTagEditWnd.h"
#include "app/tags/TagPanePainting.h"
#include "platform/os/Paths.h"
#include "shell/RecentValues.h"
#include "shell/SettingNames.h"
#include "shell/SettingsStore.h"

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

std::string_view historySetting(CConvertDlg::Direction direction) {
    return direction == CConvertDlg::Direction::FilenameToTags ? shell::settings::kHelperConvert1
                                                               : shell::settings::kHelperConvert2;
}

std::size_t historyIndex(CConvertDlg::Direction direction) {
    return direction == CConvertDlg::Direction::FilenameToTags ? 0 : 1;
}

} // namespace

CFoldersView::CFoldersView(AppContext& context, QWidget* parent)
    : QSplitter(Qt::Horizontal, parent), context_(context) {
    setObjectName(QStringLiteral("Tonemirror:FoldersView"));
    openFile = [](const QUrl& file) { return QDesktopServices::openUrl(file); };
    addWidget(createLeftPane());
    addWidget(createRightPane());
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
    delete convert_; // an open conversion window goes with the page
}

QWidget* CFoldersView::createLeftPane() {
    auto* pane = new QWidget(this);
    tree_ = new CCheckedTreeCtrl(pane);
    tree_->imageForPath = [this](const std::u16string& path) { return imageFor(path); };
    hint_ = new QLabel(pane);
    hint_->setObjectName(QStringLiteral("Hint"));
    hint_->setFont(tagPaneFont());
    hint_->setAlignment(Qt::AlignCenter);
    hint_->setWordWrap(true);
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
    connect(list_, &CFileList::selectionChanged, this, [this] { selectionChanged_ = true; });
    connect(list_, &CFileList::painted, this, &CFoldersView::onListPainted);
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

void CFoldersView::setViewMode(int command) {
    list_->setViewMode(command);
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

QMenu* CFoldersView::contextMenu(bool onItem) {
    if (onItem) {
        return selectionHoldsFile() && fileMenuBuilder ? fileMenuBuilder(this) : nullptr;
    }
    auto* menu = new QMenu(this);
    QMenu* view = menu->addMenu(context_.text(u"MENU_VIEW", u"View"));
    for (int id = cmd::kViewMediumIcons; id <= cmd::kViewDetails; ++id) {
        const CommandInfo* info = CommandTable::info(id);
        QAction* action = view->addAction(context_.text(info->key, info->text));
        action->setCheckable(true);
        action->setChecked(id == list_->viewMode());
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
        setViewMode(id);
    } else if (id != 0) {
        runCommand(id);
    }
}

void CFoldersView::onListPainted() {
    // Many selection changes between two paints (keys held down) make one reload.
    if (!selectionChanged_ || reloadQueued_) {
        return;
    }
    selectionChanged_ = false;
    reloadQueued_ = true;
    QMetaObject::invokeMethod(this, &CFoldersView::reloadTagEditor, Qt::QueuedConnection);
}

void CFoldersView::reloadTagEditor() {
    reloadQueued_ = false;
    const int loaded = editor_->loadSelection(selectedFiles());
    editorFrame_->setVisible(loaded > 0);
}

void CFoldersView::reloadTagEditorLater() {
    selectionChanged_ = true;
    list_->currentView()->viewport()->update();
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
        openConversion(CConvertDlg::Direction::FilenameToTags);
        return;
    case cmd::kTagsToFilename:
        openConversion(CConvertDlg::Direction::TagsToFilename);
        return;
    case cmd::kFolderDelete:
        deleteSelection();
        return;
    default:
        return;
    }
}

// ---- conversions ----

void CFoldersView::openConversion(CConvertDlg::Direction direction) {
    if (convert_ != nullptr) {
        return;
    }
    readHistories();
    convert_ = new CConvertDlg(context_, direction, histories_[historyIndex(direction)], window());
    connect(convert_, &CConvertDlg::closed, this, &CFoldersView::onConversionClosed);
    setEnabled(false);
    convert_->centreOn(this);
    convert_->show();
}

void CFoldersView::onConversionClosed(int button) {
    setEnabled(true);
    if (convert_ == nullptr) {
        return;
    }
    const CConvertDlg::Direction direction = convert_->direction();
    const std::u16string pattern = convert_->pattern();
    convert_->deleteLater();
    convert_ = nullptr;
    if (button == CConvertDlg::kApply) {
        applyConversion(direction, pattern);
    }
}

void CFoldersView::readHistories() {
    if (historiesRead_) {
        return;
    }
    historiesRead_ = true;
    for (const auto which :
         {CConvertDlg::Direction::FilenameToTags, CConvertDlg::Direction::TagsToFilename}) {
        histories_[historyIndex(which)] =
            shell::parseQuotedList(context_.settings.readText(historySetting(which)).value_or(u""));
    }
}

void CFoldersView::rememberPattern(CConvertDlg::Direction direction, const std::u16string& pattern) {
    readHistories(); // the stored patterns stay behind the new one
    std::vector<std::u16string>& history = histories_[historyIndex(direction)];
    const std::u16string stored = shell::stripDoubleQuotes(pattern);
    if (!stored.empty()) {
        shell::pushRecentValue(history, stored, shell::settings::kRecentPatterns);
    }
    context_.settings.writeText(historySetting(direction), shell::formatQuotedList(history));
}

int CFoldersView::applyConversion(CConvertDlg::Direction direction, const std::u16string& pattern) {
    const std::vector<std::u16string> files = selectedFiles();
    if (files.empty()) {
        return 0;
    }
    rememberPattern(direction, pattern);
    // Edits waiting in the tag editor land first, on the names they were made for.
    hideTagEditor();
    FailureReport failures;
    int converted = 0;
    for (const std::u16string& file : files) {
        converted +=
            runNameTagConversion(context_, editor_->tagAccess(), direction, file, pattern, failures) ? 1 : 0;
    }
    if (converted > 0) {
        list_->reread();
    } else {
        reloadTagEditorLater();
    }
    failures.show(context_, this,
                  context_.text(u"CONVERT_FAILED", u"%1 of %2 files could not be converted:")
                      .arg(failures.size())
                      .arg(files.size()));
    return converted;
}

// ---- delete ----

void CFoldersView::deleteSelection() {
    const std::vector<int> rows = list_->selectedRows();
    if (rows.empty()) {
        return;
    }
    const QString question =
        rows.size() == 1
            ? context_.text(u"CONFIRM_TRASH_ONE", u"Move \"%1\" to the trash?").arg(list_->name(rows.front()))
            : context_.text(u"CONFIRM_TRASH", u"Move these %1 items to the trash?").arg(rows.size());
    QStringList files;
    for (const int row : rows) {
        files << toQString(list_->path(row));
    }
    if (!context_.prompts.confirmFiles(this, context_.text(u"QUESTION", u"Question"), question, files)) {
        return;
    }
    hideTagEditor(); // edits waiting for the selected files land before the files go
    FailureReport failures;
    std::size_t moved = 0;
    for (const int row : rows) {
        // The same guarded move as the Results page: a name the trash cannot record, or a trash that
        // cannot be used, leaves the item where it is.
        const TrashOutcome outcome = moveToTrash(context_, list_->path(row));
        if (outcome.trashed) {
            ++moved;
        } else {
            failures.add(list_->path(row), outcome.reason);
        }
    }
    if (moved > 0) {
        list_->reread();
    } else {
        reloadTagEditorLater();
    }
    failures.show(context_, this,
                  context_.text(u"TRASH_FAILED", u"%1 of %2 items could not be moved to the trash:")
                      .arg(failures.size())
                      .arg(rows.size()));
}

} // namespace tonemirror::app
