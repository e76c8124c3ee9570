// Feeds arbitrary bytes to the ignore-list parser; whatever it accepts must survive a write and a
// second read unchanged (pairs whose paths hold a quote are the only ones left out on writing), and
// reading the same bytes from a file in pieces must find the same.
#include "engine/IgnoreListFormat.h"
#include "engine/IgnoreSet.h"

#include <cstdint>
#include <cstdlib>
#include <span>

#include <sys/mman.h>
#include <unistd.h>

using namespace tonemirror::engine;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::byte> bytes(reinterpret_cast<const std::byte*>(data), size);
    IgnoreSet set;
    const std::size_t pairs = ignore_list::parse(bytes, set);
    if (set.size() > pairs) {
        std::abort();
    }
    const int fd = memfd_create("list", MFD_CLOEXEC);
    if (fd >= 0) {
        IgnoreSet fromFile;
        const bool written = write(fd, data, size) == static_cast<ssize_t>(size);
        const auto read = ignore_list::readFile(fd, fromFile);
        close(fd);
        IgnoreSet wholeSet;
        const auto whole = ignore_list::read(bytes, wholeSet);
        if (written && (!read || read->pairs != whole.pairs || read->clean != whole.clean ||
                        fromFile.size() != wholeSet.size())) {
            std::abort();
        }
    }
    const auto text = ignore_list::format(set);
    IgnoreSet back;
    ignore_list::parse(text.bytes, back);
    // Parsed paths never hold a quote, so nothing may be left out.
    if (text.skipped != 0 || back.size() != set.size()) {
        std::abort();
    }
    auto a = set.begin();
    for (auto b = back.begin(); b != back.end(); ++a, ++b) {
        if (*a != *b) {
            std::abort();
        }
    }
    return 0;
}
