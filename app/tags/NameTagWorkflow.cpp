#include "app/tags/NameTagWorkflow.h"

#include "app/AppContext.h"
#include "app/common/FailureReport.h"
#include "app/tags/NameTagRunner.h"
#include "shell/QuotedList.h"
#include "shell/RecentValues.h"
#include "shell/SettingNames.h"
#include "shell/SettingsStore.h"

#include <QWidget>

namespace tonemirror::app {

namespace {

std::string_view historySetting(CConvertDlg::Direction direction) {
    return direction == CConvertDlg::Direction::FilenameToTags ? shell::settings::kHelperConvert1
                                                               : shell::settings::kHelperConvert2;
}

std::size_t historyIndex(CConvertDlg::Direction direction) {
    return direction == CConvertDlg::Direction::FilenameToTags ? 0 : 1;
}

} // namespace

NameTagWorkflow::NameTagWorkflow(AppContext& context, audio::TagAccess& tags, Page page)
    : QObject(page.widget), context_(context), tags_(tags), page_(std::move(page)) {}

void NameTagWorkflow::open(CConvertDlg::Direction direction) {
    if (panel_ != nullptr) {
        return;
    }
    readHistories();
    panel_ =
        new CConvertDlg(context_, direction, histories_[historyIndex(direction)], page_.widget->window());
    connect(panel_, &CConvertDlg::closed, this, &NameTagWorkflow::onClosed);
    page_.widget->setEnabled(false);
    panel_->centreOn(page_.widget);
    panel_->show();
}

void NameTagWorkflow::onClosed(int button) {
    page_.widget->setEnabled(true);
    if (panel_ == nullptr) {
        return;
    }
    const CConvertDlg::Direction direction = panel_->direction();
    const std::u16string pattern = panel_->pattern();
    panel_->deleteLater();
    panel_ = nullptr;
    if (button == CConvertDlg::kApply) {
        apply(direction, pattern);
    }
}

void NameTagWorkflow::readHistories() {
    if (historiesRead_) {
        return;
    }
    historiesRead_ = true;
    for (const auto which :
         {CConvertDlg::Direction::FilenameToTags, CConvertDlg::Direction::TagsToFilename}) {
        histories_[historyIndex(which)] =
            shell::parseQuotedList(context_.settings.readText(historySetting(which)).value_or(u""));
    }
}

void NameTagWorkflow::rememberPattern(CConvertDlg::Direction direction, const std::u16string& pattern) {
    readHistories(); // the stored patterns stay behind the new one
    std::vector<std::u16string>& history = histories_[historyIndex(direction)];
    const std::u16string stored = shell::stripDoubleQuotes(pattern);
    if (!stored.empty()) {
        shell::pushRecentValue(history, stored, shell::settings::kRecentPatterns);
    }
    context_.settings.writeText(historySetting(direction), shell::formatQuotedList(history));
}

int NameTagWorkflow::apply(CConvertDlg::Direction direction, const std::u16string& pattern) {
    const std::vector<std::u16string> files = page_.selectedFiles();
    if (files.empty()) {
        return 0;
    }
    rememberPattern(direction, pattern);
    page_.beforeConverting();
    FailureReport failures;
    int converted = 0;
    for (const std::u16string& file : files) {
        converted += runNameTagConversion(context_, tags_, direction, file, pattern, failures) ? 1 : 0;
    }
    page_.afterConverting(converted > 0);
    failures.show(context_, page_.widget,
                  context_.text(u"CONVERT_FAILED", u"%1 of %2 files could not be converted:")
                      .arg(failures.size())
                      .arg(files.size()));
    return converted;
}

} // namespace tonemirror::app
