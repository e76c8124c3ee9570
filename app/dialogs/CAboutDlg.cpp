#include "app/dialogs/CAboutDlg.h"

#include "app/AppContext.h"
#include "app/dialogs/DialogUnits.h"
#include "tonemirror/AppLinks.h"

#include <QDesktopServices>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QUrl>

namespace tonemirror::app {

QString aboutVersionLine(const AppContext& context, shell::LocalVersion version) {
    QString line = context.text(u"ABOUT_VERSION", u"Version") + QLatin1Char(' ') +
                   QString::number(version.packed >> 16) + QLatin1Char('.') +
                   QString::number(version.packed & 0xFFFFu);
    if (version.build != 0) {
        line += QStringLiteral(" (") + context.text(u"ABOUT_BUILD", u"build") + QLatin1Char(' ') +
                QString::number(version.build) + QLatin1Char(')');
    }
    return line;
}

CAboutDlg::CAboutDlg(const AppContext& context, shell::LocalVersion version, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("About"));
    setFont(dialogFont(QStringLiteral("Arial"), 10));
    const DialogUnits du(font());
    setFixedSize(du.x(186), du.y(117));

    du.place(new QGroupBox(this), 4, 0, 176, 45);
    auto* title = new QLabel(QStringLiteral("Tonemirror (beta)"), this);
    title->setObjectName(QStringLiteral("title"));
    title->setFont(dialogFont(QStringLiteral("Arial"), 24, true));
    title->setAlignment(Qt::AlignCenter);
    du.place(title, 27, 8, 132, 16);
    auto* versionLine = new QLabel(aboutVersionLine(context, version), this);
    versionLine->setObjectName(QStringLiteral("version"));
    versionLine->setAlignment(Qt::AlignCenter);
    du.place(versionLine, 27, 24, 132, 9);
    auto* tagline = new QLabel(QStringLiteral("Finds duplicate music files"), this);
    tagline->setAlignment(Qt::AlignCenter);
    du.place(tagline, 27, 33, 132, 9);

    du.place(new QGroupBox(this), 4, 44, 176, 49);
    const QString web = QStringLiteral(TONEMIRROR_ABOUT_WEB);
    const QString forum = QStringLiteral(TONEMIRROR_ABOUT_FORUM);
    const QString mail = QStringLiteral(TONEMIRROR_ABOUT_EMAIL);
    addLink(QStringLiteral("Web:"), web, web, 53, 112);
    addLink(QStringLiteral("Forum:"), forum, forum, 65, 128);
    addLink(QStringLiteral("E-mail:"), mail, QStringLiteral("mailto:") + mail, 77, 112);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setDefault(true);
    du.place(ok, 67, 96, 50, 14);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

void CAboutDlg::addLink(const QString& caption, const QString& text, const QString& url, int top, int width) {
    const DialogUnits du(font());
    du.place(new QLabel(caption, this), 18, top, 28, 8);
    auto* link = new QLabel(
        QStringLiteral("<a href=\"%1\">%2</a>").arg(url.toHtmlEscaped(), text.toHtmlEscaped()), this);
    link->setTextFormat(Qt::RichText);
    link->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    link->setToolTip(url);
    du.place(link, 47, top, width, 8);
    connect(link, &QLabel::linkActivated, this,
            [](const QString& target) { QDesktopServices::openUrl(QUrl(target)); });
}

} // namespace tonemirror::app
