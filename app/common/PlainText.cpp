#include "app/common/PlainText.h"

namespace tonemirror::app {

QString plainToolTip(const QString& text) {
    if (text.isEmpty()) {
        return text; // an empty tip hides the tip
    }
    // Rich text of its own, with the name escaped and its blanks and line breaks kept.
    return QStringLiteral("<p style='white-space:pre'>") + text.toHtmlEscaped() + QStringLiteral("</p>");
}

} // namespace tonemirror::app
