#pragma once

#include <QString>

class QWidget;

namespace tonemirror::app {

// The modal message boxes of the program. Windows ask through this interface so that tests can
// answer without a person at the screen.
class Prompts {
public:
    virtual ~Prompts() = default;
    virtual void warning(QWidget* parent, const QString& caption, const QString& text) = 0;
    virtual void error(QWidget* parent, const QString& caption, const QString& text) = 0;
    virtual void information(QWidget* parent, const QString& caption, const QString& text) = 0;
    // true for Yes.
    virtual bool question(QWidget* parent, const QString& caption, const QString& text) = 0;
};

// The real message boxes.
class MessageBoxPrompts : public Prompts {
public:
    void warning(QWidget* parent, const QString& caption, const QString& text) override;
    void error(QWidget* parent, const QString& caption, const QString& text) override;
    void information(QWidget* parent, const QString& caption, const QString& text) override;
    bool question(QWidget* parent, const QString& caption, const QString& text) override;
};

} // namespace tonemirror::app
