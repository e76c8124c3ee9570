#include "app/common/FileActions.h"

#include "app/AppContext.h"
#include "platform/os/Paths.h"
#include "platform/os/Text.h"
#include "shell/ActionTexts.h"

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
    const char16_t* key = shell::trashProblemKey(outcome.problem);
    QString reason = key != nullptr ? context.text(key, english) : toQString(english);
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
