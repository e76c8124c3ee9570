#pragma once

#include "shell/KeeperRules.h"

#include <QDialog>

class QDialogButtonBox;
class QListWidget;
class QListWidgetItem;
class QPushButton;

namespace tonemirror::app {

struct AppContext;

// The keeper rules: the criteria that pick the copy of a song to keep, in the order they are
// weighed. Each can be ticked off; the order is changed with Move up and Move down, and Defaults
// brings back the program's order. At least one criterion stays ticked.
class CKeeperRulesDlg : public QDialog {
    Q_OBJECT
public:
    CKeeperRulesDlg(const AppContext& context, const shell::KeeperRules& rules, QWidget* parent = nullptr);

    // The ticked criteria in their order.
    shell::KeeperRules rules() const;

    QListWidget* list() const { return list_; }
    QPushButton* upButton() const { return up_; }
    QPushButton* downButton() const { return down_; }
    QPushButton* defaultsButton() const { return defaults_; }
    QPushButton* okButton() const;

    // Moves the current criterion by `step` rows (-1 up, +1 down), keeping it current.
    void moveCurrent(int step);
    void showRules(const shell::KeeperRules& rules);

private:
    QListWidgetItem* makeItem(shell::KeepCriterion criterion, bool ticked);
    void refreshButtons();

    const AppContext& context_;
    QListWidget* list_ = nullptr;
    QPushButton* up_ = nullptr;
    QPushButton* down_ = nullptr;
    QPushButton* defaults_ = nullptr;
    QDialogButtonBox* buttons_ = nullptr;
};

// Shows the dialog on the stored rules and stores what OK chose. true when they were stored.
bool editKeeperRules(AppContext& context, QWidget* parent);

} // namespace tonemirror::app
