#pragma once

#include <string>
#include <string_view>

namespace tonemirror::os {

// UTF-8 <-> UTF-16. Malformed input becomes U+FFFD; never throws.
std::u16string utf8ToUtf16(std::string_view text);
std::string utf16ToUtf8(std::u16string_view text);

// Text in the platform's default 8-bit code page. On Linux files carry no code page of their own,
// so single-byte tag text is taken as ISO-8859-1 (each byte is its own code point).
std::u16string codePageToUtf16(std::string_view bytes);

// Lower-cases each UTF-16 unit under the current locale (call setlocale(LC_ALL, "") at start-up).
// Surrogates and units whose lower case lies outside the basic plane are left unchanged.
void lowerCaseInPlace(char16_t* text, std::size_t length);
void lowerCaseInPlace(std::u16string& text);

// Removes leading and trailing blanks and tabs.
std::u16string_view trimBlanks(std::u16string_view text);

} // namespace tonemirror::os
