#include "plugins/mediacodec/MediaTagger.h"

#include "plugins/mediacodec/Attributes.h"
#include "plugins/mediacodec/MediaDecoder.h"

#include <algorithm>
#include <limits>
#include <vector>

namespace tonemirror::mediacodec {

MediaTagger::MediaTagger(wmf::IRuntime& runtime) {
    if (failed(runtime.createEditor(&editor_))) {
        editor_.reset();
    }
}

MediaTagger::~MediaTagger() {
    close();
}

HResult MediaTagger::open(const char16_t* path) {
    if (path == nullptr) {
        return E_INVALIDARG;
    }
    if (editor_ == nullptr) {
        return E_FAIL;
    }
    close();
    HResult r = editor_->open(path);
    if (failed(r)) {
        return r;
    }
    opened_ = true;
    wmf::IHeaderInfo* header = nullptr;
    r = editor_->headerInfo(&header);
    if (failed(r) || header == nullptr) {
        close();
        return failed(r) ? r : E_NOINTERFACE;
    }
    header_ = header;
    return S_OK;
}

HResult MediaTagger::close() {
    header_ = nullptr;
    HResult result = S_OK;
    if (opened_ && editor_ != nullptr) {
        // A write that fails must not look like success: the caller's edits did not reach the file.
        result = modified_ ? editor_->flush() : editor_->close();
        if (failed(result)) {
            editor_->close();
        }
    }
    opened_ = false;
    modified_ = false;
    return failed(result) ? result : S_OK;
}

std::int32_t MediaTagger::priority() const {
    return kPriority;
}

HResult MediaTagger::getTag(std::int32_t tag, char16_t* buffer, std::int32_t capacity) {
    if (buffer == nullptr || capacity <= 0) {
        return E_INVALIDARG;
    }
    buffer[0] = 0;
    if (header_ == nullptr) {
        return E_FAIL;
    }
    const char16_t* name = attributeForTag(tag);
    if (name == nullptr) {
        return E_NOTIMPL;
    }
    const auto text = readStringAttribute(*header_, name);
    if (!text) {
        return E_NOTIMPL;
    }
    const std::size_t n = wholeCharacters(*text, static_cast<std::size_t>(capacity) - 1);
    std::copy_n(text->data(), n, buffer);
    buffer[n] = 0;
    return S_OK;
}

HResult MediaTagger::setTag(std::int32_t tag, const char16_t* text, std::int32_t length) {
    if (text == nullptr || length < 0) {
        return E_INVALIDARG;
    }
    if (header_ == nullptr) {
        return E_FAIL;
    }
    const char16_t* name = attributeForTag(tag);
    if (name == nullptr) {
        return E_NOTIMPL;
    }
    // An attribute's size is 16 bits wide: a longer text is refused, not silently cut.
    if (length > std::numeric_limits<std::uint16_t>::max() / 2) {
        return E_TEXT_TOO_LONG;
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(length) * 2u);
    for (std::int32_t i = 0; i < length; ++i) {
        bytes[2 * i] = static_cast<std::uint8_t>(text[i] & 0xFF);
        bytes[2 * i + 1] = static_cast<std::uint8_t>(text[i] >> 8);
    }
    const HResult r = header_->setAttribute(0, name, wmf::AttrType::String, bytes.data(),
                                            static_cast<std::uint16_t>(bytes.size()));
    if (failed(r)) {
        // A refusal that names its reason keeps it; the runtime's other failures mean "not stored".
        return tagProblemNamed(r) ? r : E_NOTIMPL;
    }
    modified_ = true;
    return S_OK;
}

} // namespace tonemirror::mediacodec
