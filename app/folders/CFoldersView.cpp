#include "app/folders/CFoldersView.h"

#include "app/AppContext.h"

#include <QLabel>

namespace tonemirror::app {

CFoldersView::CFoldersView(AppContext& context, QWidget* parent)
    : QSplitter(Qt::Horizontal, parent), context_(context) {
    hint_ = new QLabel(this);
    hint_->setAlignment(Qt::AlignCenter);
    hint_->setWordWrap(true);
    addWidget(hint_);
    refreshHint();
}

void CFoldersView::setTickedFolders(std::vector<std::u16string> folders) {
    ticked_ = std::move(folders);
    refreshHint();
}

void CFoldersView::setViewMode(int) {}

void CFoldersView::setInitialPaneSizes() {}

void CFoldersView::retranslate() {
    refreshHint();
}

void CFoldersView::refreshHint() {
    if (ticked_.empty()) {
        hint_->setText(context_.text(u"SELECT_FOLDERS", u"Please, select folders with music and start scanning"));
        return;
    }
    QStringList shown;
    for (std::size_t i = 0; i < ticked_.size() && i < 5; ++i) {
        shown << toQString(ticked_[i]);
    }
    hint_->setText(shown.join(QStringLiteral(", ")) + (ticked_.size() > 5 ? QStringLiteral(", ...") : QString()));
}

} // namespace tonemirror::app
