#include "app/results/CResultsPage.h"

#include "analysis/TrackRecord.h"
#include "app/AppContext.h"
#include "app/Prompts.h"
#include "app/common/CommandIds.h"
#include "app/common/FailureReport.h"
#include "app/common/FileActions.h"
#include "app/common/TrashFiles.h"
#include "app/results/CDetailsWnd.h"
#include "app/results/CGroupsView.h"
#include "app/results/CViewList.h"
#include "app/results/GroupsModel.h"
#include "app/results/GroupsWorkflow.h"
#include "app/results/ResultsModel.h"
#include "audio/AudioSource.h"
#include "engine/IgnoreListFormat.h"
#include "engine/Playlist.h"
#include "engine/TrackStore.h"
#include "shell/FileDetails.h"
#include "shell/Preferences.h"
#include "shell/ResultsExport.h"
#include "shell/SettingNames.h"
#include "shell/SettingsStore.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QMenu>
#include <QPointer>
#include <QSaveFile>
#include <QSplitterHandle>
#include <QStackedWidget>

#include <optional>
#include <unordered_set>

namespace tonemirror::app {

CResultsPage::CResultsPage(AppContext& context, QWidget* parent)
    : QSplitter(Qt::Vertical, parent), context_(context) {
    setObjectName(QStringLiteral("ResultsSplitter"));
    model_ = new ResultsModel(
        [this](const char16_t* key, std::u16string_view english) { return context_.text(key, english); },
        this);
    views_ = new QStackedWidget(this);
    list_ = new CViewList(model_, views_);
    views_->addWidget(list_);
    createGroupsView();
    details_ = new CDetailsWnd(context_, this);
    addWidget(views_);
    addWidget(details_);
    setStretchFactor(0, 1);
    setStretchFactor(1, 0); // the pane keeps its height when the window is resized
    setChildrenCollapsible(false);
    details_->hide();
    connect(this, &QSplitter::splitterMoved, this, [this] {
        if (!details_->isHidden()) {
            detailsHeight_ = sizes().value(1, detailsHeight_);
        }
    });
    connect(list_, &CViewList::selectionChangedTo, this, &CResultsPage::onSelectionChanged);
    connect(list_, &CViewList::contextMenuAt, this, &CResultsPage::showContextMenu);
    connect(list_, &CViewList::doubleClickedAt, this, &CResultsPage::onDoubleClicked);
    connect(list_, &CViewList::deleteRequested, this,
            [this](int side) { runCommand(side == 1 ? cmd::kDelete1 : cmd::kDelete2); });
    connect(list_, &CViewList::playRequested, this,
            [this](int side) { runCommand(side == 1 ? cmd::kPlay1 : cmd::kPlay2); });
    connect(details_, &CDetailsWnd::commandRequested, this, &CResultsPage::runCommand);
    // A reset or a removal can end the selection without a selection signal.
    connect(model_, &QAbstractItemModel::modelReset, this, &CResultsPage::syncSelection);
    connect(model_, &QAbstractItemModel::rowsRemoved, this, &CResultsPage::syncSelection);
}

CResultsPage::~CResultsPage() = default;

void CResultsPage::addResults(engine::PendingResults results) {
    if (results.empty()) {
        return;
    }
    model_->addResults(std::move(results));
    emit rowsChanged();
}

void CResultsPage::clearRows() {
    model_->clearRows();
    emit rowsChanged();
}

int CResultsPage::rowCount() const {
    return model_->rowCount();
}

const std::vector<ResultRow>& CResultsPage::rows() const {
    return model_->rows();
}

int CResultsPage::selectedRow() const {
    return list_->selectedRow();
}

void CResultsPage::setExperimentalColumnVisible(bool visible, int width) {
    list_->setExperimentalColumnVisible(visible, width);
}

int CResultsPage::experimentalColumnWidth() const {
    return list_->columnWidth(ResultsModel::kExperimental);
}

void CResultsPage::restoreLayout() {
    namespace names = shell::settings;
    const shell::SettingsStore& store = context_.settings;
    if (const auto header = store.readText(names::kResultsHeader)) {
        list_->horizontalHeader()->restoreState(QByteArray::fromHex(toQString(*header).toLatin1()));
        list_->fitPathColumns();
    }
    // The rows of a new run are not in that order yet, so no arrow shows until they are.
    const auto column = store.readNumber(names::kResultsSortColumn);
    list_->setSortChoice(column ? static_cast<int>(*column) : -1,
                         store.readNumber(names::kResultsSortFlag).value_or(1) != 0);
    if (const auto height = store.readNumber(names::kResultsDetailsHeight);
        height && *height >= 40 && *height <= 2000) {
        detailsHeight_ = static_cast<int>(*height);
    }
}

void CResultsPage::storeLayout() {
    namespace names = shell::settings;
    shell::SettingsStore& store = context_.settings;
    store.writeText(names::kResultsHeader,
                    toU16(QString::fromLatin1(list_->horizontalHeader()->saveState().toHex())));
    if (list_->sortColumn() >= 0) {
        store.writeNumber(names::kResultsSortColumn, static_cast<std::uint32_t>(list_->sortColumn()));
        store.writeNumber(names::kResultsSortFlag, list_->directionFlag() ? 1u : 0u);
    }
    store.writeNumber(names::kResultsDetailsHeight, static_cast<std::uint32_t>(detailsHeight_));
}

void CResultsPage::scanEnded() {
    list_->resort();
    if (groupsShown()) {
        groups_->rebuildIfStale(); // the last pairs, without waiting for the next refresh
    }
}

void CResultsPage::retranslate() {
    model_->retranslate();
    groups_->retranslate();
    details_->retranslate();
}

// --- selection and details ---

// Rows moved up into the place of removed ones: show what is selected now.
void CResultsPage::syncSelection() {
    onSelectionChanged(list_->selectedRow());
}

void CResultsPage::onSelectionChanged(int row) {
    if (row < 0 || model_->rowAt(row) == nullptr || groupsShown()) {
        details_->hide();
        return;
    }
    if (details_->isHidden()) {
        details_->show();
        setSizes({std::max(0, height() - handleWidth() - detailsHeight_), detailsHeight_});
    }
    makeDetails(row);
    const ResultRow* shown = model_->rowAt(row);
    details_->setRecords(shown->details1, shown->details2);
}

// Each file's details are read once per row, the first time the row is selected; a file no decoder
// opens is tried again at the next selection.
void CResultsPage::makeDetails(int row) {
    const ResultRow* selected = model_->rowAt(row);
    if (selected->details1 && selected->details2) {
        return;
    }
    if (!source_) {
        source_ = std::make_unique<audio::AudioSource>(context_.plugins);
    }
    auto first = selected->details1 ? selected->details1
                                    : shell::readFileDetails(selected->pair.path1, *source_, &context_.store);
    auto second = selected->details2
                      ? selected->details2
                      : shell::readFileDetails(selected->pair.path2, *source_, &context_.store);
    model_->setDetails(row, std::move(first), std::move(second));
}

// --- context menu and double click ---

std::unique_ptr<QMenu> CResultsPage::contextMenu(int row, int column) {
    if (model_->rowAt(row) == nullptr || (column > ResultsModel::kFile1 && column < ResultsModel::kMark2) ||
        column < 0 || column > ResultsModel::kFile2) {
        return nullptr;
    }
    const bool first = column <= ResultsModel::kFile1;
    auto menu = std::make_unique<QMenu>(this);
    const auto add = [&](const char16_t* key, std::u16string_view text, int command,
                         const QString& suffix = {}) {
        QAction* action = menu->addAction(context_.text(key, text) + suffix);
        action->setData(command);
        return action;
    };
    add(u"PLAY", u"Play", first ? cmd::kPlay1 : cmd::kPlay2);
    add(u"BROWSE", u"Browse...", first ? cmd::kBrowse1 : cmd::kBrowse2);
    menu->addSeparator();
    add(u"IGNORE", u"Ignore", first ? cmd::kIgnore1 : cmd::kIgnore2);
    const int marked = model_->markedCount(first ? 1 : 2);
    const QString count = QStringLiteral(" (%1)").arg(marked);
    if (marked > 0) {
        add(u"IGNORE_MARKED", u"Ignore marked", first ? cmd::kIgnoreMarked1 : cmd::kIgnoreMarked2, count);
    } else {
        add(u"IGNORE_MARKED_NO", u"Ignore marked...", 0)->setEnabled(false);
    }
    menu->addSeparator();
    add(u"DELETE", u"Delete", first ? cmd::kDelete1 : cmd::kDelete2);
    if (marked > 0) {
        add(u"DELETE_MARKED", u"Delete marked", first ? cmd::kDeleteMarked1 : cmd::kDeleteMarked2, count);
    } else {
        add(u"DELETE_MARKED_NO", u"Delete marked...", 0)->setEnabled(false);
    }
    return menu;
}

void CResultsPage::showContextMenu(int row, int column, const QPoint& globalPosition) {
    const std::unique_ptr<QMenu> menu = contextMenu(row, column);
    if (!menu) {
        return;
    }
    window()->raise();
    window()->activateWindow();
    if (const QAction* chosen = menu->exec(globalPosition);
        chosen != nullptr && chosen->data().toInt() != 0) {
        runCommand(chosen->data().toInt());
    }
}

void CResultsPage::onDoubleClicked(int, int column) {
    if (column == ResultsModel::kFile1) {
        runCommand(cmd::kPlay1);
    } else if (column == ResultsModel::kFile2) {
        runCommand(cmd::kPlay2);
    }
}

// --- commands ---

void CResultsPage::runCommand(int id) {
    const int side = (id == cmd::kDelete1 || id == cmd::kDeleteMarked1 || id == cmd::kPlay1 ||
                      id == cmd::kBrowse1 || id == cmd::kIgnoreMarked1)
                         ? 1
                         : 2;
    switch (id) {
    case cmd::kDelete1:
    case cmd::kDelete2:
        deleteSelected(side);
        break;
    case cmd::kDeleteMarked1:
    case cmd::kDeleteMarked2:
        deleteMarked(side);
        break;
    case cmd::kPlay1:
    case cmd::kPlay2:
        play(side);
        break;
    case cmd::kBrowse1:
    case cmd::kBrowse2:
        browse(side);
        break;
    case cmd::kIgnore1:
    case cmd::kIgnore2:
        ignoreSelected();
        break;
    case cmd::kIgnoreMarked1:
    case cmd::kIgnoreMarked2:
        ignoreMarked(side);
        break;
    default:
        break;
    }
}

const std::u16string* CResultsPage::selectedPath(int side) const {
    const ResultRow* selected = model_->rowAt(list_->selectedRow());
    if (selected == nullptr) {
        return nullptr;
    }
    return &selected->path(side);
}

void CResultsPage::deleteSelected(int side) {
    if (const std::u16string* path = selectedPath(side)) {
        trashFiles({*path});
    }
}

void CResultsPage::deleteMarked(int side) {
    std::vector<std::u16string> files;
    std::unordered_set<std::u16string> seen;
    for (const ResultRow& row : model_->rows()) {
        const std::u16string& path = row.path(side);
        if (row.marked(side) && seen.insert(path).second) {
            files.push_back(path);
        }
    }
    if (!files.empty()) {
        trashFiles(files);
    }
}

// One confirmation for all the files; those that went to the trash leave the list with every row
// that holds them, the others stay and are named with the reason.
void CResultsPage::trashFiles(const std::vector<std::u16string>& files, const QString& note) {
    TrashRequest request;
    request.files = files;
    request.note = note;
    request.singleName = QFileInfo(toQString(files.front())).fileName();
    request.listFiles = true;
    request.asScanned = true;
    request.referenceFolders = shell::readReferenceFolders(context_.settings);
    request.afterMoving = [this](const std::unordered_set<std::u16string>& trashed) {
        if (!trashed.empty()) {
            model_->removeRowsWithPaths(trashed);
            emit rowsChanged();
        }
    };
    confirmAndTrash(context_, this, request);
}

void CResultsPage::play(int side) {
    if (const std::u16string* path = selectedPath(side)) {
        playPath(*path);
    }
}

void CResultsPage::playPath(const std::u16string& path) {
    if (!openFile(path)) {
        context_.prompts.warning(
            this, QStringLiteral("Warning"),
            context_.text(u"PLAY_FAILED", u"No program could be started to play this file:") +
                QLatin1Char('\n') + toQString(path));
    }
}

void CResultsPage::browse(int side) {
    if (const std::u16string* path = selectedPath(side)) {
        browsePath(*path);
    }
}

void CResultsPage::browsePath(const std::u16string& path) {
    QPointer<CResultsPage> page(this);
    const QString shown = toQString(path);
    showInFolder(path, [page, shown] {
        if (page) {
            page->context_.prompts.warning(
                page, QStringLiteral("Warning"),
                page->context_.text(u"BROWSE_FAILED",
                                    u"No file manager could be started to show this file:") +
                    QLatin1Char('\n') + shown);
        }
    });
}

void CResultsPage::ignoreSelected() {
    const int row = list_->selectedRow();
    const ResultRow* selected = model_->rowAt(row);
    if (selected == nullptr) {
        return;
    }
    FailureReport refused;
    if (ignorePair(selected->pair, refused)) {
        model_->removeRow(row);
        emit rowsChanged();
        saveIgnores();
    }
    tellNotIgnored(refused, 1);
}

// Saved at every change, so that a crash or a killed session loses none of them.
void CResultsPage::saveIgnores() {
    if (failed(context_.store.saveIgnoreList())) {
        context_.prompts.warning(this, QStringLiteral("Warning"),
                                 context_.text(u"IGNORES_NOT_SAVED",
                                               u"The ignored pairs could not be saved. They stay ignored "
                                               u"while the program runs and are saved again at the next "
                                               u"change and at exit."));
    }
}

// Whole pairs are ignored: the same file stays listed in rows where it was not marked.
void CResultsPage::ignoreMarked(int side) {
    const std::vector<ResultRow>& rows = model_->rows();
    std::vector<bool> remove(rows.size());
    bool any = false;
    std::size_t asked = 0;
    FailureReport refused;
    for (std::size_t row = rows.size(); row-- > 0;) {
        if (rows[row].marked(side)) {
            ++asked;
            remove[row] = ignorePair(rows[row].pair, refused);
            any = any || remove[row];
        }
    }
    if (any) {
        model_->removeRowsWhere(remove);
        emit rowsChanged();
        saveIgnores();
    }
    tellNotIgnored(refused, asked);
}

bool CResultsPage::ignorePair(const engine::DuplicatePair& pair, FailureReport& refused) {
    // A row that went away would come back at the next scan, its pair never stored.
    for (const std::u16string* path : {&pair.path1, &pair.path2}) {
        if (!engine::ignore_list::storable(*path)) {
            const QString cause =
                context_.text(u"IGNORE_QUOTE", u"the ignore list cannot hold a name with a double quote");
            refused.add(*path, cause);
            return false;
        }
    }
    context_.store.ignorePair(pair.path1, pair.path2); // the row goes even when already ignored
    return true;
}

void CResultsPage::tellNotIgnored(const FailureReport& refused, std::size_t asked) {
    const QString heading =
        context_.text(u"IGNORE_FAILED", u"These pairs could not be ignored and stay listed (%1 of %2):")
            .arg(refused.size())
            .arg(asked);
    refused.show(context_, this, heading);
}

// --- playlist and export ---

bool CResultsPage::writeFile(const QString& file, const std::string& bytes) {
    QSaveFile out(file); // a temporary beside it, renamed over the old file only when whole
    const bool written =
        out.open(QIODevice::WriteOnly) &&
        out.write(bytes.data(), static_cast<qint64>(bytes.size())) == static_cast<qint64>(bytes.size()) &&
        out.commit();
    if (!written) {
        context_.prompts.error(this, QStringLiteral("Error"),
                               QStringLiteral("Can't write %1\n%2").arg(file, out.errorString()));
    }
    return written;
}

// "duplicates" in the folder the last playlist or export went to, while that folder is there.
QString CResultsPage::initialSaveName() const {
    const QString name = QStringLiteral("duplicates");
    const auto folder = context_.settings.readText(shell::settings::kLastSaveFolder);
    if (!folder || folder->empty() || !QFileInfo(toQString(*folder)).isDir()) {
        return name;
    }
    return QDir(toQString(*folder)).filePath(name);
}

void CResultsPage::rememberSaveFolder(const QString& file) {
    context_.settings.writeText(shell::settings::kLastSaveFolder, toU16(QFileInfo(file).absolutePath()));
}

void CResultsPage::savePlaylist() {
    if (model_->rows().empty()) {
        context_.prompts.error(this, QStringLiteral("Error"), QStringLiteral("No data to generate playlist"));
        return;
    }
    const QString file = context_.prompts.saveFileName(
        this, context_.text(u"SAVE_PLAYLIST", u"Save playlist"), initialSaveName(),
        {context_.text(u"PLAYLIST_FILTER", u"M3U Playlist") + QStringLiteral(" (*.m3u)")},
        QStringLiteral("m3u"), nullptr);
    if (file.isEmpty()) {
        return;
    }
    rememberSaveFolder(file);
    std::size_t leftOut = 0;
    const std::string playlist = engine::formatPlaylist(model_->pairs(), &leftOut);
    if (writeFile(file, playlist) && leftOut > 0) {
        context_.prompts.warning(this, QStringLiteral("Warning"),
                                 context_
                                     .text(u"PLAYLIST_LEFT_OUT", u"%1 pair(s) were left out of the playlist: "
                                                                 u"a file name holds a line break, which no "
                                                                 u"playlist line can carry.")
                                     .arg(leftOut));
    }
}

void CResultsPage::useFileCommands(QAction* savePlaylist, QAction* exportResults) {
    connect(savePlaylist, &QAction::triggered, this, &CResultsPage::savePlaylist);
    connect(exportResults, &QAction::triggered, this, &CResultsPage::exportResults);
}

void CResultsPage::exportResults() {
    if (model_->rows().empty()) {
        context_.prompts.error(this, QStringLiteral("Error"), QStringLiteral("No data to export"));
        return;
    }
    const QString csv = context_.text(u"EXPORT_CSV", u"CSV table") + QStringLiteral(" (*.csv)");
    const QString json = context_.text(u"EXPORT_JSON", u"JSON document") + QStringLiteral(" (*.json)");
    QString chosenFilter;
    const QString file =
        context_.prompts.saveFileName(this, context_.text(u"EXPORT_RESULTS", u"Export results"),
                                      initialSaveName(), {csv, json}, QStringLiteral("csv"), &chosenFilter);
    if (file.isEmpty()) {
        return;
    }
    rememberSaveFolder(file);
    // The name's extension decides; without one the chosen filter does.
    const bool asJson = file.endsWith(QStringLiteral(".json"), Qt::CaseInsensitive) ||
                        (!file.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive) && chosenFilter == json);
    const std::vector<engine::DuplicatePair> pairs = model_->pairs();
    writeFile(file,
              asJson ? shell::formatResultsJson(pairs, nullptr) : shell::formatResultsCsv(pairs, nullptr));
}

