#include "app/dialogs/CUpdateDlg.h"

#include "app/AppContext.h"
#include "app/dialogs/DialogUnits.h"
#include "app/dialogs/UpdateChecker.h"

#include <QDesktopServices>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

namespace tonemirror::app {

CUpdateDlg::CUpdateDlg(const AppContext& context, int initialResult, shell::LocalVersion version,
                       std::function<void()> succeeded, shell::UpdateServer server, QWidget* parent)
    : QDialog(parent), context_(context), succeeded_(std::move(succeeded)) {
    setWindowTitle(context.text(u"UPDATE_TITLE", u"Check for update"));
    setFont(dialogFont(QStringLiteral("MS Shell Dlg"), 8));
    const DialogUnits du(font());
    setFixedSize(du.x(200), du.y(76));

    status_ = new QLabel(context.text(u"UPDATE_WAIT", u"Please wait..."), this);
    status_->setAlignment(Qt::AlignCenter);
    status_->setWordWrap(true);
    du.place(status_, 7, 7, 186, 24);
    const QString site = QString::fromStdString(shell::vendorWebSite());
    link_ = new QLabel(QStringLiteral("<a href=\"%1\">%1</a>").arg(site.toHtmlEscaped()), this);
    link_->setAlignment(Qt::AlignCenter);
    link_->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    link_->setVisible(false);
    du.place(link_, 7, 34, 186, 10);
    connect(link_, &QLabel::linkActivated, this,
            [](const QString& url) { QDesktopServices::openUrl(QUrl(url)); });
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setDefault(true);
    du.place(ok, 75, 55, 50, 14);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    if (initialResult != 0) {
        QTimer::singleShot(0, this, [this, initialResult] { showResult(initialResult); });
        return;
    }
    checker_ = new UpdateChecker(std::move(server), this);
    connect(checker_, &UpdateChecker::finished, this, &CUpdateDlg::showResult);
    checker_->start(version, false); // a thread that cannot start leaves "Please wait..."
}

void CUpdateDlg::showResult(int result) {
    const auto kind = static_cast<shell::UpdateResult>(result);
    const shell::UpdateResultText text = shell::updateResultText(kind);
    status_->setText(context_.text(text.key, text.defaultText));
    link_->setVisible(kind == shell::UpdateResult::Present);
    if ((kind == shell::UpdateResult::Present || kind == shell::UpdateResult::UpToDate) && succeeded_) {
        succeeded_();
    }
}

QString CUpdateDlg::statusText() const {
    return status_->text();
}

bool CUpdateDlg::linkShown() const {
    return !link_->isHidden();
}

} // namespace tonemirror::app
