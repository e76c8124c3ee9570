#include "platform/wmf/TagValueRules.h"

#include "platform/wmf/TagAttributes.h"

namespace tonemirror::wmf {

namespace {

constexpr unsigned kMaxTrack = 32767;

bool isDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

// A run of 1 to `most` digits at `at` whose value lies in [low, high]; `at` moves past it.
bool number(std::u16string_view text, std::size_t& at, std::size_t most, unsigned low, unsigned high) {
    unsigned value = 0;
    std::size_t digits = 0;
    while (at < text.size() && isDigit(text[at]) && digits < most) {
        value = value * 10 + static_cast<unsigned>(text[at] - u'0');
        ++at;
        ++digits;
    }
    return digits > 0 && (at == text.size() || !isDigit(text[at])) && value >= low && value <= high;
}

bool validTrack(std::u16string_view text) {
    std::size_t at = 0;
    if (!number(text, at, 5, 0, kMaxTrack)) {
        return false;
    }
    if (at < text.size() && text[at] == u'/') {
        ++at;
        return number(text, at, 5, 0, kMaxTrack) && at == text.size();
    }
    return at == text.size();
}

bool validYear(std::u16string_view text) {
    std::size_t at = 0;
    if (text.size() < 4 || !number(text, at, 4, 0, 9999) || at != 4) {
        return false;
    }
    if (at < text.size() && text[at] == u'-' && text.size() - at == 3) {
        ++at;
        return number(text, at, 2, 1, 12) && at == text.size();
    }
    if (at < text.size() && text[at] == u'-' && text.size() - at == 6) {
        ++at;
        return number(text, at, 2, 1, 12) && text[at++] == u'-' && number(text, at, 2, 1, 31) &&
               at == text.size();
    }
    return at == text.size();
}

// No NUL inside, and every surrogate in a pair.
bool wellFormed(std::u16string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c == 0 || (c >= 0xDC00 && c <= 0xDFFF)) {
            return false;
        }
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 == text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) {
                return false;
            }
            ++i;
        }
    }
    return true;
}

// The descriptive fields of the ASF header count their bytes in 16 bits, terminator included.
std::size_t maxUnits(FileKind kind) {
    return kind == FileKind::Asf ? kMaxTextUnits - 1 : kMaxTextUnits;
}

} // namespace

HResult checkTagValue(FileKind kind, std::u16string_view name, std::u16string_view text) {
    if (text.empty()) {
        return S_OK;
    }
    if (text.size() > maxUnits(kind)) {
        return E_TEXT_TOO_LONG;
    }
    if (!wellFormed(text)) {
        return E_INVALID_TEXT;
    }
    if (name == kAttrTrack && !validTrack(text)) {
        return E_NOT_A_NUMBER;
    }
    if (name == kAttrYear && !validYear(text)) {
        return E_NOT_A_DATE;
    }
    return S_OK;
}

} // namespace tonemirror::wmf
