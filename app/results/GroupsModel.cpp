#include "app/results/GroupsModel.h"

#include "app/AppContext.h"
#include "app/results/ResultsModel.h"
#include "shell/ResultCells.h"

#include <QFont>

#include <algorithm>

namespace tonemirror::app {

namespace {

// Above this many changed rows of the results list, every check box is repainted at once.
constexpr int kMaxSingleMarkChanges = 256;

struct ReasonText {
    shell::KeepCriterion criterion;
    const char16_t* key;
    const char16_t* english;
};

constexpr ReasonText kReasons[] = {
    {shell::KeepCriterion::Reference, u"KEEP_REASON_REFERENCE", u"in a reference folder"},
    {shell::KeepCriterion::Lossless, u"KEEP_REASON_LOSSLESS", u"lossless"},
    {shell::KeepCriterion::BitRate, u"KEEP_REASON_BITRATE", u"higher bit rate"},
    {shell::KeepCriterion::SampleRate, u"KEEP_REASON_SAMPLERATE", u"higher sample rate"},
    {shell::KeepCriterion::TagFields, u"KEEP_REASON_TAGS", u"more tag fields"},
    {shell::KeepCriterion::Longer, u"KEEP_REASON_LONGER", u"longer"},
    {shell::KeepCriterion::ShorterPath, u"KEEP_REASON_SHORTER_PATH", u"shorter path"},
    {shell::KeepCriterion::Name, u"KEEP_REASON_NAME", u"first by name"},
};

} // namespace

GroupsModel::GroupsModel(ResultsModel& results, Translate translate, ReadQuality readQuality, QObject* parent)
    : QAbstractItemModel(parent), results_(results), translate_(std::move(translate)),
      readQuality_(std::move(readQuality)) {
    retranslate();
    connect(&results_, &QAbstractItemModel::dataChanged, this, &GroupsModel::marksChanged);
}

GroupsModel::~GroupsModel() = default;

void GroupsModel::setRules(shell::KeeperRules rules, std::vector<std::u16string> referenceFolders) {
    rules_ = std::move(rules);
    referenceFolders_ = std::move(referenceFolders);
}

shell::PlanInput GroupsModel::planInput() const {
    return {*groups_, qualities_, referenceFolders_, rules_};
}

void GroupsModel::rebuild() {
    beginResetModel();
    groups_.reset(); // before the pairs it refers to change
    pairs_ = results_.pairs();
    groups_ = std::make_unique<shell::ResultGroups>(pairs_);
    readQualities();
    plan_ = shell::planMarks(planInput());
    shown_.assign(groups_->groups().size(), {});
    placeOfFile_.assign(groups_->fileCount(), 0);
    for (const shell::ResolvePlan::GroupPlan& group : plan_.groups) {
        std::vector<FileIndex>& files = shown_[group.group];
        files.push_back(group.keep);
        for (const FileIndex file : groups_->groups()[group.group].files) {
            if (file != group.keep) {
                placeOfFile_[file] = static_cast<std::uint32_t>(files.size());
                files.push_back(file);
            }
        }
    }
    endResetModel();
}

// Each file's header is read once; a rebuild after a delete or an ignore reads nothing again.
void GroupsModel::readQualities() {
    qualities_.clear();
    qualities_.reserve(groups_->fileCount());
    for (FileIndex file = 0; file < groups_->fileCount(); ++file) {
        const std::u16string& path = groups_->path(file);
        auto known = qualityOfPath_.find(path);
        if (known == qualityOfPath_.end()) {
            known = qualityOfPath_.emplace(path, readQuality_(path)).first;
        }
        qualities_.push_back(known->second);
    }
}

QModelIndex GroupsModel::index(int row, int column, const QModelIndex& parent) const {
    if (row < 0 || column < 0 || column >= kColumnCount) {
        return {};
    }
    if (!parent.isValid()) {
        return row < static_cast<int>(shown_.size()) ? createIndex(row, column, quintptr(0)) : QModelIndex();
    }
    if (parent.internalId() != 0 || parent.row() >= static_cast<int>(shown_.size())) {
        return {};
    }
    const auto group = static_cast<std::size_t>(parent.row());
    return row + 1 < static_cast<int>(shown_[group].size()) ? createIndex(row, column, quintptr(group + 1))
                                                            : QModelIndex();
}

QModelIndex GroupsModel::parent(const QModelIndex& child) const {
    if (!child.isValid() || child.internalId() == 0) {
        return {};
    }
    return createIndex(static_cast<int>(child.internalId() - 1), 0, quintptr(0));
}

int GroupsModel::rowCount(const QModelIndex& parent) const {
    if (!parent.isValid()) {
        return static_cast<int>(shown_.size());
    }
    if (parent.internalId() != 0 || parent.column() != 0) {
        return 0;
    }
    return static_cast<int>(shown_[static_cast<std::size_t>(parent.row())].size()) - 1;
}

int GroupsModel::columnCount(const QModelIndex&) const {
    return kColumnCount;
}

GroupsModel::FileIndex GroupsModel::fileAt(const QModelIndex& index) const {
    if (index.internalId() == 0) {
        return shown_[static_cast<std::size_t>(index.row())].front();
    }
    return shown_[index.internalId() - 1][static_cast<std::size_t>(index.row()) + 1];
}

QModelIndex GroupsModel::indexOfFile(FileIndex file, int column) const {
    const std::size_t group = groups_->groupOf(file);
    const std::uint32_t place = placeOfFile_[file];
    return place == 0 ? createIndex(static_cast<int>(group), column, quintptr(0))
                      : createIndex(static_cast<int>(place) - 1, column, quintptr(group + 1));
}

const std::u16string* GroupsModel::pathAt(const QModelIndex& index) const {
    if (!index.isValid() || index.model() != this) {
        return nullptr;
    }
    return &groups_->path(fileAt(index));
}

QString GroupsModel::reasonText(shell::KeepCriterion criterion) const {
    for (const ReasonText& reason : kReasons) {
        if (reason.criterion == criterion) {
            return translate_(reason.key, reason.english);
        }
    }
    return {};
}

// The scores of the file's pair with its group's kept file; a file only linked to it through
// others has none.
QString GroupsModel::matchText(FileIndex file, std::size_t group) const {
    const engine::DuplicatePair* pair = groups_->pairOf(file, shown_[group].front());
    if (pair == nullptr) {
        return translate_(u"GROUPS_NOT_PAIRED", u"no pair with the kept file");
    }
    QStringList parts;
    if (pair->contentPercent >= 0.0f) {
        parts << translate_(u"GROUPS_CONTENT", u"%1 content")
                     .arg(toQString(shell::percentText(pair->contentPercent)));
    }
    if (pair->tagsPercent >= 0.0f) {
        parts << translate_(u"GROUPS_TAGS_SCORE", u"%1 tags")
                     .arg(toQString(shell::percentText(pair->tagsPercent)));
    }
    return parts.join(QStringLiteral(", "));
}

QString GroupsModel::qualityText(const shell::FileQuality& quality, int column) const {
    const QString none = QStringLiteral("-");
    switch (column) {
    case kFormat: {
        if (!quality.readable) {
            return translate_(u"GROUPS_UNREADABLE", u"unreadable");
        }
        const QString kind =
            quality.trulyLossless()
                ? translate_(u"GROUPS_LOSSLESS", u"lossless")
                : (quality.lossless ? translate_(u"GROUPS_TRANSCODED", u"probably transcoded")
                                    : translate_(u"GROUPS_LOSSY", u"lossy"));
        return QString::fromStdString(quality.format) + QStringLiteral(", ") + kind;
    }
    case kBitRate:
        return quality.bitRate == 0 ? none : QStringLiteral("%1 kbit/s").arg(quality.bitRate / 1000);
    case kSampleRate:
        return quality.sampleRate == 0 ? none : QStringLiteral("%1 Hz").arg(quality.sampleRate);
    case kChannels:
        return quality.channels == 0 ? none : QString::number(quality.channels);
    case kDuration:
        return quality.readable ? toQString(shell::durationText(quality.durationMs)) : none;
    case kTags:
        return QString::number(quality.tagFields);
    default:
        return {};
    }
}

QVariant GroupsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.model() != this) {
        return {};
    }
    const FileIndex file = fileAt(index);
    const bool kept = index.internalId() == 0;
    const std::size_t group = kept ? static_cast<std::size_t>(index.row()) : index.internalId() - 1;
    const int column = index.column();
    if (role == Qt::DisplayRole) {
        if (column == kFile) {
            return windowName(groups_->path(file));
        }
        if (column == kMatch) {
            return kept ? translate_(u"GROUPS_KEPT", u"kept: %1").arg(reasonText(plan_.groups[group].reason))
                        : matchText(file, group);
        }
        return qualityText(qualities_[file], column);
    }
    if (role == Qt::FontRole && kept) {
        QFont bold;
        bold.setBold(true);
        return bold;
    }
    if (role == Qt::CheckStateRole && column == kFile) {
        return results_.fileMarked(groups_->path(file)) ? Qt::Checked : Qt::Unchecked;
    }
    return {};
}

