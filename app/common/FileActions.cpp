#include "app/common/FileActions.h"

#include "app/AppContext.h"
#include "platform/os/Paths.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <filesystem>

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

// Qt's texts for the usual failures are the system's error names; say them plainly.
QString plainReason(const QString& systemText) {
    const auto is = [&systemText](int code) {
        return systemText == QString::fromLocal8Bit(std::strerror(code));
    };
    if (is(EXDEV)) {
        return QStringLiteral("its file system has no trash this program can use");
    }
    if (is(EACCES) || is(EPERM)) {
        return QStringLiteral("there is no permission to move it");
    }
    if (is(EROFS)) {
        return QStringLiteral("its file system is read-only");
    }
    if (is(ENOENT)) {
        return QStringLiteral("the file no longer exists");
    }
    return systemText;
}

// When the trash folder cannot be made, this Qt version moves the file into "files" under the
// current folder and reports success with a relative name. Put the file back.
TrashOutcome undoStrayTrash(const QString& original, const QString& stray) {
    const QFileInfo moved(stray);
    const QString strayFile = moved.absoluteFilePath();
    const QString info = QDir(moved.absolutePath())
                             .absoluteFilePath(QStringLiteral("../info/%1.trashinfo").arg(moved.fileName()));
    QFile::remove(QDir::cleanPath(info));
    const bool back = QFile::rename(strayFile, original); // never replaces a file
    QDir().rmdir(QDir::cleanPath(moved.absolutePath() + QStringLiteral("/../info")));
    QDir().rmdir(moved.absolutePath());
    if (!back) {
        return {false, QStringLiteral("the trash folder cannot be used; the file was left at ") + strayFile};
    }
    return {false, QStringLiteral("the trash folder cannot be used")};
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

TrashOutcome moveToTrash(const std::u16string& path) {
    const QString name = toQString(path);
    if (QFile::encodeName(name) != nativeName(path)) {
        return {false, QStringLiteral("its name is not UTF-8 text, which the trash cannot record")};
    }
    std::error_code error;
    if (!std::filesystem::exists(std::filesystem::symlink_status(os::toNativePath(path), error))) {
        return {false, QStringLiteral("the file no longer exists")};
    }
    QFile file(name);
    if (!file.moveToTrash()) {
        return {false, plainReason(file.errorString())};
    }
    if (!QDir::isAbsolutePath(file.fileName())) {
        return undoStrayTrash(name, file.fileName());
    }
    return {true, {}};
}

} // namespace tonemirror::app
