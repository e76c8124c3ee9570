#include "plugins/mediacodec/Attributes.h"

#include "platform/wmf/AttributeStore.h"
#include "platform/wmf/TagAttributes.h"

#include <vector>

namespace tonemirror::mediacodec {

namespace {

// First guess for a text's size; 1024 characters cover nearly every tag.
constexpr std::uint16_t kFirstBufferBytes = 2048;

} // namespace

const char16_t* attributeForTag(std::int32_t tag) {
    switch (tag) {
    case TagId_Title:
        return wmf::kAttrTitle;
    case TagId_Artist:
        return wmf::kAttrAuthor;
    case TagId_Album:
        return wmf::kAttrAlbum;
    case TagId_Year:
        return wmf::kAttrYear;
    case TagId_Track:
        return wmf::kAttrTrack;
    case TagId_Comment:
        return wmf::kAttrDescription;
    case TagId_Genre:
        return wmf::kAttrGenre;
    default:
        return nullptr;
    }
}

std::optional<std::u16string> readStringAttribute(wmf::IHeaderInfo& header, const char16_t* name) {
    std::vector<std::uint8_t> buffer(kFirstBufferBytes);
    std::uint16_t stream = 0;
    wmf::AttrType type = wmf::AttrType::String;
    std::uint16_t size = kFirstBufferBytes;
    HResult r = header.getAttributeByName(&stream, name, &type, buffer.data(), &size);
    if (r == wmf::kBufferTooSmall && size > buffer.size()) {
        buffer.resize(size);
        stream = 0;
        r = header.getAttributeByName(&stream, name, &type, buffer.data(), &size);
    }
    // The size a runtime reports is never trusted beyond the buffer it was given.
    if (failed(r) || type != wmf::AttrType::String || size == 0 || size > buffer.size()) {
        return std::nullopt;
    }
    return wmf::textFromBytes(buffer.data(), size);
}

std::size_t wholeCharacters(const std::u16string& text, std::size_t limit) {
    if (text.size() <= limit) {
        return text.size();
    }
    const bool splitsPair = limit > 0 && text[limit - 1] >= 0xD800 && text[limit - 1] <= 0xDBFF;
    return splitsPair ? limit - 1 : limit;
}

bool tagProblemNamed(HResult result) {
    switch (result) {
    case E_NOT_A_NUMBER:
    case E_NOT_A_DATE:
    case E_TEXT_TOO_LONG:
    case E_INVALID_TEXT:
        return true;
    default:
        return false;
    }
}

std::optional<std::uint64_t> readNumberAttribute(wmf::IHeaderInfo& header, const char16_t* name,
                                                 wmf::AttrType type, std::uint16_t size) {
    std::uint8_t buffer[8] = {};
    std::uint16_t stream = 0;
    wmf::AttrType actual = type;
    std::uint16_t length = sizeof buffer;
    if (failed(header.getAttributeByName(&stream, name, &actual, buffer, &length)) || actual != type ||
        length != size || size > sizeof buffer) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (int i = size - 1; i >= 0; --i) {
        value = (value << 8) | buffer[i];
    }
    return value;
}

} // namespace tonemirror::mediacodec