bool GroupsModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    const std::u16string* path = pathAt(index);
    if (role != Qt::CheckStateRole || index.column() != kFile || path == nullptr) {
        return false;
    }
    results_.setFileMarked(*path, value.toInt() == Qt::Checked); // comes back through marksChanged
    return true;
}

QVariant GroupsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= kColumnCount) {
        return {};
    }
    return headers_[section];
}

Qt::ItemFlags GroupsModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) {
        return Qt::NoItemFlags;
    }
    const Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    return index.column() == kFile ? flags | Qt::ItemIsUserCheckable : flags;
}

// Marks changed in the results list: the check boxes of those files show it.
void GroupsModel::marksChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight) {
    const auto covers = [&](int column) {
        return topLeft.column() <= column && column <= bottomRight.column();
    };
    const bool first = covers(ResultsModel::kMark1);
    const bool second = covers(ResultsModel::kMark2);
    if (!groups_ || shown_.empty() || (!first && !second)) {
        return; // a score or a text changed, no mark
    }
    if (bottomRight.row() - topLeft.row() >= kMaxSingleMarkChanges) {
        emit dataChanged(index(0, kFile), index(rowCount() - 1, kFile), {Qt::CheckStateRole});
        for (int group = 0; group < rowCount(); ++group) {
            const QModelIndex parent = index(group, kFile);
            emit dataChanged(index(0, kFile, parent), index(rowCount(parent) - 1, kFile, parent),
                             {Qt::CheckStateRole});
        }
        return;
    }
    const int firstSide = first ? 1 : 2;
    const int lastSide = second ? 2 : 1;
    for (int row = topLeft.row(); row <= bottomRight.row(); ++row) {
        const ResultRow* changed = results_.rowAt(row);
        for (int side = firstSide; changed != nullptr && side <= lastSide; ++side) {
            const FileIndex file = groups_->find(changed->path(side));
            if (file < groups_->fileCount()) {
                const QModelIndex cell = indexOfFile(file, kFile);
                emit dataChanged(cell, cell, {Qt::CheckStateRole});
            }
        }
    }
}

