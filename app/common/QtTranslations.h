#pragma once

#include <QString>

#include <memory>

class QTranslator;

namespace tonemirror::app {

// Qt's own texts (the Yes, No, OK and Cancel of message boxes and file dialogs) in the language the
// user chose: Qt's translation for a locale code such as "de", from the system's Qt translations.
class QtTranslations {
public:
    QtTranslations();
    ~QtTranslations();
    QtTranslations(const QtTranslations&) = delete;
    QtTranslations& operator=(const QtTranslations&) = delete;

    // Replaces the installed translation with the one for `locale` (empty or "en": Qt's English).
    // false when Qt has no translation for it; Qt's texts are English then.
    bool apply(const QString& locale);
    QString locale() const { return locale_; }

private:
    void remove();

    std::unique_ptr<QTranslator> translator_;
    QString locale_;
};

} // namespace tonemirror::app
