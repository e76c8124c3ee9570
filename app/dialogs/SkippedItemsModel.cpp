#include "app/dialogs/SkippedItemsModel.h"

#include "app/AppContext.h"

namespace tonemirror::app {

SkippedItemsModel::SkippedItemsModel(const AppContext& context, std::vector<engine::SkippedItem> items,
                                     QObject* parent)
    : QAbstractTableModel(parent), context_(context), items_(std::move(items)) {
    headers_[kName] = context.text(u"SKIPPED_NAME", u"Name");
    headers_[kReason] = context.text(u"SKIPPED_REASON", u"Why it was left out");
    headers_[kDetail] = context.text(u"SKIPPED_DETAIL", u"Details");
}

int SkippedItemsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(items_.size());
}

int SkippedItemsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant SkippedItemsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() ||
        (role != Qt::DisplayRole && role != Qt::ToolTipRole)) {
        return {};
    }
    const engine::SkippedItem& item = items_[static_cast<std::size_t>(index.row())];
    switch (index.column()) {
    case kName:
        return toQString(item.path);
    case kReason:
        return reasonText(context_, item.reason);
    default:
        return toQString(item.detail);
    }
}

QVariant SkippedItemsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= kColumnCount) {
        return {};
    }
    return headers_[section];
}

QString SkippedItemsModel::reasonText(const AppContext& context, engine::SkipReason reason) {
    using engine::SkipReason;
    switch (reason) {
    case SkipReason::UnreadableFolder:
        return context.text(u"SKIP_UNREADABLE_FOLDER", u"folder cannot be read");
    case SkipReason::PathTooLong:
        return context.text(u"SKIP_PATH_TOO_LONG", u"path longer than the system allows");
    case SkipReason::SpecialFile:
        return context.text(u"SKIP_SPECIAL_FILE", u"not a regular file (pipe, socket or device)");
    case SkipReason::KernelFiles:
        return context.text(u"SKIP_KERNEL_FILES", u"kernel file system, holds no music");
    case SkipReason::LinkToFolder:
        return context.text(u"SKIP_LINK_TO_FOLDER", u"link to a folder, not followed");
    case SkipReason::BrokenLink:
        return context.text(u"SKIP_BROKEN_LINK", u"link to nothing");
    case SkipReason::SameFile:
        return context.text(u"SKIP_SAME_FILE", u"another name of a file already scanned");
    case SkipReason::SameFolder:
        return context.text(u"SKIP_SAME_FOLDER", u"another name of a folder already scanned");
    case SkipReason::TrashFolder:
        return context.text(u"SKIP_TRASH_FOLDER", u"the desktop's trash, not scanned");
    case SkipReason::NotAudio:
        return context.text(u"SKIP_NOT_AUDIO", u"not audio, or no decoder reads it");
    case SkipReason::TooShort:
        return context.text(u"SKIP_TOO_SHORT", u"too short to compare");
    case SkipReason::Silent:
        return context.text(u"SKIP_SILENT", u"silent opening");
    case SkipReason::Undecodable:
        return context.text(u"SKIP_UNDECODABLE", u"cannot be decoded");
    }
    return QString::fromLatin1(engine::skipReasonText(reason));
}

} // namespace tonemirror::app
