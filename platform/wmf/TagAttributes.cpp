#include "platform/wmf/TagAttributes.h"

#include "platform/os/Text.h"
#include "platform/wmf/CheckedFileStream.h"
#include "platform/wmf/FileDescriptor.h"
#include "platform/wmf/WriteResult.h"

#include <taglib/mp4atom.h>
#include <taglib/mp4file.h>
#include <taglib/mpegfile.h>
#include <taglib/tpropertymap.h>

#include <fcntl.h>

namespace tonemirror::wmf {

namespace {

TagLib::String toTagString(const std::u16string& text) {
    return TagLib::String(os::utf16ToUtf8(text), TagLib::String::UTF8);
}

std::u16string fromTagString(const TagLib::String& text) {
    return os::utf8ToUtf16(text.to8Bit(true));
}

// Saving an MP4 tag that changes size shifts every chunk offset in the stco/co64 tables, trusting each
// table's entry count. A damaged count (up to 4 billion) would make the save run for hours and write
// gigabytes; such a file is refused. The atoms are read the same way the save reads them.
bool mp4OffsetTablesSound(TagLib::MP4::File& file) {
    file.seek(0);
    TagLib::MP4::Atoms atoms(&file);
    TagLib::MP4::Atom* moov = atoms.find("moov");
    if (moov == nullptr) {
        return true;
    }
    const std::pair<const char*, long> tables[] = {{"stco", 4}, {"co64", 8}};
    for (const auto& [name, entrySize] : tables) {
        for (const TagLib::MP4::Atom* atom : moov->findall(name, true)) {
            if (atom->length < 16) {
                return false;
            }
            file.seek(atom->offset + 12);
            const TagLib::ByteVector header = file.readBlock(4);
            if (header.size() != 4) {
                return false;
            }
            const unsigned long count = header.toUInt();
            if (count > static_cast<unsigned long>((atom->length - 16) / entrySize)) {
                return false;
            }
        }
    }
    return true;
}

// An MPEG file gets no ID3v1 tag it did not have: the tag library would add one, with the texts cut
// to 30 Latin-1 characters, and the file's grown end makes some demuxers drop its gapless information.
bool saveTags(TagLib::File& file) {
    auto* mpeg = dynamic_cast<TagLib::MPEG::File*>(&file);
    if (mpeg == nullptr) {
        return file.save();
    }
    int kept = TagLib::MPEG::File::ID3v2;
    if (mpeg->hasID3v1Tag()) {
        kept |= TagLib::MPEG::File::ID3v1;
    }
    if (mpeg->hasAPETag()) {
        kept |= TagLib::MPEG::File::APE;
    }
    return mpeg->save(kept, TagLib::File::StripNone);
}

} // namespace

bool readTagAttributes(const std::filesystem::path& file, AttributeStore& store) {
    FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    return fd.get() >= 0 && readTagAttributes(fd.get(), detectFileKind(fd.get(), file), store);
}

bool readTagAttributes(int fd, FileKind kind, AttributeStore& store) {
    CheckedFileStream stream(fd, "", false);
    const auto file = stream.isOpen() ? openTagFile(kind, &stream, true) : nullptr;
    // A file the tag library finds no audio in is not ours to tag.
    if (file == nullptr || !file->isValid() || file->audioProperties() == nullptr ||
        file->audioProperties()->sampleRate() <= 0 || stream.error() != 0) {
        return false;
    }
    const TagLib::PropertyMap properties = file->properties();
    for (const auto& attribute : kTextAttributes) {
        const auto it = properties.find(attribute.property);
        // Several values of one property: the first stands for all, as the editor writes one.
        if (it != properties.end() && !it->second.isEmpty()) {
            store.putString(attribute.name, fromTagString(it->second.front()));
        }
    }
    const TagLib::AudioProperties* audio = file->audioProperties();
    if (audio->bitrate() > 0) {
        store.putDword(kAttrBitrate, static_cast<std::uint32_t>(audio->bitrate()) * 1000u);
    }
    if (audio->lengthInMilliseconds() > 0) {
        store.putQword(kAttrDuration, static_cast<std::uint64_t>(audio->lengthInMilliseconds()) * 10000u);
    }
    return true;
}

HResult writeTagAttributes(int fd, FileKind kind, const AttributeStore& store,
                           const std::set<std::u16string>& names, long* length) {
    CheckedFileStream stream(fd, "", true);
    const auto file = stream.isOpen() ? openTagFile(kind, &stream, false) : nullptr;
    if (file == nullptr || !file->isValid() || stream.error() != 0) {
        return stream.error() != 0 ? resultFromErrno(stream.error()) : E_UNSUPPORTED_CONTENT;
    }
    if (auto* mp4 = dynamic_cast<TagLib::MP4::File*>(file.get());
        mp4 != nullptr && !mp4OffsetTablesSound(*mp4)) {
        return E_DAMAGED_FILE;
    }
    TagLib::PropertyMap properties = file->properties();
    for (const auto& attribute : kTextAttributes) {
        if (!names.contains(attribute.name)) {
            continue;
        }
        const std::u16string text = store.stringValue(attribute.name);
        if (text.empty()) {
            properties.erase(attribute.property);
        } else {
            properties.replace(attribute.property, TagLib::StringList(toTagString(text)));
        }
    }
    const TagLib::PropertyMap refused = file->setProperties(properties);
    for (const auto& attribute : kTextAttributes) {
        if (names.contains(attribute.name) && refused.contains(attribute.property)) {
            return E_NOTIMPL;
        }
    }
    const bool saved = saveTags(*file);
    // The tag library calls a save done when the disk cut it short: the stream knows better.
    if (stream.error() != 0) {
        return resultFromErrno(stream.error());
    }
    *length = stream.length();
    return saved ? S_OK : E_FAIL;
}

} // namespace tonemirror::wmf