std::unordered_set<std::u16string> GroupsModel::plannedMarks() const {
    std::unordered_set<std::u16string> marks;
    for (const shell::ResolvePlan::GroupPlan& group : plan_.groups) {
        for (const FileIndex file : group.mark) {
            marks.insert(groups_->path(file));
        }
    }
    return marks;
}

std::vector<std::u16string> GroupsModel::markedFiles() const {
    std::vector<std::u16string> files;
    for (const std::vector<FileIndex>& group : shown_) {
        for (const FileIndex file : group) {
            if (results_.fileMarked(groups_->path(file))) {
                files.push_back(groups_->path(file));
            }
        }
    }
    return files;
}

std::unordered_set<std::u16string> GroupsModel::lastCopies() const {
    std::unordered_set<std::u16string> kept;
    for (const std::vector<FileIndex>& group : shown_) {
        const bool allMarked = std::all_of(group.begin(), group.end(), [this](FileIndex file) {
            return results_.fileMarked(groups_->path(file));
        });
        if (allMarked) {
            kept.insert(groups_->path(group.front()));
        }
    }
    return kept;
}

QStringList GroupsModel::rankWarnings() const {
    if (!groups_) {
        return {};
    }
    const std::vector<bool> inReference = shell::referenceFlags(*groups_, referenceFolders_);
    std::vector<bool> marked(groups_->fileCount());
    std::vector<FileIndex> kept(shown_.size());
    for (std::size_t group = 0; group < shown_.size(); ++group) {
        kept[group] = keptOf(group, inReference);
        for (const FileIndex file : shown_[group]) {
            marked[file] = results_.fileMarked(groups_->path(file));
        }
    }
    QStringList lines;
    for (const shell::RankWarning& warning : shell::rankWarnings(planInput(), kept, marked)) {
        lines << translate_(u"GROUPS_RANKS_ABOVE", u"%1 ranks above the copy that stays, %2 (%3)")
                     .arg(windowName(groups_->path(warning.marked)), windowName(groups_->path(warning.kept)),
                          reasonText(warning.criterion));
    }
    return lines;
}

