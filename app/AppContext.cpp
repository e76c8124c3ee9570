#include "app/AppContext.h"

#include "shell/CTranslator.h"
#include "shell/NameText.h"

namespace tonemirror::app {

QString AppContext::text(const char16_t* key, std::u16string_view english) const {
    return toQString(translator.translate(key, english));
}

QString toQString(std::u16string_view text) {
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

QString windowName(std::u16string_view name) {
    return QString::fromStdString(shell::windowText(name));
}

std::u16string toU16(const QString& text) {
    return std::u16string(reinterpret_cast<const char16_t*>(text.utf16()),
                          static_cast<std::size_t>(text.size()));
}

} // namespace tonemirror::app
