#include "app/common/FailureReport.h"

#include "app/AppContext.h"
#include "app/Prompts.h"

namespace tonemirror::app {

namespace {

constexpr std::size_t kListedFailures = 10; // a message box must stay on the screen

} // namespace

void FailureReport::add(const std::u16string& path, const QString& reason) {
    failures_.push_back({path, reason});
}

QString FailureReport::text(const AppContext& context, const QString& heading) const {
    QString text = heading;
    for (std::size_t i = 0; i < failures_.size() && i < kListedFailures; ++i) {
        text += QLatin1Char('\n') + toQString(failures_[i].path) + QStringLiteral(": ") + failures_[i].reason;
    }
    if (failures_.size() > kListedFailures) {
        text += QLatin1Char('\n') +
                context.text(u"FAILURES_MORE", u"... and %1 more").arg(failures_.size() - kListedFailures);
    }
    return text;
}

void FailureReport::show(const AppContext& context, QWidget* parent, const QString& heading) const {
    if (!failures_.empty()) {
        context.prompts.warning(parent, QStringLiteral("Warning"), text(context, heading));
    }
}

} // namespace tonemirror::app
