#include "shell/CTranslator.h"

#include "platform/os/ErrorReport.h"
#include "platform/os/Paths.h"
#include "platform/os/Text.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace tonemirror::shell {

namespace {

constexpr std::u16string_view kEnglish = u"English";
constexpr std::size_t kMinUtf8Characters = 10;

bool isBlank(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

bool isLineEnd(char16_t c) {
    return c == u'\r' || c == u'\n';
}

bool isKeyChar(char16_t c) {
    return (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_';
}

char16_t lowerUnit(char16_t c) {
    os::lowerCaseInPlace(&c, 1);
    return c;
}

bool sameNameIgnoringCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i] && lowerUnit(a[i]) != lowerUnit(b[i])) {
            return false;
        }
    }
    return true;
}

// Reading position in a language file's text of n units; every step stops at its end.
struct Cursor {
    char16_t* text;
    std::size_t n;
    std::size_t p = 0;

    bool atEnd() const { return p >= n; }
    char16_t here() const { return text[p]; }
    void skipBlanks() {
        while (p < n && isBlank(text[p])) {
            ++p;
        }
    }
    void skipLine() {
        while (p < n && !isLineEnd(text[p])) {
            ++p;
        }
    }
};

// Where a key and its value lie in the text.
struct EntrySpan {
    std::size_t keyBegin = 0;
    std::size_t keyEnd = 0;
    std::size_t valueBegin = 0;
    std::size_t valueEnd = 0;

    bool complete() const { return keyEnd > keyBegin && valueEnd > valueBegin; }
};

constexpr std::size_t kNoLanguage = static_cast<std::size_t>(-1);

// "[name]" at the cursor: the trimmed name, empty when blank (the line is then read on), or nothing
// when the bracket is never closed. The name is terminated in place.
std::optional<std::u16string_view> readSectionName(Cursor& c) {
    std::size_t close = c.p + 1;
    while (close < c.n && c.text[close] != u']') {
        ++close;
    }
    if (close >= c.n) {
        return std::nullopt;
    }
    std::size_t b = c.p + 1;
    std::size_t e = close;
    while (b < e && isBlank(c.text[b])) {
        ++b;
    }
    while (e > b && isBlank(c.text[e - 1])) {
        --e;
    }
    c.p = close + 1;
    if (b == e) {
        return std::u16string_view{};
    }
    c.skipLine();
    c.text[e] = 0; // behind the parse position from here on
    return std::u16string_view(c.text + b, e - b);
}

// "KEY = value" or "KEY = \"value\"" at the cursor, which ends behind it. A line without '=' gives
// an incomplete span; nothing when the text ends first (or inside a quote).
std::optional<EntrySpan> readEntry(Cursor& c) {
    EntrySpan span;
    span.keyBegin = c.p;
    while (!c.atEnd() && isKeyChar(c.here())) {
        ++c.p;
    }
    span.keyEnd = c.p;
    c.skipBlanks();
    if (c.atEnd()) {
        return std::nullopt;
    }
    if (c.here() != u'=') {
        c.skipLine();
        return span;
    }
    ++c.p;
    // Line ends count as blanks here too: "KEY=" alone takes the next non-blank line as its value.
    c.skipBlanks();
    if (c.atEnd()) {
        return std::nullopt;
    }
    if (c.here() != u'"') {
        span.valueBegin = c.p;
        c.skipLine();
        span.valueEnd = c.p;
        return span;
    }
    span.valueBegin = c.p + 1;
    span.valueEnd = span.valueBegin;
    while (span.valueEnd < c.n && c.text[span.valueEnd] != u'"') {
        ++span.valueEnd;
    }
    if (span.valueEnd >= c.n) {
        return std::nullopt; // unterminated quote
    }
    c.p = span.valueEnd + 1;
    c.skipLine();
    return span;
}

// Terminates the key and the value in place (both ends lie behind the parse position, which moves
// past the value's end) and returns them.
std::pair<std::u16string_view, std::u16string_view> takeEntry(Cursor& c, const EntrySpan& span) {
    c.text[span.keyEnd] = 0;
    if (span.valueEnd < c.n) {
        c.text[span.valueEnd] = 0; // closing quote or line end
        c.p = std::max(c.p, span.valueEnd + 1);
    }
    return {std::u16string_view(c.text + span.keyBegin, span.keyEnd - span.keyBegin),
            std::u16string_view(c.text + span.valueBegin, span.valueEnd - span.valueBegin)};
}

