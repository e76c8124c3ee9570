#include "shell/NameTagConversion.h"

#include <algorithm>

#include "platform/os/Paths.h"

#include <array>

namespace tonemirror::shell {

namespace {

constexpr char16_t kSeparator = os::kNativeSeparator;

// Token names in TagId order (title = 1).
constexpr std::array<std::u16string_view, 7> kTokenNames = {u"title", u"artist",  u"album", u"year",
                                                            u"track", u"comment", u"genre"};

char16_t asciiLower(char16_t c) {
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c;
}

bool sameIgnoringAsciiCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (asciiLower(a[i]) != asciiLower(b[i])) {
            return false;
        }
    }
    return true;
}

// Characters no file name of ours may hold, wherever they come from.
bool droppedFromNames(char16_t c) {
    return c < 32 || std::u16string_view(u"<>:\"/\\|?*").find(c) != std::u16string_view::npos;
}

void appendForName(std::u16string& name, std::u16string_view text) {
    for (const char16_t c : text) {
        if (!droppedFromNames(c)) {
            name.push_back(c);
        }
    }
}

// Position where the name starts (after the last separator) and where its extension starts.
struct NameSpan {
    std::size_t begin = 0;
    std::size_t extension = 0; // the last "." of the name, or the path's end
};

NameSpan splitName(std::u16string_view path) {
    const std::size_t slash = path.rfind(kSeparator);
    NameSpan span;
    span.begin = slash == std::u16string_view::npos ? 0 : slash + 1;
    const std::size_t dot = path.rfind(u'.');
    span.extension = dot != std::u16string_view::npos && dot >= span.begin ? dot : path.size();
    return span;
}

} // namespace

std::int32_t tagOfTokenName(std::u16string_view name) {
    for (std::size_t i = 0; i < kTokenNames.size(); ++i) {
        if (sameIgnoringAsciiCase(name, kTokenNames[i])) {
            return static_cast<std::int32_t>(i + 1);
        }
    }
    return 0;
}

bool patternHasToken(std::u16string_view pattern) {
    const std::vector<PatternPart> parts = parsePattern(pattern);
    return std::any_of(parts.begin(), parts.end(), [](const PatternPart& part) { return part.tag != 0; });
}

std::vector<PatternPart> parsePattern(std::u16string_view pattern) {
    std::vector<PatternPart> parts;
    std::u16string plain;
    for (std::size_t i = 0; i < pattern.size();) {
        const std::size_t close = pattern[i] == u'<' ? pattern.find(u'>', i + 1) : std::u16string_view::npos;
        const std::int32_t tag =
            close == std::u16string_view::npos ? 0 : tagOfTokenName(pattern.substr(i + 1, close - i - 1));
        if (tag == 0) {
            plain.push_back(pattern[i++]);
            continue;
        }
        if (!plain.empty()) {
            parts.push_back({std::move(plain), 0});
            plain.clear();
        }
        parts.push_back({{}, tag});
        i = close + 1;
    }
    if (!plain.empty()) {
        parts.push_back({std::move(plain), 0});
    }
    return parts;
}

std::optional<std::u16string> nameFromTags(std::u16string_view path, std::u16string_view pattern,
                                           const TagReader& readTag) {
    if (path.empty() || pattern.empty()) {
        return std::nullopt;
    }
    const NameSpan span = splitName(path);
    std::u16string result(path.substr(0, span.begin));
    bool anyValue = false;
    for (const PatternPart& part : parsePattern(pattern)) {
        const std::size_t before = result.size();
        appendForName(result, part.tag != 0 ? readTag(part.tag) : part.text);
        anyValue = anyValue || (part.tag != 0 && result.size() > before);
    }
    // Without a single tag value the name would be the pattern's separators alone (" - .mp3").
    if (!anyValue) {
        return std::nullopt;
    }
    result += path.substr(span.extension);
    return result;
}

std::vector<TagValue> tagsFromName(std::u16string_view path, std::u16string_view pattern) {
    std::vector<TagValue> values;
    if (path.empty() || pattern.empty()) {
        return values;
    }
    const NameSpan span = splitName(path);
    const std::u16string_view subject = path.substr(span.begin, span.extension - span.begin);
    std::size_t cursor = 0;
    std::int32_t pending = 0;
    // The value of the pending token ends at `end` (npos: not found, the cursor goes to the end).
    const auto take = [&](std::size_t end, std::size_t skip) {
        if (end == std::u16string_view::npos) {
            cursor = subject.size();
            return;
        }
        if (pending != 0) {
            values.push_back({pending, std::u16string(subject.substr(cursor, end - cursor))});
        }
        cursor = end + skip;
    };
    const std::vector<PatternPart> parts = parsePattern(pattern);
    std::u16string_view separator; // the plain text since the last token
    for (const PatternPart& part : parts) {
        if (part.tag == 0) {
            separator = part.text;
            continue;
        }
        if (!separator.empty()) {
            take(subject.find(separator, cursor), separator.size());
        } else if (pending != 0) {
            take(subject.find_first_of(u" \t", cursor), 1);
        }
        pending = part.tag;
        separator = {};
    }
    if (!separator.empty()) {
        const std::size_t end = subject.find(separator, cursor);
        if (end != std::u16string_view::npos && pending != 0) {
            values.push_back({pending, std::u16string(subject.substr(cursor, end - cursor))});
        }
    } else if (pending != 0) {
        values.push_back({pending, std::u16string(subject.substr(cursor))});
    }
    return values;
}

} // namespace tonemirror::shell
