#include "app/common/QtTranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace tonemirror::app {

QtTranslations::QtTranslations() = default;

QtTranslations::~QtTranslations() {
    remove();
}

void QtTranslations::remove() {
    if (translator_) {
        QCoreApplication::removeTranslator(translator_.get());
        translator_.reset();
    }
    locale_.clear();
}

bool QtTranslations::apply(const QString& locale) {
    remove();
    if (locale.isEmpty() || locale == QStringLiteral("en")) {
        return true;
    }
    auto translator = std::make_unique<QTranslator>();
    // "qt_<locale>" gathers the base, widget and dialog texts of every Qt module installed.
    if (!translator->load(QStringLiteral("qt_") + locale,
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        return false;
    }
    QCoreApplication::installTranslator(translator.get());
    translator_ = std::move(translator);
    locale_ = locale;
    return true;
}

} // namespace tonemirror::app
