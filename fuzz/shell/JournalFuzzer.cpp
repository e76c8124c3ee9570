// Feeds arbitrary bytes to the clean-up journal reader, and checks that a batch it accepts, written
// out again, reads back to the same plan.
#include "shell/JournalFile.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace jf = tonemirror::shell::journal_file;
    const auto batch = jf::parse(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!batch) {
        return 0;
    }
    const auto again = jf::parse(jf::planLine(*batch));
    if (!again || again->actions.size() != batch->actions.size() || again->number != batch->number ||
        again->referenceFolders != batch->referenceFolders) {
        std::abort();
    }
    for (std::size_t i = 0; i < batch->actions.size(); ++i) {
        if (again->actions[i].path != batch->actions[i].path ||
            !(again->actions[i].expected == batch->actions[i].expected)) {
            std::abort();
        }
    }
    return 0;
}
