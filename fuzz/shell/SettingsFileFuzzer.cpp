// Feeds arbitrary bytes to the settings-file parser, reads every kind of value from what it accepts,
// and checks that writing the values out reads back to the same file.
#include "shell/SettingsDocument.h"

#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

namespace {

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

std::span<const std::byte> bytesOf(const std::string& text) {
    return std::as_bytes(std::span(text.data(), text.size()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using tonemirror::shell::SettingsDocument;

    auto document = SettingsDocument::parse(std::as_bytes(std::span(data, size)));
    if (!document) {
        return 0;
    }
    static const char* const kNames[] = {"CompareMethod", "Language", "Folders", "utf16", "a", ""};
    for (const char* name : kNames) {
        (void)document->readNumber(name);
        (void)document->readText(name);
    }
    const std::string once = document->serialize();
    auto again = SettingsDocument::parse(bytesOf(once));
    check(again.has_value() && again->serialize() == once);

    // Values set over whatever the file held come back exactly.
    const std::u16string text(u"\xDC80 x \xD83C\xDFB5 \xD800");
    again->setText("Language", text);
    again->setNumber("Folders", 7);
    auto third = SettingsDocument::parse(bytesOf(again->serialize()));
    check(third.has_value() && third->readText("Language") == text && third->readNumber("Folders") == 7u &&
          !third->readText("Folders").has_value());
    return 0;
}
