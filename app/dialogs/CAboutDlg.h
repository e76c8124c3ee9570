#pragma once

#include "shell/UpdateCheck.h"

#include <QDialog>

namespace tonemirror::app {

struct AppContext;

// The About box: product title, version line, a short description and three links (web site,
// forum, support address) that open with the desktop's handlers.
class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    CAboutDlg(const AppContext& context, shell::LocalVersion version, QWidget* parent = nullptr);

private:
    void addLink(const QString& caption, const QString& text, const QString& url, int top, int width);
};

// "Version 0.9 (build 330)"; the build part only when the build is not 0.
QString aboutVersionLine(const AppContext& context, shell::LocalVersion version);

} // namespace tonemirror::app
