#pragma once

#include <taglib/tfile.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>

namespace tonemirror::wmf {

// The container formats whose tags are read and written, told apart by their content.
enum class FileKind {
    Unknown,
    Mpeg,
    Flac,
    OggVorbis,
    OggOpus,
    OggFlac,
    OggSpeex,
    Mp4,
    Asf,
    Wav,
    Aiff,
    Ape,
    WavPack,
    Mpc,
    TrueAudio
};

// The kind of the open file by its first bytes (after any ID3v2 tag in front). MPEG audio has no
// signature of its own, so a file without any is taken as MPEG when its name says so and the tag
// library then has to find frames in it.
FileKind detectFileKind(int fd, const std::filesystem::path& name);

// True when the file's extension is one of the kind's (the Ogg kinds share theirs).
bool nameFitsKind(const std::filesystem::path& name, FileKind kind);

class FileBytes;

// Where the ID3v2 tags that start at `at` end (`at` itself when there is none); nullopt when a tag's
// header is malformed or its size runs past the end of the file.
std::optional<std::uint64_t> skipId3v2(const FileBytes& file, std::uint64_t at);

// The tag library's file object of that kind over the stream, whatever the stream's name says.
std::unique_ptr<TagLib::File> openTagFile(FileKind kind, TagLib::IOStream* stream, bool readProperties);

} // namespace tonemirror::wmf