// --- groups ---

void CResultsPage::createGroupsView() {
    GroupsWorkflow::Page page;
    page.widget = this;
    page.groupsShown = [this] { return groupsShown(); };
    page.play = [this](const std::u16string& path) { playPath(path); };
    page.browse = [this](const std::u16string& path) { browsePath(path); };
    page.trash = [this](const std::vector<std::u16string>& files, const QString& note) {
        trashFiles(files, note);
    };
    page.removeRows = [this](const std::unordered_set<std::u16string>& files) {
        model_->removeRowsWithPaths(files);
        emit rowsChanged();
    };
    groups_ = new GroupsWorkflow(
        context_, *model_, [this](const std::u16string& path) { return readQuality(path); }, std::move(page),
        views_);
    views_->addWidget(groups_->view());
}

void CResultsPage::useGroupCommands(QAction* pairs, QAction* groups, QAction* markAllButBest) {
    pairsCommand_ = pairs;
    groupsCommand_ = groups;
    pairs->setChecked(!groupsShown());
    groups->setChecked(groupsShown());
    connect(pairs, &QAction::triggered, this, [this] { showGroups(false); });
    connect(groups, &QAction::triggered, this, [this] { showGroups(true); });
    connect(markAllButBest, &QAction::triggered, this, &CResultsPage::markAllButBest);
}

