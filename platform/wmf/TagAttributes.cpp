#include "platform/wmf/TagAttributes.h"

#include "platform/os/Text.h"

#include <taglib/fileref.h>
#include <taglib/mp4atom.h>
#include <taglib/mp4file.h>
#include <taglib/tfilestream.h>
#include <taglib/tpropertymap.h>

#include <algorithm>
#include <limits>

namespace tonemirror::wmf {

namespace {

TagLib::String toTagString(const std::u16string& text) {
    return TagLib::String(os::utf16ToUtf8(text), TagLib::String::UTF8);
}

std::u16string fromTagString(const TagLib::String& text) {
    return os::utf8ToUtf16(text.to8Bit(true));
}

// The tag library allocates whatever a size field in the file asks for before it reads; asking for
// more than is left in the file, or more than any tag structure holds (a sparse file can be large
// and still claim gigabytes for its format chunk), is cut down here.
// Some parsers go on reading past the end for every entry a damaged count names (hundreds of thousands
// of reads for a 1 KB file): those reads are answered without a system call.
class BoundedFileStream final : public TagLib::FileStream {
public:
    using TagLib::FileStream::FileStream;

    TagLib::ByteVector readBlock(unsigned long length) override {
        const long position = tell();
        const long size = cachedLength();
        if (position < 0 || position >= size) {
            return {};
        }
        constexpr unsigned long kMaxBlock = 64ul << 20; // beyond the largest cover picture
        return TagLib::FileStream::readBlock(
            std::min({length, static_cast<unsigned long>(size - position), kMaxBlock}));
    }

    void writeBlock(const TagLib::ByteVector& data) override {
        length_ = -1;
        TagLib::FileStream::writeBlock(data);
    }
    void insert(const TagLib::ByteVector& data, unsigned long start, unsigned long replace) override {
        length_ = -1;
        TagLib::FileStream::insert(data, start, replace);
    }
    void removeBlock(unsigned long start, unsigned long length) override {
        length_ = -1;
        TagLib::FileStream::removeBlock(start, length);
    }
    void truncate(long length) override {
        length_ = -1;
        TagLib::FileStream::truncate(length);
    }

private:
    long cachedLength() {
        if (length_ < 0) {
            length_ = TagLib::FileStream::length();
        }
        return length_;
    }

    long length_ = -1;
};

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

} // namespace

bool readTagAttributes(const std::filesystem::path& file, AttributeStore& store) {
    BoundedFileStream stream(file.c_str(), true);
    if (!stream.isOpen()) {
        return false;
    }
    TagLib::FileRef ref(&stream, true, TagLib::AudioProperties::Average);
    // The tag library takes any file with a known extension; one without audio is not ours to tag.
    if (ref.isNull() || !ref.file()->isValid() || ref.audioProperties() == nullptr ||
        ref.audioProperties()->sampleRate() <= 0) {
        return false;
    }
    const TagLib::PropertyMap properties = ref.file()->properties();
    for (const auto& attribute : kTextAttributes) {
        const auto it = properties.find(attribute.property);
        // Several values of one property: the first stands for all, as the editor writes one.
        if (it != properties.end() && !it->second.isEmpty()) {
            store.putString(attribute.name, fromTagString(it->second.front()));
        }
    }
    if (const TagLib::AudioProperties* audio = ref.audioProperties(); audio != nullptr) {
        if (audio->bitrate() > 0) {
            store.putDword(kAttrBitrate, static_cast<std::uint32_t>(audio->bitrate()) * 1000u);
        }
        if (audio->lengthInMilliseconds() > 0) {
            store.putQword(kAttrDuration, static_cast<std::uint64_t>(audio->lengthInMilliseconds()) * 10000u);
        }
    }
    return true;
}

HResult writeTagAttributes(const std::filesystem::path& file, const AttributeStore& store,
                           const std::set<std::u16string>& names) {
    BoundedFileStream stream(file.c_str(), false);
    if (!stream.isOpen() || stream.readOnly()) {
        return E_FAIL;
    }
    TagLib::FileRef ref(&stream, false);
    if (ref.isNull() || !ref.file()->isValid() || ref.file()->readOnly()) {
        return E_FAIL;
    }
    if (auto* mp4 = dynamic_cast<TagLib::MP4::File*>(ref.file());
        mp4 != nullptr && !mp4OffsetTablesSound(*mp4)) {
        return E_FAIL;
    }
    TagLib::PropertyMap properties = ref.file()->properties();
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
    const TagLib::PropertyMap refused = ref.file()->setProperties(properties);
    for (const auto& attribute : kTextAttributes) {
        if (names.contains(attribute.name) && refused.contains(attribute.property)) {
            return E_NOTIMPL;
        }
    }
    return ref.file()->save() ? S_OK : E_FAIL;
}

} // namespace tonemirror::wmf
