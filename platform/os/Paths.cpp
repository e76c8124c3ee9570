#include "platform/os/Paths.h"

#include "platform/os/Text.h"

#include <cstdlib>
#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

namespace tonemirror::os {

std::filesystem::path programFolder() {
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) {
        return {};
    }
    return exe.parent_path();
}

std::filesystem::path userDataFolder() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg != nullptr && xdg[0] == '/') {
        return std::filesystem::path(xdg) / "Tonemirror";
    }
    const char* home = std::getenv("HOME");
    std::filesystem::path base;
    if (home != nullptr && home[0] != '\0') {
        base = home;
    } else if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr) {
        base = pw->pw_dir;
    } else {
        return {};
    }
    return base / ".local" / "share" / "Tonemirror";
}

namespace {

constexpr char16_t kEscapeBase = 0xDC00;

// Length of the well-formed UTF-8 sequence at `at` (shortest form, no surrogates, at most U+10FFFF),
// with its code point; 0 when the bytes there are no such sequence.
std::size_t utf8Sequence(std::string_view bytes, std::size_t at, char32_t& cp) {
    const auto b0 = static_cast<unsigned char>(bytes[at]);
    std::size_t length = 0;
    char32_t minimum = 0;
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    }
    if ((b0 & 0xE0) == 0xC0) {
        length = 2, cp = b0 & 0x1F, minimum = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        length = 3, cp = b0 & 0x0F, minimum = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        length = 4, cp = b0 & 0x07, minimum = 0x10000;
    } else {
        return 0;
    }
    if (bytes.size() - at < length) {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        const auto b = static_cast<unsigned char>(bytes[at + k]);
        if ((b & 0xC0) != 0x80) {
            return 0;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return 0;
    }
    return length;
}

} // namespace

int escapedByte(char16_t unit) {
    return unit >= kEscapeBase + 0x80 && unit <= kEscapeBase + 0xFF ? unit - kEscapeBase : -1;
}

std::u16string fromNativeName(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        char32_t cp = 0;
        const std::size_t n = utf8Sequence(bytes, i, cp);
        if (n == 0) {
            // Only bytes of 0x80 and above can fail to start a sequence.
            out.push_back(static_cast<char16_t>(kEscapeBase + static_cast<unsigned char>(bytes[i])));
            ++i;
            continue;
        }
        if (cp < 0x10000) {
            out.push_back(static_cast<char16_t>(cp));
        } else {
            out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        }
        i += n;
    }
    return out;
}

std::string toNativeName(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t plain = 0; // start of the run not yet converted
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (const int byte = escapedByte(text[i]); byte >= 0) {
            const bool paired = i > 0 && text[i - 1] >= 0xD800 && text[i - 1] <= 0xDBFF;
            if (!paired) {
                out += utf16ToUtf8(text.substr(plain, i - plain));
                out.push_back(static_cast<char>(byte));
                plain = i + 1;
            }
        }
    }
    out += utf16ToUtf8(text.substr(plain));
    return out;
}

std::filesystem::path toNativePath(std::u16string_view path) {
    return std::filesystem::path(toNativeName(path));
}

std::u16string fromNativePath(const std::filesystem::path& path) {
    return fromNativeName(path.native());
}

bool isFolderWritable(const std::filesystem::path& folder) {
    if (folder.empty()) {
        return false;
    }
    std::string probe = (folder / ".tonemirror-write-test-XXXXXX").string();
    int fd = mkstemp(probe.data());
    if (fd < 0) {
        return false;
    }
    close(fd);
    unlink(probe.c_str());
    return true;
}

} // namespace tonemirror::os