GroupsModel::FileIndex GroupsModel::keptOf(std::size_t group, const std::vector<bool>& inReference) const {
    FileIndex kept = shown_[group].front(); // all marked: the best stays anyway
    bool found = false;
    for (const FileIndex file : shown_[group]) {
        const shell::KeepCandidate candidate{&groups_->path(file), &qualities_[file], inReference[file]};
        const shell::KeepCandidate best{&groups_->path(kept), &qualities_[kept], inReference[kept]};
        if (!results_.fileMarked(groups_->path(file)) && (!found || rules_.better(candidate, best))) {
            kept = file;
            found = true;
        }
    }
    return kept;
}

std::vector<GroupsModel::MarkedCopy> GroupsModel::markedCopies() const {
    std::vector<MarkedCopy> copies;
    if (!groups_) {
        return copies;
    }
    const std::vector<bool> inReference = shell::referenceFlags(*groups_, referenceFolders_);
    for (std::size_t group = 0; group < shown_.size(); ++group) {
        const FileIndex kept = keptOf(group, inReference);
        for (const FileIndex file : shown_[group]) {
            if (file != kept && results_.fileMarked(groups_->path(file))) {
                copies.push_back(
                    {groups_->path(file), groups_->path(kept), groups_->pairOf(file, kept) != nullptr});
            }
        }
    }
    return copies;
}

void GroupsModel::retranslate() {
    headers_[kFile] = translate_(u"GROUPS_FILE", u"File");
    headers_[kMatch] = translate_(u"GROUPS_MATCH", u"Kept because / match");
    headers_[kFormat] = translate_(u"GROUPS_FORMAT", u"Format");
    headers_[kBitRate] = translate_(u"GROUPS_BITRATE", u"Bit rate");
    headers_[kSampleRate] = translate_(u"GROUPS_SAMPLERATE", u"Sample rate");
    headers_[kChannels] = translate_(u"GROUPS_CHANNELS", u"Channels");
    headers_[kDuration] = translate_(u"GROUPS_DURATION", u"Duration");
    headers_[kTags] = translate_(u"GROUPS_TAG_FIELDS", u"Tags");
    emit headerDataChanged(Qt::Horizontal, 0, kColumnCount - 1);
    if (!shown_.empty()) {
        emit layoutChanged();
    }
}

} // namespace tonemirror::app
