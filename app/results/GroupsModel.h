#pragma once

#include "shell/FileQuality.h"
#include "shell/KeeperRules.h"
#include "shell/ResolvePlan.h"
#include "shell/ResultGroups.h"

#include <QAbstractItemModel>

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace tonemirror::app {

class ResultsModel;

// The results seen as groups: one top-level row per group, its kept file (the copy the keeper rules
// rank first) with the reason it was kept, and under it the other files with their quality and
// their scores against the kept file. The rows come from the results list, and so do the marks:
// a file's check box here is the results list's marks of that file.
class GroupsModel : public QAbstractItemModel {
    Q_OBJECT
public:
    enum Column { kFile, kMatch, kFormat, kBitRate, kSampleRate, kChannels, kDuration, kTags, kColumnCount };

    using Translate = std::function<QString(const char16_t* key, std::u16string_view english)>;
    // The quality of one file; asked once per path while the model lives.
    using ReadQuality = std::function<shell::FileQuality(const std::u16string& path)>;

    GroupsModel(ResultsModel& results, Translate translate, ReadQuality readQuality,
                QObject* parent = nullptr);
    ~GroupsModel() override;

    // The rules and the reference folders (never marked) the next rebuild uses.
    void setRules(shell::KeeperRules rules, std::vector<std::u16string> referenceFolders);
    // Groups the results list's rows again.
    void rebuild();

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    const shell::ResultGroups* groups() const { return groups_.get(); }
    // What "Mark all but the best" marks, from the last rebuild.
    const shell::ResolvePlan& plan() const { return plan_; }
    std::unordered_set<std::u16string> plannedMarks() const;
    // The file of a row; null for an invalid index.
    const std::u16string* pathAt(const QModelIndex& index) const;
    // The marked files, group by group.
    std::vector<std::u16string> markedFiles() const;
    // In every group whose files are all marked, its best file: deleting them all would leave no copy.
    std::unordered_set<std::u16string> lastCopies() const;
    // Marked files the rules rank above the best unmarked file of their group, as "FILE (REASON
    // than KEPT)" lines.
    QStringList rankWarnings() const;

    // A marked file and the copy of its group that stays while it goes.
    struct MarkedCopy {
        std::u16string path;
        std::u16string kept;
        bool paired = false; // reported as a duplicate of `kept`
    };
    // Every marked file but the one that stays in its group: the best unmarked file, or the best
    // file when all are marked.
    std::vector<MarkedCopy> markedCopies() const;

    void retranslate();

private:
    using FileIndex = shell::ResultGroups::FileIndex;

    FileIndex fileAt(const QModelIndex& index) const;
    QModelIndex indexOfFile(FileIndex file, int column) const;
    void marksChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight);
    void readQualities();
    QString reasonText(shell::KeepCriterion criterion) const;
    QString matchText(FileIndex file, std::size_t group) const;
    QString qualityText(const shell::FileQuality& quality, int column) const;
    shell::PlanInput planInput() const;
    // The best unmarked file of a group, its first when all are marked.
    FileIndex keptOf(std::size_t group, const std::vector<bool>& inReference) const;

    ResultsModel& results_;
    Translate translate_;
    ReadQuality readQuality_;
    shell::KeeperRules rules_;
    std::vector<std::u16string> referenceFolders_;

    std::vector<engine::DuplicatePair> pairs_; // the groups refer to them
    std::unique_ptr<shell::ResultGroups> groups_;
    std::vector<shell::FileQuality> qualities_; // by file number
    std::unordered_map<std::u16string, shell::FileQuality> qualityOfPath_;
    shell::ResolvePlan plan_;
    std::vector<std::vector<FileIndex>> shown_; // by group: the kept file, then the others
    std::vector<std::uint32_t> placeOfFile_;    // where a file shows among its group's
    QString headers_[kColumnCount];
};

} // namespace tonemirror::app
