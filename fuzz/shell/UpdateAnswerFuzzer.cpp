// Classifies arbitrary update-server answers against a few local versions.
#include "shell/UpdateCheck.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using tonemirror::shell::classifyUpdateAnswer;
    using tonemirror::shell::LocalVersion;
    using tonemirror::shell::UpdateResult;

    const std::string_view answer(reinterpret_cast<const char*>(data), size);
    for (const LocalVersion local :
         {LocalVersion{0, 0}, LocalVersion{9, 330}, LocalVersion{0xFFFFFFFFu, 0xFFFFFFFFu}}) {
        const UpdateResult result = classifyUpdateAnswer(answer, local);
        if (result != UpdateResult::Error && result != UpdateResult::Present &&
            result != UpdateResult::UpToDate) {
            std::abort();
        }
        // Only the start of the answer counts.
        if (size > tonemirror::shell::kMaxUpdateAnswer &&
            classifyUpdateAnswer(answer.substr(0, tonemirror::shell::kMaxUpdateAnswer), local) != result) {
            std::abort();
        }
    }
    return 0;
}
