#include "platform/wmf/FileKind.h"

#include "platform/wmf/FileBytes.h"

#include <taglib/aifffile.h>
#include <taglib/apefile.h>
#include <taglib/asffile.h>
#include <taglib/flacfile.h>
#include <taglib/id3v2framefactory.h>
#include <taglib/mp4file.h>
#include <taglib/mpcfile.h>
#include <taglib/mpegfile.h>
#include <taglib/oggflacfile.h>
#include <taglib/opusfile.h>
#include <taglib/speexfile.h>
#include <taglib/trueaudiofile.h>
#include <taglib/vorbisfile.h>
#include <taglib/wavfile.h>
#include <taglib/wavpackfile.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <string>

namespace tonemirror::wmf {

namespace {

constexpr std::uint8_t kAsfHeaderGuid[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                             0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};

bool startsWith(const std::uint8_t* bytes, const char* magic) {
    return std::memcmp(bytes, magic, std::strlen(magic)) == 0;
}

bool mpegSync(const std::uint8_t* b) {
    return b[0] == 0xFF && (b[1] & 0xE0) == 0xE0;
}

// The codec of an Ogg stream, named by the first packet on its first page.
FileKind oggKind(const FileBytes& file) {
    std::uint8_t header[27 + 255] = {};
    if (!file.read(0, header, 27) || !file.read(27, header + 27, header[26])) {
        return FileKind::Unknown;
    }
    std::uint8_t packet[8] = {};
    if (!file.read(27u + header[26], packet, sizeof packet)) {
        return FileKind::Unknown;
    }
    if (startsWith(packet, "\x01vorbis")) {
        return FileKind::OggVorbis;
    }
    if (startsWith(packet, "OpusHead")) {
        return FileKind::OggOpus;
    }
    if (startsWith(packet, "\x7F"
                           "FLAC")) {
        return FileKind::OggFlac;
    }
    return startsWith(packet, "Speex   ") ? FileKind::OggSpeex : FileKind::Unknown;
}

FileKind kindOfAudioStart(const std::uint8_t* b) {
    if (startsWith(b, "fLaC")) {
        return FileKind::Flac;
    }
    if (startsWith(b, "MAC ")) {
        return FileKind::Ape;
    }
    if (startsWith(b, "TTA1")) {
        return FileKind::TrueAudio;
    }
    if (startsWith(b, "MPCK") || startsWith(b, "MP+")) {
        return FileKind::Mpc;
    }
    return mpegSync(b) ? FileKind::Mpeg : FileKind::Unknown;
}

FileKind kindOfSignature(const FileBytes& file, const std::uint8_t* b) {
    if (startsWith(b, "OggS")) {
        return oggKind(file);
    }
    if (std::memcmp(b + 4, "ftyp", 4) == 0 || std::memcmp(b + 4, "moov", 4) == 0) {
        return FileKind::Mp4;
    }
    if (std::memcmp(b, kAsfHeaderGuid, 16) == 0) {
        return FileKind::Asf;
    }
    if (startsWith(b, "RIFF") && std::memcmp(b + 8, "WAVE", 4) == 0) {
        return FileKind::Wav;
    }
    if (startsWith(b, "FORM") && (std::memcmp(b + 8, "AIFF", 4) == 0 || std::memcmp(b + 8, "AIFC", 4) == 0)) {
        return FileKind::Aiff;
    }
    if (startsWith(b, "wvpk")) {
        return FileKind::WavPack;
    }
    return kindOfAudioStart(b);
}

// Formats that carry ID3v2 tags in front; MPEG audio may begin after padding, so it is the rest.
FileKind kindAfterTags(const FileBytes& file, std::uint64_t at) {
    std::uint8_t b[16] = {};
    if (!file.read(at, b, sizeof b)) {
        return FileKind::Mpeg; // tags only: the tag library finds no frames and refuses it
    }
    const FileKind kind = kindOfSignature(file, b);
    switch (kind) {
    case FileKind::Flac:
    case FileKind::Ape:
    case FileKind::TrueAudio:
    case FileKind::Mpc:
    case FileKind::Mpeg:
        return kind;
    case FileKind::Unknown:
        return FileKind::Mpeg;
    default:
        return FileKind::Unknown; // another container behind an ID3 tag: damaged by some tagger
    }
}

std::string lowerExtension(const std::filesystem::path& name) {
    std::string extension = name.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    return extension;
}

bool oneOf(const std::string& extension, std::initializer_list<const char*> extensions) {
    return std::any_of(extensions.begin(), extensions.end(), [&](const char* e) { return extension == e; });
}

} // namespace

std::optional<std::uint64_t> skipId3v2(const FileBytes& file, std::uint64_t at) {
    // Several tags in a row occur; each is at least its 10-byte header, so the loop is bounded.
    for (;;) {
        std::uint8_t h[10] = {};
        if (!file.read(at, h, sizeof h) || !startsWith(h, "ID3")) {
            return at;
        }
        if (h[3] < 2 || h[3] > 4 || h[4] == 0xFF || ((h[6] | h[7] | h[8] | h[9]) & 0x80) != 0) {
            return std::nullopt;
        }
        const std::uint64_t size = (std::uint64_t{h[6]} << 21) | (h[7] << 14) | (h[8] << 7) | h[9];
        const std::uint64_t end = at + 10 + size + ((h[3] == 4 && (h[5] & 0x10) != 0) ? 10 : 0);
        if (end > file.size()) {
            return std::nullopt;
        }
        at = end;
    }
}

FileKind detectFileKind(int fd, const std::filesystem::path& name) {
    const FileBytes file(fd);
    std::uint8_t head[16] = {};
    if (!file.read(0, head, sizeof head)) {
        return FileKind::Unknown;
    }
    FileKind kind = kindOfSignature(file, head);
    if (startsWith(head, "ID3")) {
        const auto end = skipId3v2(file, 0);
        kind = end ? kindAfterTags(file, *end) : FileKind::Unknown;
    }
    if (kind == FileKind::Unknown && nameFitsKind(name, FileKind::Mpeg)) {
        kind = FileKind::Mpeg;
    }
    return kind;
}

bool nameFitsKind(const std::filesystem::path& name, FileKind kind) {
    const std::string e = lowerExtension(name);
    switch (kind) {
    case FileKind::Mpeg:
        return oneOf(e, {".mp3", ".mp2"});
    case FileKind::Flac:
        return e == ".flac";
    case FileKind::OggVorbis:
    case FileKind::OggOpus:
    case FileKind::OggFlac:
    case FileKind::OggSpeex:
        return oneOf(e, {".ogg", ".oga", ".opus", ".spx"});
    case FileKind::Mp4:
        return oneOf(e, {".m4a", ".m4b", ".m4p", ".m4r", ".m4v", ".mp4", ".3g2"});
    case FileKind::Asf:
        return oneOf(e, {".wma", ".asf"});
    case FileKind::Wav:
        return e == ".wav";
    case FileKind::Aiff:
        return oneOf(e, {".aif", ".aiff", ".aifc", ".afc"});
    case FileKind::Ape:
        return e == ".ape";
    case FileKind::WavPack:
        return e == ".wv";
    case FileKind::Mpc:
        return oneOf(e, {".mpc", ".mpp", ".mp+"});
    case FileKind::TrueAudio:
        return e == ".tta";
    case FileKind::Unknown:
        break;
    }
    return false;
}

std::unique_ptr<TagLib::File> openTagFile(FileKind kind, TagLib::IOStream* stream, bool readProperties) {
    auto* frames = TagLib::ID3v2::FrameFactory::instance();
    switch (kind) {
    case FileKind::Mpeg:
        return std::make_unique<TagLib::MPEG::File>(stream, frames, readProperties);
    case FileKind::Flac:
        return std::make_unique<TagLib::FLAC::File>(stream, frames, readProperties);
    case FileKind::OggVorbis:
        return std::make_unique<TagLib::Ogg::Vorbis::File>(stream, readProperties);
    case FileKind::OggOpus:
        return std::make_unique<TagLib::Ogg::Opus::File>(stream, readProperties);
    case FileKind::OggFlac:
        return std::make_unique<TagLib::Ogg::FLAC::File>(stream, readProperties);
    case FileKind::OggSpeex:
        return std::make_unique<TagLib::Ogg::Speex::File>(stream, readProperties);
    case FileKind::Mp4:
        return std::make_unique<TagLib::MP4::File>(stream, readProperties);
    case FileKind::Asf:
        return std::make_unique<TagLib::ASF::File>(stream, readProperties);
    case FileKind::Wav:
        return std::make_unique<TagLib::RIFF::WAV::File>(stream, readProperties);
    case FileKind::Aiff:
        return std::make_unique<TagLib::RIFF::AIFF::File>(stream, readProperties);
    case FileKind::Ape:
        return std::make_unique<TagLib::APE::File>(stream, readProperties);
    case FileKind::WavPack:
        return std::make_unique<TagLib::WavPack::File>(stream, readProperties);
    case FileKind::Mpc:
        return std::make_unique<TagLib::MPC::File>(stream, readProperties);
    case FileKind::TrueAudio:
        return std::make_unique<TagLib::TrueAudio::File>(stream, readProperties);
    case FileKind::Unknown:
        break;
    }
    return nullptr;
}

} // namespace tonemirror::wmf
