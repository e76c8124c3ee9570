#include "engine/IgnoreListFormat.h"

#include "engine/IgnoreSet.h"

#include "platform/os/Paths.h"

#include <algorithm>
#include <cerrno>
#include <initializer_list>
#include <string>
#include <string_view>

#include <unistd.h>

namespace tonemirror::engine::ignore_list {

namespace {

constexpr char16_t kQuote = u'"';

void putUnit(std::vector<std::byte>& out, char16_t c) {
    out.push_back(static_cast<std::byte>(c & 0xFF));
    out.push_back(static_cast<std::byte>(c >> 8));
}

void putText(std::vector<std::byte>& out, std::u16string_view text) {
    for (const char16_t c : text) {
        putUnit(out, c);
    }
}

bool startsWith(std::span<const std::byte> data, std::initializer_list<unsigned> bytes) {
    if (data.size() < bytes.size()) {
        return false;
    }
    std::size_t i = 0;
    for (const unsigned b : bytes) {
        if (static_cast<unsigned>(data[i++]) != b) {
            return false;
        }
    }
    return true;
}

// Into a buffer the caller keeps, so reading a long file piece by piece allocates once.
void utf16(std::span<const std::byte> data, bool bigEndian, std::u16string& text) {
    text.resize(data.size() / 2);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto a = static_cast<unsigned>(data[2 * i]);
        const auto b = static_cast<unsigned>(data[2 * i + 1]);
        text[i] = static_cast<char16_t>(bigEndian ? (a << 8) | b : a | (b << 8));
    }
}

enum class Encoding { Utf8, Utf16Le, Utf16Be };

// Decided from the start of the file: the program writes UTF-16LE with a byte-order mark; a hand-made
// list is UTF-8 (no byte-order mark and no NUL byte, which no path holds).
Encoding detect(std::span<const std::byte> head) {
    if (startsWith(head, {0xEF, 0xBB, 0xBF})) {
        return Encoding::Utf8;
    }
    if (startsWith(head, {0xFE, 0xFF})) {
        return Encoding::Utf16Be;
    }
    const bool hasNul = std::any_of(head.begin(), head.end(), [](std::byte b) { return b == std::byte{0}; });
    return startsWith(head, {0xFF, 0xFE}) || hasNul ? Encoding::Utf16Le : Encoding::Utf8;
}

// How many of the bytes can be decoded now without splitting a character; the rest waits for more.
std::size_t decodable(std::span<const std::byte> data, Encoding encoding, bool last) {
    if (last) {
        return data.size();
    }
    if (encoding != Encoding::Utf8) {
        return data.size() & ~std::size_t{1};
    }
    // An ASCII byte never lies inside a multi-byte sequence.
    for (std::size_t i = data.size(); i > 0; --i) {
        if (static_cast<unsigned>(data[i - 1]) < 0x80) {
            return i;
        }
    }
    return data.size();
}

bool isSeparator(char16_t c) {
    return c == 0xFEFF || c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u',' || c == u';';
}

// The pairs of a text that arrives in pieces. A pair begun waits for the next piece, up to
// kMaxPendingUnits: no pair of two paths is that long, so a longer one ends the list.
class PairScanner {
public:
    static constexpr std::size_t kMaxPendingUnits = 1u << 16;

    explicit PairScanner(IgnoreSet& set) : set_(set) {}

    // False once the scan has ended early.
    bool feed(std::u16string_view piece) {
        if (ended_) {
            return false;
        }
        pending_.append(piece);
        const std::size_t pos = takePairs();
        pending_.erase(0, pos);
        if (pending_.size() > kMaxPendingUnits) {
            result_.clean = false;
            ended_ = true;
        }
        return !ended_;
    }

    Parsed finish(bool whole) {
        // Anything left is a pair broken off.
        result_.clean = result_.clean && pending_.empty() && whole;
        return result_;
    }

private:
    void checkOutside(std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; ++i) {
            result_.clean = result_.clean && isSeparator(pending_[i]);
        }
    }