// Closes the descriptor on every path out of loadFile.
struct FileDescriptor {
    int fd = -1;
    ~FileDescriptor() {
        if (fd >= 0) {
            close(fd);
        }
    }
};

} // namespace

bool keyLess(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) {
        return a.size() < b.size();
    }
    return a < b; // char16_t compares as unsigned code units
}

CTranslator::CTranslator() {
    languages_.push_back(Language{kEnglish, {}});
}

CTranslator::~CTranslator() = default;

HResult CTranslator::loadAll() {
    const std::filesystem::path folder = os::programFolder();
    if (folder.empty()) {
        return E_FAIL;
    }
    return loadAll(folder / "Locale");
}

HResult CTranslator::loadAll(const std::filesystem::path& localeFolder) {
    // Sorted so that, when two files give one key two values, the same one wins on every start.
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(localeFolder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::filesystem::path& path = it->path();
        if (path.extension() == ".lng" && it->is_regular_file(ec)) {
            files.push_back(path);
        }
    }
    std::sort(files.begin(), files.end());
    for (const auto& file : files) {
        loadFile(file); // a file that fails is reported and skipped
    }
    finishLoading();
    return S_OK;
}

HResult CTranslator::loadFile(const std::filesystem::path& file) {
    if (file.empty()) {
        os::reportError("CTranslator::Load", __LINE__, E_INVALIDARG);
        return E_INVALIDARG;
    }
    // Non-blocking so that a FIFO named like a language file cannot stall start-up.
    FileDescriptor fd{open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)};
    struct stat info {};
    if (fd.fd < 0 || fstat(fd.fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        os::reportError("CTranslator::Load", __LINE__, E_FAIL);
        return E_FAIL;
    }
    const auto size = static_cast<std::uint64_t>(info.st_size);
    if (size > kMaxFileSize) {
        os::reportError("CTranslator::Load", __LINE__, E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }
    if (size <= kMinFileSize) {
        os::reportError("CTranslator::Load", __LINE__, E_FAIL);
        return E_FAIL;
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got = read(fd.fd, bytes.data() + done, bytes.size() - done);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    if (done != bytes.size()) {
        os::reportError("CTranslator::Load", __LINE__, E_FAIL);
        return E_FAIL;
    }
    return loadBuffer(bytes);
}

HResult CTranslator::loadBuffer(std::span<const std::uint8_t> bytes) {
    if (bytes.size() > kMaxFileSize) {
        os::reportError("CTranslator::Load", __LINE__, E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }
    if (bytes.size() <= kMinFileSize) {
        os::reportError("CTranslator::Load", __LINE__, E_FAIL);
        return E_FAIL;
    }

    // The text always gets a terminating zero unit after its last one.
    std::unique_ptr<char16_t[]> text;
    std::size_t length = 0;
    if (bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
        const auto* chars = reinterpret_cast<const char*>(bytes.data() + 3);
        std::string_view utf8(chars, bytes.size() - 3);
        utf8 = utf8.substr(0, utf8.find('\0')); // the text ends at its first zero, as a C string does
        const std::u16string converted = os::utf8ToUtf16(utf8);
        if (converted.size() < kMinUtf8Characters) {
            os::reportError("CTranslator::Load", __LINE__, E_FAIL);
            return E_FAIL;
        }
        length = converted.size();
        text = std::make_unique<char16_t[]>(length + 1);
        std::copy(converted.begin(), converted.end(), text.get());
    } else {
        // UTF-16 little-endian, with or without its mark; an odd last byte gets a zero high byte.
        length = (bytes.size() + 1) / 2;
        text = std::make_unique<char16_t[]>(length + 1);
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            text[i / 2] = static_cast<char16_t>(text[i / 2] | (bytes[i] << ((i % 2) * 8)));
        }
    }

    const std::size_t start = text[0] == 0xFEFF ? 1 : 0;
    // Kept before parsing, so that entries never outlive their text even if parsing throws.
    texts_.push_back(std::move(text));
    std::size_t added = 0;
    parse(texts_.back().get() + start, length - start, added);
    if (added == 0) {
        texts_.pop_back(); // nothing points into it
        return E_FAIL;
    }
    return S_OK;
}

// The language a run of entries belongs to: one first named in this file is listed only once it has
// entries; an existing one (from an earlier file or section, or the built-in English) is continued in
// place.
struct CTranslator::Section {
    std::optional<Language> pending;
    std::size_t existing = kNoLanguage;

    bool open() const { return pending.has_value() || existing != kNoLanguage; }
};

HResult CTranslator::parse(char16_t* text, std::size_t length, std::size_t& added) {
    // A zero unit ends the text.
    Cursor c{text, std::min(length, std::u16string_view(text, length).find(u'\0'))};
    Section section;
    while (!c.atEnd()) {
        if (isLineEnd(c.here())) {
            ++c.p;
            continue;
        }
        c.skipBlanks();
        if (c.atEnd()) {
            break;
        }
        if (c.here() == u'[') {
            const std::optional<std::u16string_view> name = readSectionName(c);
            if (!name) {
                break;
            }
            if (!name->empty()) { // an empty name is ignored
                openSection(section, *name);
            }
            continue;
        }
        if (c.here() == u';') {
            c.skipLine();
            continue;
        }
        const std::optional<EntrySpan> entry = readEntry(c);
        if (!entry) {
            break;
        }
        if (entry->complete() && section.open()) {
            const auto [key, value] = takeEntry(c, *entry);
            addEntry(section, Entry{key, value});
            ++added;
        }
    }
    closeSection(section);
    return added > 0 ? S_OK : E_FAIL;
}

void CTranslator::openSection(Section& section, std::u16string_view name) {
    closeSection(section);
    for (std::size_t i = 0; i < languages_.size(); ++i) {
        if (sameNameIgnoringCase(languages_[i].name, name)) {
            section.existing = i;
            return;
        }
    }
    section.pending = Language{name, {}};
}

void CTranslator::closeSection(Section& section) {
    if (section.pending && !section.pending->entries.empty()) {
        languages_.push_back(std::move(*section.pending));
    }
    section.pending.reset();
    section.existing = kNoLanguage;
}

void CTranslator::addEntry(Section& section, const Entry& entry) {
    if (section.pending) {
        section.pending->entries.push_back(entry);
    } else {
        languages_[section.existing].entries.push_back(entry);
    }
}

void CTranslator::finishLoading() {
    std::stable_sort(languages_.begin(), languages_.end(),
                     [](const Language& a, const Language& b) { return keyLess(a.name, b.name); });
    for (Language& language : languages_) {
        auto& entries = language.entries;
        std::stable_sort(entries.begin(), entries.end(),
                         [](const Entry& a, const Entry& b) { return keyLess(a.key, b.key); });
        // The first value loaded for a key wins.
        entries.erase(std::unique(entries.begin(), entries.end(),
                                  [](const Entry& a, const Entry& b) { return a.key == b.key; }),
                      entries.end());
    }
    selectLanguage(kEnglish);
}

CTranslator::Language* CTranslator::findLanguage(std::u16string_view name) {
    for (Language& language : languages_) {
        if (sameNameIgnoringCase(language.name, name)) {
            return &language;
        }
    }
    return nullptr;
}

HResult CTranslator::selectLanguage(std::u16string_view name) {
    const Language* language = findLanguage(name);
    if (language == nullptr) {
        return E_FAIL;
    }
    current_ = static_cast<std::size_t>(language - languages_.data());
    return S_OK;
}

std::u16string_view CTranslator::translate(const char16_t* key, std::u16string_view defaultText) const {
    if (key == nullptr) {
        os::reportError("CTranslator::GetTranslation", __LINE__, E_INVALIDARG);
        return defaultText;
    }
    const std::u16string_view wanted(key);
    const auto& entries = languages_[current_].entries;
    const auto it = std::lower_bound(entries.begin(), entries.end(), wanted,
                                     [](const Entry& e, std::u16string_view k) { return keyLess(e.key, k); });
    if (it != entries.end() && it->key == wanted) {
        return it->value;
    }
    return defaultText;
}

CTranslator::LanguageList CTranslator::languages() const {
    LanguageList list;
    list.names.reserve(languages_.size());
    for (const Language& language : languages_) {
        list.names.push_back(language.name);
    }
    list.current = current_;
    return list;
}

} // namespace tonemirror::shell
