#include "platform/wmf/ContainerCheck.h"

#include "platform/wmf/FileBytes.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace tonemirror::wmf {

namespace {

// Length in bytes of the MPEG audio frame whose header this is; 0 when it is no valid header.
std::uint32_t mpegFrameLength(const std::uint8_t* h) {
    static constexpr std::uint16_t kBitrates[2][3][15] = {
        {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
         {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
         {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
        {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}};
    static constexpr std::uint32_t kRates[3] = {44100, 48000, 32000};
    const int version = (h[1] >> 3) & 3; // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
    const int layer = 4 - ((h[1] >> 1) & 3);
    const int bitrateIndex = h[2] >> 4;
    const int rateIndex = (h[2] >> 2) & 3;
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0 || version == 1 || layer == 4 || bitrateIndex == 0 ||
        bitrateIndex == 15 || rateIndex == 3) {
        return 0;
    }
    const bool mpeg1 = version == 3;
    const std::uint32_t bitrate = kBitrates[mpeg1 ? 0 : 1][layer - 1][bitrateIndex] * 1000u;
    const std::uint32_t rate = kRates[rateIndex] >> (mpeg1 ? 0 : (version == 2 ? 1 : 2));
    const std::uint32_t padding = (h[2] >> 1) & 1;
    if (layer == 1) {
        return (12 * bitrate / rate + padding) * 4;
    }
    return (layer == 3 && !mpeg1 ? 72 : 144) * bitrate / rate + padding;
}

// The audio must start soon after the ID3v2 tags: two frames in a row, or one that ends the file.
bool mpegSound(const FileBytes& file) {
    const auto start = skipId3v2(file, 0);
    if (!start) {
        return false;
    }
    constexpr std::uint64_t kSearch = 64 * 1024;
    std::vector<std::uint8_t> window(static_cast<std::size_t>(std::min(kSearch + 4, file.size() - *start)));
    if (window.size() < 4 || !file.read(*start, window.data(), window.size())) {
        return false;
    }
    for (std::size_t i = 0; i + 4 <= window.size(); ++i) {
        const std::uint32_t length = mpegFrameLength(&window[i]);
        if (length == 0) {
            continue;
        }
        const std::uint64_t next = *start + i + length;
        std::uint8_t h[4] = {};
        if (next + 128 >= file.size() ||
            (file.read(next, h, 4) && mpegFrameLength(h) != 0 && (h[1] & 0x1E) == (window[i + 1] & 0x1E) &&
             (h[2] & 0x0C) == (window[i + 2] & 0x0C))) {
            return true;
        }
    }
    return false;
}

bool flacSound(const FileBytes& file) {
    const auto start = skipId3v2(file, 0);
    std::uint8_t magic[4] = {};
    if (!start || !file.read(*start, magic, 4) || std::memcmp(magic, "fLaC", 4) != 0) {
        return false;
    }
    std::uint64_t at = *start + 4;
    for (bool first = true;; first = false) {
        std::uint8_t h[4] = {};
        if (!file.read(at, h, 4)) {
            return false;
        }
        const int type = h[0] & 0x7F;
        const std::uint32_t length = (std::uint32_t{h[1]} << 16) | (h[2] << 8) | h[3];
        if (type == 127 || (first && (type != 0 || length != 34)) || (!first && type == 0)) {
            return false;
        }
        at += 4 + length;
        if ((h[0] & 0x80) != 0) {
            break;
        }
    }
    std::uint8_t sync[2] = {};
    return file.read(at, sync, 2) && sync[0] == 0xFF && (sync[1] & 0xFE) == 0xF8;
}

// Pages follow each other without a gap from the first byte to the last.
bool oggSound(const FileBytes& file) {
    std::uint64_t at = 0;
    for (bool first = true; at < file.size(); first = false) {
        std::uint8_t h[27 + 255] = {};
        if (!file.read(at, h, 27) || std::memcmp(h, "OggS", 4) != 0 || h[4] != 0 || (h[5] & ~7) != 0 ||
            (first && (h[5] & 2) == 0) || !file.read(at + 27, h + 27, h[26])) {
            return false;
        }
        std::uint64_t body = 0;
        for (int i = 0; i < h[26]; ++i) {
            body += h[27 + i];
        }
        at += 27 + h[26] + body;
    }
    return at == file.size() && at > 0;
}

constexpr int kMaxAtomDepth = 16;

bool isAtomContainer(const char* type, bool insideItemList) {
    static constexpr const char* kContainers[] = {"moov", "trak", "mdia", "minf", "stbl", "udta", "meta",
                                                  "ilst", "edts", "dinf", "moof", "traf", "mvex"};
    return insideItemList || std::any_of(std::begin(kContainers), std::end(kContainers),
                                         [&](const char* c) { return std::memcmp(type, c, 4) == 0; });
}

// A chunk-offset table must hold the entries its count names: the tag library shifts each of them.
bool offsetTableSound(const FileBytes& file, const char* type, std::uint64_t payload, std::uint64_t size) {
    const std::uint64_t entry = std::memcmp(type, "stco", 4) == 0   ? 4
                                : std::memcmp(type, "co64", 4) == 0 ? 8
                                                                    : 0;
    if (entry == 0) {
        return true;
    }
    std::uint8_t h[8] = {};
    return size >= 8 && file.read(payload, h, 8) && be32(h + 4) <= (size - 8) / entry;
}

// The atoms in [begin, end) fill it; in a container a few bytes of slack may follow the last.
bool atomsSound(const FileBytes& file, std::uint64_t begin, std::uint64_t end, int depth, bool itemList,
                int* moovs) {
    std::uint64_t at = begin;
    while (end - at >= 8) {
        std::uint8_t h[16] = {};
        if (!file.read(at, h, 8)) {
            return false;
        }
        std::uint64_t size = be32(h);
        std::uint64_t header = 8;
        if (size == 1) {
            header = 16;
            if (!file.read(at + 8, h + 8, 8)) {
                return false;
            }
            size = be64(h + 8);
        } else if (size == 0) {
            size = end - at; // to the end of the file
        }
        if (size < header || size > end - at) {
            return false;
        }
        const char* type = reinterpret_cast<const char*>(h + 4);
        if (depth == 0 && std::memcmp(type, "moov", 4) == 0) {
            ++*moovs;
        }
        if (!offsetTableSound(file, type, at + header, size - header)) {
            return false;
        }
        if (isAtomContainer(type, itemList) && depth < kMaxAtomDepth) {
            std::uint64_t children = at + header;
            std::uint8_t version[4] = {};
            // An ISO "meta" starts with a version and flags, the QuickTime one with its first child.
            if (std::memcmp(type, "meta", 4) == 0 && file.read(children, version, 4) && be32(version) == 0) {
                children += 4;
            }
            if (children > at + size ||
                !atomsSound(file, children, at + size, depth + 1, std::memcmp(type, "ilst", 4) == 0, moovs)) {
                return false;
            }
        }
        at += size;
    }
    return depth > 0 || at == end;
}

bool mp4Sound(const FileBytes& file) {
    int moovs = 0;
    return atomsSound(file, 0, file.size(), 0, false, &moovs) && moovs == 1;
}

constexpr std::uint8_t kAsfHeaderGuid[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                             0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr std::uint8_t kAsfDataGuid[16] = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                           0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};

// The header object's size is the sum of the objects it counts, and the data object follows it.
bool asfSound(const FileBytes& file) {
    std::uint8_t h[30] = {};
    if (!file.read(0, h, sizeof h) || std::memcmp(h, kAsfHeaderGuid, 16) != 0) {
        return false;
    }
    const std::uint64_t headerSize = le64(h + 16);
    const std::uint32_t count = le32(h + 24);
    if (headerSize < 30 || headerSize > file.size()) {
        return false;
    }
    std::uint64_t at = 30;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint8_t object[24] = {};
        if (headerSize - at < 24 || !file.read(at, object, 24)) {
            return false;
        }
        const std::uint64_t size = le64(object + 16);
        if (size < 24 || size > headerSize - at) {
            return false;
        }
        at += size;
    }
    std::uint8_t data[24] = {};
    return at == headerSize && file.read(at, data, 24) && std::memcmp(data, kAsfDataGuid, 16) == 0 &&
           le64(data + 16) >= 50 && le64(data + 16) <= file.size() - at;
}

bool chunkNameValid(const std::uint8_t* name) {
    return std::all_of(name, name + 4, [](std::uint8_t c) { return c >= 0x20 && c <= 0x7E; });
}

// The outer chunk covers the whole file and its chunks fill it, the format and audio chunks among them.
bool riffSound(const FileBytes& file, FileKind kind) {
    const bool wave = kind == FileKind::Wav;
    std::uint8_t h[12] = {};
    if (!file.read(0, h, sizeof h)) {
        return false;
    }
    const std::uint64_t end = 8 + std::uint64_t{wave ? le32(h + 4) : be32(h + 4)};
    if (end != file.size()) {
        return false;
    }
    bool format = false;
    bool audio = false;
    std::uint64_t at = 12;
    while (end - at >= 8) {
        std::uint8_t chunk[8] = {};
        if (!file.read(at, chunk, 8) || !chunkNameValid(chunk)) {
            return false;
        }
        const std::uint32_t size = wave ? le32(chunk + 4) : be32(chunk + 4);
        format = format || std::memcmp(chunk, wave ? "fmt " : "COMM", 4) == 0;
        audio = audio || std::memcmp(chunk, wave ? "data" : "SSND", 4) == 0;
        at += 8 + std::uint64_t{size} + (size & 1);
        if (at > end + 1) {
            return false; // the last chunk may lack its pad byte, nothing more
        }
    }
    return (at == end || at == end + 1) && format && audio;
}

} // namespace

bool containerSound(int fd, FileKind kind) {
    const FileBytes file(fd);
    switch (kind) {
    case FileKind::Mpeg:
        return mpegSound(file);
    case FileKind::Flac:
        return flacSound(file);
    case FileKind::OggVorbis:
    case FileKind::OggOpus:
    case FileKind::OggFlac:
    case FileKind::OggSpeex:
        return oggSound(file);
    case FileKind::Mp4:
        return mp4Sound(file);
    case FileKind::Asf:
        return asfSound(file);
    case FileKind::Wav:
    case FileKind::Aiff:
        return riffSound(file, kind);
    case FileKind::Ape:
    case FileKind::WavPack:
    case FileKind::Mpc:
    case FileKind::TrueAudio:
        return true;
    case FileKind::Unknown:
        break;
    }
    return false;
}

} // namespace tonemirror::wmf