    // Takes every complete pair; returns where the first incomplete one starts.
    std::size_t takePairs() {
        std::size_t pos = 0;
        for (;;) {
            std::size_t quotes[4];
            std::size_t from = pos;
            int found = 0;
            for (; found < 4; ++found) {
                const std::size_t q = pending_.find(kQuote, from);
                if (q == std::u16string::npos) {
                    break;
                }
                quotes[found] = q;
                from = q + 1;
            }
            if (found < 4) {
                const std::size_t end = found > 0 ? quotes[0] : pending_.size();
                checkOutside(pos, end);
                return end;
            }
            checkOutside(pos, quotes[0]);
            set_.insert(pending_.substr(quotes[0] + 1, quotes[1] - quotes[0] - 1),
                        pending_.substr(quotes[2] + 1, quotes[3] - quotes[2] - 1));
            // Between the two paths only separators belong.
            checkOutside(quotes[1] + 1, quotes[2]);
            ++result_.pairs;
            pos = quotes[3] + 1;
        }
    }

    IgnoreSet& set_;
    std::u16string pending_;
    Parsed result_;
    bool ended_ = false;
};

void decodePiece(std::span<const std::byte> data, Encoding encoding, std::u16string& text) {
    if (encoding == Encoding::Utf8) {
        const auto* bytes = reinterpret_cast<const char*>(data.data());
        text = os::fromNativeName(std::string_view(bytes, data.size())); // paths keep every byte
        return;
    }
    utf16(data.first(data.size() & ~std::size_t{1}), encoding == Encoding::Utf16Be, text);
}

} // namespace

Parsed read(std::span<const std::byte> data, IgnoreSet& set) {
    PairScanner scanner(set);
    const Encoding encoding = detect(data);
    std::u16string text;
    decodePiece(data, encoding, text);
    scanner.feed(text);
    return scanner.finish(encoding == Encoding::Utf8 || data.size() % 2 == 0);
}

std::optional<Parsed> readFile(int fd, IgnoreSet& set) {
    constexpr std::size_t kPiece = 1u << 20;
    PairScanner scanner(set);
    std::vector<std::byte> buffer;
    std::u16string text;
    std::optional<Encoding> encoding;
    std::uint64_t offset = 0;
    bool atEnd = false;
    while (!atEnd) {
        const std::size_t carried = buffer.size();
        buffer.resize(carried + kPiece);
        ssize_t n = 0;
        do {
            n = pread(fd, buffer.data() + carried, kPiece, static_cast<off_t>(offset));
        } while (n < 0 && errno == EINTR);
        if (n < 0) {
            return std::nullopt;
        }
        buffer.resize(carried + static_cast<std::size_t>(n));
        offset += static_cast<std::uint64_t>(n);
        atEnd = n == 0;
        if (!encoding) {
            encoding = detect(buffer);
        }
        const std::size_t usable = decodable(buffer, *encoding, atEnd);
        decodePiece(std::span(buffer).first(usable), *encoding, text);
        if (!scanner.feed(text)) {
            return scanner.finish(true); // ended early: nothing more is read
        }
        buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(usable));
    }
    return scanner.finish(*encoding == Encoding::Utf8 || offset % 2 == 0);
}

std::size_t parse(std::span<const std::byte> data, IgnoreSet& set) {
    return read(data, set).pairs;
}

bool storable(std::u16string_view path) {
    return path.find(kQuote) == std::u16string_view::npos;
}

Formatted format(const IgnoreSet& set) {
    Formatted out;
    out.bytes.reserve(2 + set.size() * 520 * 2);
    putUnit(out.bytes, 0xFEFF);
    for (const auto& [first, second] : set) {
        if (!storable(first) || !storable(second)) {
            ++out.skipped;
            continue;
        }
        putUnit(out.bytes, kQuote);
        putText(out.bytes, first);
        putText(out.bytes, u"\",\"");
        putText(out.bytes, second);
        putText(out.bytes, u"\"\r\n");
    }
    return out;
}

} // namespace tonemirror::engine::ignore_list
