#include "shell/SettingsDocument.h"

#include "platform/os/Text.h"

#include <nlohmann/json.hpp>

namespace tonemirror::shell {

namespace {

using Json = nlohmann::json;

// A settings file is an object of values, a text at most one object deeper.
constexpr int kMaxDepth = 8;
constexpr std::string_view kUnitsKey = "utf16";
constexpr char kHexDigits[] = "0123456789ABCDEF";

struct TooDeep {};

bool isWellFormed(std::u16string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            ++i;
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            return false;
        }
    }
    return true;
}

std::string unitsToHex(std::u16string_view text) {
    std::string hex;
    hex.reserve(text.size() * 4);
    for (const char16_t unit : text) {
        for (int shift = 12; shift >= 0; shift -= 4) {
            hex.push_back(kHexDigits[(unit >> shift) & 0xF]);
        }
    }
    return hex;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

std::optional<std::u16string> hexToUnits(const std::string& hex) {
    if (hex.size() % 4 != 0) {
        return std::nullopt;
    }
    std::u16string text;
    text.reserve(hex.size() / 4);
    for (std::size_t i = 0; i < hex.size(); i += 4) {
        unsigned unit = 0;
        for (std::size_t k = i; k < i + 4; ++k) {
            const int digit = hexValue(hex[k]);
            if (digit < 0) {
                return std::nullopt;
            }
            unit = unit * 16 + static_cast<unsigned>(digit);
        }
        text.push_back(static_cast<char16_t>(unit));
    }
    return text;
}

} // namespace

struct SettingsDocument::Values {
    Json object = Json::object();

    const Json* find(std::string_view name) const {
        const auto it = object.find(name);
        return it == object.end() ? nullptr : &*it;
    }
};

SettingsDocument::SettingsDocument() : values_(std::make_unique<Values>()) {}
SettingsDocument::~SettingsDocument() = default;
SettingsDocument::SettingsDocument(const SettingsDocument& other)
    : values_(std::make_unique<Values>(*other.values_)) {}
SettingsDocument& SettingsDocument::operator=(const SettingsDocument& other) {
    if (this != &other) {
        *values_ = *other.values_;
    }
    return *this;
}
// A moved-from document stays usable (and empty).
SettingsDocument::SettingsDocument(SettingsDocument&& other) noexcept : SettingsDocument() {
    std::swap(values_, other.values_);
}
SettingsDocument& SettingsDocument::operator=(SettingsDocument&& other) noexcept {
    std::swap(values_, other.values_);
    return *this;
}

std::optional<SettingsDocument> SettingsDocument::parse(std::span<const std::byte> bytes) {
    if (bytes.size() > kMaxFileSize) {
        return std::nullopt;
    }
    const auto* begin = reinterpret_cast<const char*>(bytes.data());
    const auto limitDepth = [](int depth, Json::parse_event_t event, Json&) {
        if ((event == Json::parse_event_t::object_start || event == Json::parse_event_t::array_start) &&
            depth >= kMaxDepth) {
            throw TooDeep{}; // the only way to stop nlohmann's parser early
        }
        return true;
    };
    SettingsDocument document;
    try {
        document.values_->object = Json::parse(begin, begin + bytes.size(), limitDepth);
    } catch (const Json::exception&) {
        return std::nullopt;
    } catch (const TooDeep&) {
        return std::nullopt;
    }
    if (!document.values_->object.is_object()) {
        return std::nullopt;
    }
    return document;
}

std::string SettingsDocument::serialize() const {
    // Every string in the object is valid UTF-8 (parsed or well-formed), so nothing is replaced.
    return values_->object.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::optional<std::uint32_t> SettingsDocument::readNumber(std::string_view name) const {
    const Json* value = values_->find(name);
    if (value == nullptr || !value->is_number_unsigned()) {
        return std::nullopt;
    }
    const auto number = value->get<std::uint64_t>();
    if (number > UINT32_MAX) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(number);
}

std::optional<std::u16string> SettingsDocument::readText(std::string_view name) const {
    const Json* value = values_->find(name);
    if (value == nullptr) {
        return std::nullopt;
    }
    if (value->is_string()) {
        return os::utf8ToUtf16(value->get_ref<const std::string&>());
    }
    if (value->is_object() && value->size() == 1) {
        const auto units = value->find(kUnitsKey);
        if (units != value->end() && units->is_string()) {
            return hexToUnits(units->get_ref<const std::string&>());
        }
    }
    return std::nullopt;
}

void SettingsDocument::setNumber(std::string_view name, std::uint32_t value) {
    values_->object[std::string(name)] = value;
}

void SettingsDocument::setText(std::string_view name, std::u16string_view value) {
    Json& slot = values_->object[std::string(name)];
    if (isWellFormed(value)) {
        slot = os::utf16ToUtf8(value);
    } else {
        slot = Json::object({{std::string(kUnitsKey), unitsToHex(value)}});
    }
}

} // namespace tonemirror::shell
