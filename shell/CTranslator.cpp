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

HResult CTranslator::parse(char16_t* text, std::size_t length, std::size_t& added) {
    // A zero unit ends the text.
    const std::size_t n = std::min(length, std::u16string_view(text, length).find(u'\0'));
    constexpr std::size_t kNone = static_cast<std::size_t>(-1);

    // A language first named in this file is listed only once it has entries; an existing one
    // (from an earlier file or section, or the built-in English) is continued in place.
    std::optional<Language> pending;
    std::size_t existing = kNone;
    auto flushPending = [&] {
        if (pending && !pending->entries.empty()) {
            languages_.push_back(std::move(*pending));
        }
        pending.reset();
    };
    auto skipLine = [&](std::size_t& p) {
        while (p < n && !isLineEnd(text[p])) {
            ++p;
        }
    };

    std::size_t p = 0;
    while (p < n) {
        if (isLineEnd(text[p])) {
            ++p;
            continue;
        }
        while (p < n && isBlank(text[p])) {
            ++p;
        }
        if (p >= n) {
            break;
        }
        if (text[p] == u'[') {
            std::size_t close = p + 1;
            while (close < n && text[close] != u']') {
                ++close;
            }
            if (close >= n) {
                break;
            }
            std::size_t b = p + 1;
            std::size_t e = close;
            while (b < e && isBlank(text[b])) {
                ++b;
            }
            while (e > b && isBlank(text[e - 1])) {
                --e;
            }
            p = close + 1;
            if (b == e) {
                continue; // empty name: ignored
            }
            skipLine(p);
            text[e] = 0; // behind the parse position from here on
            const std::u16string_view name(text + b, e - b);
            flushPending();
            existing = kNone;
            for (std::size_t i = 0; i < languages_.size(); ++i) {
                if (sameNameIgnoringCase(languages_[i].name, name)) {
                    existing = i;
                    break;
                }
            }
            if (existing == kNone) {
                pending = Language{name, {}};
            }
            continue;
        }
        if (text[p] == u';') {
            skipLine(p);
            continue;
        }

        const std::size_t keyBegin = p;
        while (p < n && isKeyChar(text[p])) {
            ++p;
        }
        const std::size_t keyEnd = p;
        while (p < n && isBlank(text[p])) {
            ++p;
        }
        if (p >= n) {
            break;
        }
        if (text[p] != u'=') {
            skipLine(p);
            continue;
        }
        ++p;
        // Line ends count as blanks here too: "KEY=" alone takes the next non-blank line as its value.
        while (p < n && isBlank(text[p])) {
            ++p;
        }
        if (p >= n) {
            break;
        }
        std::size_t valueBegin = 0;
        std::size_t valueEnd = 0;
        if (text[p] == u'"') {
            valueBegin = p + 1;
            valueEnd = valueBegin;
            while (valueEnd < n && text[valueEnd] != u'"') {
                ++valueEnd;
            }
            if (valueEnd >= n) {
                break; // unterminated quote
            }
            p = valueEnd + 1;
            skipLine(p);
        } else {
            valueBegin = p;
            skipLine(p);
            valueEnd = p;
        }
        const bool inSection = pending.has_value() || existing != kNone;
        if (keyEnd > keyBegin && valueEnd > valueBegin && inSection) {
            text[keyEnd] = 0;
            if (valueEnd < n) {
                text[valueEnd] = 0; // closing quote or line end, both behind the parse position
                p = std::max(p, valueEnd + 1);
            }
            Entry entry{std::u16string_view(text + keyBegin, keyEnd - keyBegin),
                        std::u16string_view(text + valueBegin, valueEnd - valueBegin)};
            if (pending) {
                pending->entries.push_back(entry);
            } else {
                languages_[existing].entries.push_back(entry);
            }
            ++added;
        }
    }
    flushPending();
    return added > 0 ? S_OK : E_FAIL;
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