bool CResultsPage::groupsShown() const {
    return views_->currentWidget() == groups_->view();
}

void CResultsPage::showGroups(bool groups) {
    if (groups) {
        groups_->rebuildIfStale();
        views_->setCurrentWidget(groups_->view());
        details_->hide();
    } else {
        views_->setCurrentWidget(list_);
        syncSelection();
    }
    if (pairsCommand_ != nullptr) {
        pairsCommand_->setChecked(!groups);
        groupsCommand_->setChecked(groups);
    }
}

// The header of each file once (nothing is decoded); its analysis, when the cache has one, tells
// a transcoded file.
shell::FileQuality CResultsPage::readQuality(const std::u16string& path) {
    if (!source_) {
        source_ = std::make_unique<audio::AudioSource>(context_.plugins);
    }
    std::optional<analysis::TrackRecord> record;
    context_.store.lock().lockShared();
    if (const analysis::TrackRecord* known = context_.store.table().find(path)) {
        record = *known;
    }
    context_.store.lock().unlock();
    return shell::readFileQuality(path, *source_, record ? &*record : nullptr);
}

CGroupsView* CResultsPage::groupsView() const {
    return groups_->view();
}

GroupsModel* CResultsPage::groupsModel() const {
    return groups_->model();
}

bool CResultsPage::markAllButBest() {
    return groups_->markAllButBest();
}

void CResultsPage::deleteMarkedFiles() {
    groups_->deleteMarkedFiles();
}

} // namespace tonemirror::app
