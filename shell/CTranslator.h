#pragma once

#include "plugin-api/PluginApi.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

namespace tonemirror::shell {

// Order of keys and of language names: the shorter text first, texts of equal length by their UTF-16
// code units. Case-sensitive.
bool keyLess(std::u16string_view a, std::u16string_view b);

// The user-interface translation: the languages found in the "Locale/*.lng" files beside the program
// and the current one. Every user-visible text goes through translate(key, English default).
//
// Names, keys and values are views into the file texts the translator keeps; each is terminated in
// place, so data() of a view it returns is also a null-terminated string.
// Loaded and used on the user-interface thread only.
class CTranslator {
public:
    // Largest and smallest (exclusive) accepted file sizes in bytes.
    static constexpr std::size_t kMaxFileSize = 1048575;
    static constexpr std::size_t kMinFileSize = 9;

    struct LanguageList {
        std::vector<std::u16string_view> names; // in list order
        std::size_t current = 0;                // position of the current language in names
    };

    CTranslator();
    CTranslator(const CTranslator&) = delete;
    CTranslator& operator=(const CTranslator&) = delete;
    ~CTranslator();

    // Loads every "*.lng" in the "Locale" folder beside the program, then finishLoading().
    // E_FAIL only when the program's folder cannot be determined; files that fail are skipped.
    HResult loadAll();
    // The same for an explicit folder of language files (a missing folder holds no files).
    HResult loadAll(const std::filesystem::path& localeFolder);

    // Loads one language file. Failures are reported and leave the translator as it was:
    // E_INVALIDARG for an empty name, E_OUTOFMEMORY above kMaxFileSize, E_FAIL otherwise (open or read
    // failure, too small, too short after UTF-8 conversion, no entries).
    HResult loadFile(const std::filesystem::path& file);
    // The same for a file's bytes already in memory.
    HResult loadBuffer(std::span<const std::uint8_t> bytes);
    // Sorts the languages and their entries, keeps one value per key and selects "English".
    // Call once after the last loadFile / loadBuffer.
    void finishLoading();

    // Makes the language of that name current (case-insensitive, equal length). E_FAIL and no change
    // when there is none.
    HResult selectLanguage(std::u16string_view name);

    // The current language's text for the key, else defaultText. A null key is reported and answered
    // with defaultText.
    std::u16string_view translate(const char16_t* key, std::u16string_view defaultText) const;

    LanguageList languages() const;

private:
    struct Entry {
        std::u16string_view key;
        std::u16string_view value;
    };
    struct Language {
        std::u16string_view name;
        std::vector<Entry> entries;
    };

    struct Section;

    // Reads "[language]" sections of "KEY=value" lines, terminating names, keys and values in place.
    HResult parse(char16_t* text, std::size_t length, std::size_t& added);
    // Ends the current section and continues the language of that name, or starts it.
    void openSection(Section& section, std::u16string_view name);
    // Lists a language first named in this file once it has entries.
    void closeSection(Section& section);
    void addEntry(Section& section, const Entry& entry);
    Language* findLanguage(std::u16string_view name);

    std::vector<Language> languages_;
    std::size_t current_ = 0;
    // Texts of the files that contributed entries; every view above points into one of them.
    std::vector<std::unique_ptr<char16_t[]>> texts_;
};

} // namespace tonemirror::shell
