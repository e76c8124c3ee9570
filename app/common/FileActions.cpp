#include "app/common/FileActions.h"

#include "app/AppContext.h"
#include "platform/os/Paths.h"
#include "platform/os/Text.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>

namespace tonemirror::app {

namespace {

QByteArray nativeName(const std::u16string& path) {
    const std::string native = os::toNativePath(path).native();
    return QByteArray(native.data(), static_cast<qsizetype>(native.size()));
}

bool openFolder(const std::u16string& path) {
    const std::size_t cut = path.rfind(os::kNativeSeparator);
    if (cut == std::u16string::npos) {
        return false;
    }
    return QDesktopServices::openUrl(fileUrl(cut == 0 ? path.substr(0, 1) : path.substr(0, cut)));
}

struct ProblemText {
    os::TrashProblem problem;
    const char16_t* key;
};

// Translation keys of the trash's reasons; the English defaults are the trash's own texts.
constexpr ProblemText kProblemKeys[] = {
    {os::TrashProblem::NotFound, u"TRASH_WHY_NOT_FOUND"},
    {os::TrashProblem::NotAnItem, u"TRASH_WHY_NOT_AN_ITEM"},
    {os::TrashProblem::AlreadyInTrash, u"TRASH_WHY_IN_TRASH"},
    {os::TrashProblem::HoldsTrash, u"TRASH_WHY_HOLDS_TRASH"},
    {os::TrashProblem::NoTrash, u"TRASH_WHY_NO_TRASH"},
    {os::TrashProblem::UnsafeTrash, u"TRASH_WHY_UNSAFE"},
    {os::TrashProblem::TrashNotWritable, u"TRASH_WHY_NOT_WRITABLE"},
    {os::TrashProblem::TrashFull, u"TRASH_WHY_FULL"},
    {os::TrashProblem::TooManyNames, u"TRASH_WHY_TOO_MANY_NAMES"},
    {os::TrashProblem::NoPermission, u"TRASH_WHY_NO_PERMISSION"},
    {os::TrashProblem::ReadOnly, u"TRASH_WHY_READ_ONLY"},
    {os::TrashProblem::Busy, u"TRASH_WHY_BUSY"},
    {os::TrashProblem::MoveFailed, u"TRASH_WHY_MOVE_FAILED"},
    {os::TrashProblem::NotInTrash, u"TRASH_WHY_NOT_IN_TRASH"},
    {os::TrashProblem::NotATrashEntry, u"TRASH_WHY_NOT_AN_ENTRY"},
    {os::TrashProblem::RecordMismatch, u"TRASH_WHY_RECORD_MISMATCH"},
    {os::TrashProblem::PlaceTaken, u"TRASH_WHY_PLACE_TAKEN"},
    {os::TrashProblem::FolderGone, u"TRASH_WHY_FOLDER_GONE"},
};

} // namespace

QUrl fileUrl(const std::u16string& path) {
    return QUrl::fromEncoded("file://" + nativeName(path).toPercentEncoding("/"));
}

bool openFile(const std::u16string& path) {
    return QDesktopServices::openUrl(fileUrl(path));
}

void showInFolder(const std::u16string& path, const std::function<void()>& failed) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        if (!openFolder(path) && failed) {
            failed();
        }
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QString::fromLatin1(fileUrl(path).toEncoded())} << QString();
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [watcher, path, failed](QDBusPendingCallWatcher*) {
                         if (watcher->isError() && !openFolder(path) && failed) {
                             failed();
                         }
                         watcher->deleteLater();
                     });
}

QString trashReason(const AppContext& context, const os::TrashOutcome& outcome) {
    const std::u16string english = os::utf8ToUtf16(os::describeTrashProblem(outcome.problem));
    QString reason = toQString(english);
    for (const ProblemText& entry : kProblemKeys) {
        if (entry.problem == outcome.problem) {
            reason = context.text(entry.key, english);
        }
    }
    const bool saysMore =
        outcome.problem != os::TrashProblem::NotFound && outcome.problem != os::TrashProblem::NotInTrash;
    if (saysMore && !outcome.detail.empty()) {
        reason += QStringLiteral(" (") + toQString(os::fromNativeName(outcome.detail)) + QLatin1Char(')');
    }
    return reason;
}

TrashOutcome moveToTrash(const AppContext& context, const std::u16string& path) {
    os::DesktopTrash trash = os::DesktopTrash::fromProcess();
    const os::TrashOutcome outcome = trash.moveToTrash(os::toNativePath(path).native());
    if (!outcome.ok) {
        return {false, trashReason(context, outcome), {}};
    }
    return {true, {}, outcome.entry};
}

} // namespace tonemirror::app
