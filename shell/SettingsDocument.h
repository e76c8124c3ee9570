#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tonemirror::shell {

// The contents of the settings file: named numbers and texts in one JSON object.
//
// A number is a JSON integer from 0 to 4294967295. A text is a JSON string when it is well-formed
// UTF-16; a text holding an unpaired surrogate (file names that are not UTF-8 map to those) cannot be
// a JSON string, so it is stored as {"utf16": "<hex>"}, four hex digits per UTF-16 unit, and comes back
// unit for unit. Anything else under a name reads as missing, and is kept as it is when the file is
// written again, like names this program does not know.
class SettingsDocument {
public:
    // Larger files are not settings files of ours.
    static constexpr std::size_t kMaxFileSize = 4u << 20;

    SettingsDocument();
    ~SettingsDocument();
    SettingsDocument(const SettingsDocument& other);
    SettingsDocument& operator=(const SettingsDocument& other);
    SettingsDocument(SettingsDocument&& other) noexcept;
    SettingsDocument& operator=(SettingsDocument&& other) noexcept;

    // nullopt when the bytes are not a settings file: larger than kMaxFileSize, not JSON (UTF-8), not
    // an object at the top, or nested deeper than any settings file would be.
    static std::optional<SettingsDocument> parse(std::span<const std::byte> bytes);
    // The file's bytes; parse() reads them back to equal values.
    std::string serialize() const;

    std::optional<std::uint32_t> readNumber(std::string_view name) const;
    std::optional<std::u16string> readText(std::string_view name) const;
    void setNumber(std::string_view name, std::uint32_t value);
    void setText(std::string_view name, std::u16string_view value);

private:
    struct Values;
    std::unique_ptr<Values> values_;
};

} // namespace tonemirror::shell
