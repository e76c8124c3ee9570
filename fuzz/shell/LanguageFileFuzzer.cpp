// Feeds arbitrary bytes to the language-file loader, as one file or split into two files, then
// exercises every listed language and checks the invariants the menus and lookups rely on.
#include "shell/CTranslator.h"

#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

namespace {

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

} // namespace

// Load failures are reported on stderr, millions of times in a run: ask libFuzzer to silence the
// target's stderr (its own output and sanitizer reports keep a descriptor of their own).
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static std::vector<char*> args;
    static char quiet[] = "-close_fd_mask=2";
    args.assign(*argv, *argv + *argc);
    args.push_back(quiet);
    args.push_back(nullptr);
    *argc += 1;
    *argv = args.data();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using tonemirror::shell::CTranslator;
    using tonemirror::shell::keyLess;

    CTranslator translator;
    std::span<const std::uint8_t> bytes(data, size);
    if (size > 1 && (data[0] & 1) != 0) {
        // Two files: sections of one language may continue across them.
        const std::size_t cut = 1 + data[1] % (size - 1);
        translator.loadBuffer(bytes.subspan(0, cut));
        translator.loadBuffer(bytes.subspan(cut));
    } else {
        translator.loadBuffer(bytes);
    }
    translator.finishLoading();

    const auto list = translator.languages();
    check(!list.names.empty());
    check(list.current < list.names.size());
    check(list.names[list.current] == u"English");
    for (std::size_t i = 0; i < list.names.size(); ++i) {
        check(!list.names[i].empty());
        check(list.names[i].data()[list.names[i].size()] == u'\0');
        if (i > 0) {
            check(keyLess(list.names[i - 1], list.names[i]));
        }
    }
    static const char16_t* const kKeys[] = {u"A", u"OK", u"KEY", u"MENU_FILE", u"UPDATE_ERROR", u""};
    for (const auto name : list.names) {
        check(translator.selectLanguage(name) == tonemirror::S_OK);
        for (const char16_t* key : kKeys) {
            const std::u16string_view text = translator.translate(key, u"default");
            check(!text.empty());
            check(text.data()[text.size()] == u'\0');
        }
    }
    return 0;
}
