#include "platform/wmf/AttributeStore.h"

#include <cstring>
#include <limits>

namespace tonemirror::wmf {

namespace {

constexpr std::size_t kMaxBytes = std::numeric_limits<std::uint16_t>::max();

void appendLe(std::vector<std::uint8_t>& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

} // namespace

std::u16string textFromBytes(const std::uint8_t* bytes, std::size_t length) {
    std::u16string text;
    for (std::size_t i = 0; i + 1 < length; i += 2) {
        const auto c = static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
        if (c == 0) {
            break;
        }
        text.push_back(c);
    }
    return text;
}

HResult AttributeStore::getAttributeByName(std::uint16_t* streamNumber, const char16_t* name, AttrType* type,
                                           std::uint8_t* value, std::uint16_t* length) {
    if (streamNumber == nullptr || name == nullptr || type == nullptr || length == nullptr) {
        return E_INVALIDARG;
    }
    if (*streamNumber != 0) {
        return E_NOTIMPL; // only file-level attributes exist here
    }
    const auto it = values_.find(name);
    if (it == values_.end()) {
        return E_FAIL;
    }
    const Value& v = it->second;
    *type = v.type;
    const auto needed = static_cast<std::uint16_t>(v.bytes.size());
    if (value == nullptr) {
        *length = needed;
        return S_OK;
    }
    if (*length < needed) {
        *length = needed;
        return kBufferTooSmall;
    }
    if (needed > 0) {
        std::memcpy(value, v.bytes.data(), needed);
    }
    *length = needed;
    return S_OK;
}

HResult AttributeStore::setAttribute(std::uint16_t streamNumber, const char16_t* name, AttrType type,
                                     const std::uint8_t* value, std::uint16_t length) {
    if (name == nullptr || (value == nullptr && length > 0)) {
        return E_INVALIDARG;
    }
    if (streamNumber != 0 || type != AttrType::String || !writable_.contains(name)) {
        return E_NOTIMPL;
    }
    // The whole text: a NUL inside is the check's to refuse, not a place to cut it silently.
    std::u16string text;
    for (std::size_t i = 0; i + 1 < length; i += 2) {
        text.push_back(static_cast<char16_t>(value[i] | (value[i + 1] << 8)));
    }
    while (!text.empty() && text.back() == 0) {
        text.pop_back(); // a terminator the caller counted in
    }
    const std::u16string key(name);
    if (check_) {
        if (const HResult r = check_(key, text); failed(r)) {
            return r;
        }
    }
    putString(key, text);
    changed_.insert(key);
    return S_OK;
}

void AttributeStore::putString(const std::u16string& name, std::u16string_view text) {
    Value v;
    v.type = AttrType::String;
    std::size_t chars = std::min(text.size(), kMaxBytes / 2);
    if (chars < text.size() && chars > 0 && text[chars - 1] >= 0xD800 && text[chars - 1] <= 0xDBFF) {
        --chars; // the cut would split a character
    }
    v.bytes.reserve((chars + 1) * 2);
    for (std::size_t i = 0; i < chars; ++i) {
        appendLe(v.bytes, text[i], 2);
    }
    if (v.bytes.size() + 2 <= kMaxBytes) {
        appendLe(v.bytes, 0, 2);
    }
    values_[name] = std::move(v);
}

void AttributeStore::putDword(const std::u16string& name, std::uint32_t value) {
    Value v;
    v.type = AttrType::Dword;
    appendLe(v.bytes, value, 4);
    values_[name] = std::move(v);
}

void AttributeStore::putQword(const std::u16string& name, std::uint64_t value) {
    Value v;
    v.type = AttrType::Qword;
    appendLe(v.bytes, value, 8);
    values_[name] = std::move(v);
}

std::u16string AttributeStore::stringValue(const std::u16string& name) const {
    const auto it = values_.find(name);
    if (it == values_.end() || it->second.type != AttrType::String) {
        return {};
    }
    return textFromBytes(it->second.bytes.data(), it->second.bytes.size());
}

} // namespace tonemirror::wmf
