#include "plugins/compresscodec/Id3Tags.h"

#include "platform/os/Text.h"
#include "plugins/compresscodec/SourceFormat.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

namespace tonemirror::compresscodec {

namespace {

constexpr std::size_t kHeaderSize = 10;
constexpr std::size_t kFrameHeaderSize = 10;
constexpr std::size_t kId3v1Size = 128;
// The tag is read into memory up to this size: title, artist and album come before large pictures
// in practice, and a tag header may claim up to 256 MB.
constexpr std::uint32_t kMaxTagRead = 16u << 20;
constexpr std::uint8_t kFlagUnsynchronisation = 0x80;
constexpr std::uint8_t kFlagExtendedHeader = 0x40;
constexpr std::uint8_t kFrameCompressed = 0x80;
constexpr std::uint8_t kFrameEncrypted = 0x40;

enum : std::uint8_t { kLatin1 = 0, kUtf16 = 1, kUtf16Be = 2, kUtf8 = 3 };

std::u16string utf16Text(std::span<const std::uint8_t> bytes, bool bigEndian) {
    std::u16string text;
    for (std::size_t i = 0; i + 1 < bytes.size() && text.size() < TagTexts::kMaxChars; i += 2) {
        const auto c = static_cast<char16_t>(bigEndian ? (bytes[i] << 8) | bytes[i + 1]
                                                       : bytes[i] | (bytes[i + 1] << 8));
        if (c == 0) {
            break;
        }
        text.push_back(c);
    }
    return text;
}

std::string_view untilNul(std::span<const std::uint8_t> bytes, std::size_t limit) {
    const auto* p = reinterpret_cast<const char*>(bytes.data());
    const std::size_t n = std::min(bytes.size(), limit);
    return {p, static_cast<std::size_t>(std::find(p, p + n, '\0') - p)};
}

std::u16string codePageText(std::span<const std::uint8_t> bytes) {
    return os::codePageToUtf16(untilNul(bytes, TagTexts::kMaxChars));
}

} // namespace

std::u16string decodeId3Text(std::span<const std::uint8_t> data) {
    if (data.empty()) {
        return {};
    }
    const std::uint8_t encoding = data[0];
    const auto body = data.subspan(1);
    if (encoding == kUtf16) {
        if (body.size() >= 2 && body[0] == 0xFF && body[1] == 0xFE) {
            return utf16Text(body.subspan(2), false);
        }
        if (body.size() >= 2 && body[0] == 0xFE && body[1] == 0xFF) {
            return utf16Text(body.subspan(2), true);
        }
        // No byte-order mark: little-endian, as writers without one produce.
        return utf16Text(body, false);
    }
    if (encoding == kUtf16Be) {
        return utf16Text(body, true);
    }
    if (encoding == kUtf8) {
        std::u16string text = os::utf8ToUtf16(untilNul(body, SIZE_MAX));
        if (text.size() > TagTexts::kMaxChars) {
            text.resize(TagTexts::kMaxChars);
        }
        return text;
    }
    // Encoding 0, or no encoding byte at all: 8-bit text in the default code page.
    return codePageText(encoding == kLatin1 ? body : data);
}

bool readId3v2(ByteSource& source, TagTexts& out) {
    std::uint8_t header[kHeaderSize];
    if (!source.seek(0) || !source.readExact(header, sizeof(header))) {
        return false;
    }
    if (std::memcmp(header, "ID3", 3) != 0 || header[3] != 3 || header[4] == 0xFF || header[6] >= 0x80 ||
        header[7] >= 0x80 || header[8] >= 0x80 || header[9] >= 0x80) {
        return false;
    }
    const std::uint32_t size = (header[6] << 21) | (header[7] << 14) | (header[8] << 7) | header[9];
    const std::uint8_t flags = header[5];
    if (size == 0 || size > source.remaining() || (flags & kFlagExtendedHeader) != 0) {
        return false;
    }
    std::vector<std::uint8_t> tag(std::min(size, kMaxTagRead));
    if (!source.readExact(tag.data(), tag.size())) {
        return false;
    }
    if ((flags & kFlagUnsynchronisation) != 0) {
        // Writers insert 0x00 after every 0xFF so that no false frame sync appears; take them out.
        std::size_t w = 0;
        for (std::size_t r = 0; r < tag.size(); ++r) {
            if (!(tag[r] == 0x00 && r > 0 && tag[r - 1] == 0xFF)) {
                tag[w++] = tag[r];
            }
        }
        tag.resize(w);
    }

    bool found = false;
    std::size_t pos = 0;
    while (tag.size() - pos > kFrameHeaderSize) {
        const std::uint8_t* frame = tag.data() + pos;
        const std::uint32_t frameSize = be32(frame + 4);
        const std::size_t available = tag.size() - pos - kFrameHeaderSize;
        if (frameSize > available) {
            break;
        }
        const std::span<const std::uint8_t> data(frame + kFrameHeaderSize, frameSize);
        pos += kFrameHeaderSize + frameSize;
        if ((frame[9] & (kFrameCompressed | kFrameEncrypted)) != 0 || frameSize == 0) {
            continue;
        }
        std::u16string* target = nullptr;
        if (std::memcmp(frame, "TIT2", 4) == 0) {
            target = &out.title;
        } else if (std::memcmp(frame, "TPE1", 4) == 0) {
            target = &out.artist;
        } else if (std::memcmp(frame, "TALB", 4) == 0) {
            target = &out.album;
        }
        if (target != nullptr) {
            *target = decodeId3Text(data);
            found = true;
        }
    }
    return found;
}

bool readId3v1(ByteSource& source, TagTexts& out) {
    std::uint8_t tag[kId3v1Size];
    if (source.size() < kId3v1Size || !source.seek(source.size() - kId3v1Size) ||
        !source.readExact(tag, sizeof(tag)) || std::memcmp(tag, "TAG", 3) != 0) {
        return false;
    }
    const std::span<const std::uint8_t> bytes(tag);
    out.title = codePageText(bytes.subspan(3, 30));
    out.artist = codePageText(bytes.subspan(33, 30));
    out.album = codePageText(bytes.subspan(63, 30));
    return true;
}

bool readTags(ByteSource& source, TagTexts& out) {
    const std::uint64_t position = source.position();
    out = TagTexts{};
    bool found = readId3v2(source, out);
    if (!found) {
        out = TagTexts{};
        found = readId3v1(source, out);
    }
    source.seek(position);
    return found;
}

} // namespace tonemirror::compresscodec
