#include "app/dialogs/CKeeperRulesDlg.h"

#include "app/AppContext.h"
#include "app/Prompts.h"
#include "app/dialogs/DialogUnits.h"
#include "shell/Preferences.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace tonemirror::app {

namespace {

using shell::KeepCriterion;

constexpr int kCriterionRole = Qt::UserRole;

// Every criterion the user may order, in the program's default order.
const std::vector<KeepCriterion>& allCriteria() {
    static const std::vector<KeepCriterion> all = shell::KeeperRules().order();
    return all;
}

QString criterionText(const AppContext& context, KeepCriterion criterion) {
    switch (criterion) {
    case KeepCriterion::Reference:
        return context.text(u"KEEP_REFERENCE", u"In a reference folder");
    case KeepCriterion::Lossless:
        return context.text(u"KEEP_LOSSLESS", u"Lossless (and not probably transcoded)");
    case KeepCriterion::BitRate:
        return context.text(u"KEEP_BITRATE", u"Higher bit rate");
    case KeepCriterion::SampleRate:
        return context.text(u"KEEP_SAMPLERATE", u"Higher sample rate");
    case KeepCriterion::TagFields:
        return context.text(u"KEEP_TAGS", u"More tag fields filled");
    case KeepCriterion::Longer:
        return context.text(u"KEEP_LONGER", u"Longer");
    case KeepCriterion::ShorterPath:
        return context.text(u"KEEP_SHORTER_PATH", u"Shorter path");
    case KeepCriterion::Name:
        break;
    }
    return {};
}

} // namespace

CKeeperRulesDlg::CKeeperRulesDlg(const AppContext& context, const shell::KeeperRules& rules, QWidget* parent)
    : QDialog(parent), context_(context) {
    setObjectName(QStringLiteral("Tonemirror:KeeperRulesDlg"));
    setWindowTitle(context.text(u"KEEPER_RULES_TITLE", u"Keeper rules"));
    setFont(dialogFont(QStringLiteral("MS Shell Dlg"), 8));
    auto* intro = new QLabel(context.text(u"KEEPER_RULES_INTRO",
                                          u"In each group of copies the one to keep is the best by the "
                                          u"first criterion that tells them apart, from the top down. "
                                          u"Criteria without a tick are not used. Files in reference "
                                          u"folders are never marked, whatever the order."),
                             this);
    intro->setWordWrap(true);
    list_ = new QListWidget(this);
    up_ = new QPushButton(context.text(u"MOVE_UP", u"Move &up"), this);
    down_ = new QPushButton(context.text(u"MOVE_DOWN", u"Move &down"), this);
    defaults_ = new QPushButton(context.text(u"DEFAULTS", u"De&faults"), this);
    buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    auto* side = new QVBoxLayout;
    side->addWidget(up_);
    side->addWidget(down_);
    side->addStretch(1);
    side->addWidget(defaults_);
    auto* middle = new QHBoxLayout;
    middle->addWidget(list_, 1);
    middle->addLayout(side);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addLayout(middle, 1);
    layout->addWidget(buttons_);
    const DialogUnits du(font());
    resize(du.x(230), du.y(150));

    connect(up_, &QPushButton::clicked, this, [this] { moveCurrent(-1); });
    connect(down_, &QPushButton::clicked, this, [this] { moveCurrent(1); });
    connect(defaults_, &QPushButton::clicked, this, [this] { showRules(shell::KeeperRules()); });
    connect(buttons_, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(list_, &QListWidget::currentRowChanged, this, &CKeeperRulesDlg::refreshButtons);
    connect(list_, &QListWidget::itemChanged, this, &CKeeperRulesDlg::refreshButtons);
    showRules(rules);
}

QListWidgetItem* CKeeperRulesDlg::makeItem(KeepCriterion criterion, bool ticked) {
    auto* item = new QListWidgetItem(criterionText(context_, criterion));
    item->setData(kCriterionRole, static_cast<int>(criterion));
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(ticked ? Qt::Checked : Qt::Unchecked);
    return item;
}

// The rules' criteria first, ticked, in their order; the others after them, unticked.
void CKeeperRulesDlg::showRules(const shell::KeeperRules& rules) {
    const QSignalBlocker quiet(list_);
    list_->clear();
    for (const KeepCriterion c : rules.order()) {
        list_->addItem(makeItem(c, true));
    }
    for (const KeepCriterion c : allCriteria()) {
        const auto& used = rules.order();
        if (std::find(used.begin(), used.end(), c) == used.end()) {
            list_->addItem(makeItem(c, false));
        }
    }
    list_->setCurrentRow(0);
    refreshButtons();
}

shell::KeeperRules CKeeperRulesDlg::rules() const {
    std::vector<KeepCriterion> order;
    for (int row = 0; row < list_->count(); ++row) {
        const QListWidgetItem* item = list_->item(row);
        if (item->checkState() == Qt::Checked) {
            order.push_back(static_cast<KeepCriterion>(item->data(kCriterionRole).toInt()));
        }
    }
    return shell::KeeperRules(std::move(order));
}

QPushButton* CKeeperRulesDlg::okButton() const {
    return buttons_->button(QDialogButtonBox::Ok);
}

void CKeeperRulesDlg::moveCurrent(int step) {
    const int row = list_->currentRow();
    const int to = row + step;
    if (row < 0 || to < 0 || to >= list_->count()) {
        return;
    }
    QListWidgetItem* item = list_->takeItem(row);
    list_->insertItem(to, item);
    list_->setCurrentRow(to);
}

void CKeeperRulesDlg::refreshButtons() {
    const int row = list_->currentRow();
    up_->setEnabled(row > 0);
    down_->setEnabled(row >= 0 && row + 1 < list_->count());
    // With nothing ticked no copy could be told from another.
    okButton()->setEnabled(!rules().order().empty());
}

bool editKeeperRules(AppContext& context, QWidget* parent) {
    CKeeperRulesDlg dialog(context, shell::readKeeperRules(context.settings), parent);
    if (dialog.exec() != QDialog::Accepted) {
        return false;
    }
    if (!shell::writeKeeperRules(context.settings, dialog.rules())) {
        context.prompts.warning(parent, QStringLiteral("Warning"),
                                context.text(u"KEEPER_RULES_NOT_STORED",
                                             u"The keeper rules could not be stored in the settings."));
        return false;
    }
    return true;
}

} // namespace tonemirror::app
