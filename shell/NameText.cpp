#include "shell/NameText.h"

#include "platform/os/Paths.h"
#include "platform/os/Text.h"

namespace tonemirror::shell {

namespace {

bool isHigh(char16_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}
bool isLow(char16_t u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}

// Characters a terminal acts on, or that reorder the text shown around them.
bool steersTerminal(char16_t u) {
    return u < 0x20 || u == 0x7F || (u >= 0x80 && u <= 0x9F) || u == 0x061C || u == 0x200E || u == 0x200F ||
           (u >= 0x2028 && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069);
}

// "\x" and two digits, or "\u" and four.
void appendHex(std::string& out, char kind, unsigned value) {
    constexpr const char* kDigits = "0123456789ABCDEF";
    const int digits = kind == 'x' ? 2 : 4;
    out.push_back('\\');
    out.push_back(kind);
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) {
        out.push_back(kDigits[(value >> shift) & 0xF]);
    }
}

// Converts runs of units that need no escape as UTF-8 and hands each unit that does to `escape`;
// a surrogate pair needs none, a lone surrogate always does.
template <class NeedsEscape, class Escape>
std::string convert(std::u16string_view text, NeedsEscape needsEscape, Escape escape) {
    std::string out;
    out.reserve(text.size());
    std::size_t run = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t u = text[i];
        if (isHigh(u) && i + 1 < text.size() && isLow(text[i + 1])) {
            ++i;
            continue;
        }
        if (isHigh(u) || isLow(u) || needsEscape(u)) {
            out += os::utf16ToUtf8(text.substr(run, i - run));
            escape(out, u);
            run = i + 1;
        }
    }
    out += os::utf16ToUtf8(text.substr(run));
    return out;
}

void escapeByteOr(std::string& out, char16_t u, const char* otherwise) {
    if (const int byte = os::escapedByte(u); byte >= 0) {
        appendHex(out, 'x', static_cast<unsigned>(byte));
    } else if (u == u'\\') {
        out += "\\\\";
    } else {
        out += otherwise;
    }
}

bool holdsEscapedBytes(std::u16string_view name) {
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (os::escapedByte(name[i]) >= 0 && (i == 0 || !isHigh(name[i - 1]))) {
            return true;
        }
    }
    return false;
}

} // namespace

std::string displayText(std::u16string_view text) {
    return convert(
        text, [](char16_t u) { return u == u'\\' || steersTerminal(u); },
        [](std::string& out, char16_t u) {
            if (os::escapedByte(u) >= 0 || u == u'\\') {
                escapeByteOr(out, u, "");
            } else if (u == u'\n') {
                out += "\\n";
            } else if (u == u'\r') {
                out += "\\r";
            } else if (u == u'\t') {
                out += "\\t";
            } else if (u < 0x80) {
                appendHex(out, 'x', u);
            } else {
                appendHex(out, 'u', u);
            }
        });
}

std::string windowText(std::u16string_view name) {
    // A window draws a backslash as it is, and a tab or a direction mark can only shift the text;
    // what cannot be seen at all (name bytes that are not UTF-8, other controls) is written out.
    return convert(
        name, [](char16_t u) { return u < 0x20 || u == 0x7F; },
        [](std::string& out, char16_t u) {
            if (const int byte = os::escapedByte(u); byte >= 0) {
                appendHex(out, 'x', static_cast<unsigned>(byte));
            } else if (u < 0x80) {
                appendHex(out, 'x', u);
            } else {
                appendHex(out, 'u', u);
            }
        });
}

std::string displayPath(std::string_view native) {
    return displayText(os::fromNativeName(native));
}

void putName(nlohmann::json& object, const std::string& key, std::u16string_view name) {
    if (!holdsEscapedBytes(name)) {
        object[key] = os::utf16ToUtf8(name);
        return;
    }
    object[key] = convert(
        name, [](char16_t u) { return u == u'\\'; },
        [](std::string& out, char16_t u) { escapeByteOr(out, u, "\xEF\xBF\xBD"); });
    object[key + "Escaped"] = true;
}

void putNativeName(nlohmann::json& object, const std::string& key, std::string_view native) {
    putName(object, key, os::fromNativeName(native));
}

std::string dumpJson(const nlohmann::json& document) {
    return document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}

} // namespace tonemirror::shell
