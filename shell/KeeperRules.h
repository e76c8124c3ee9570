#pragma once

#include "shell/FileQuality.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tonemirror::shell {

// One reason to prefer one copy of a song over another.
enum class KeepCriterion {
    Reference,   // in a reference folder
    Lossless,    // lossless and not probably transcoded
    BitRate,     // higher bit rate
    SampleRate,  // higher sample rate
    TagFields,   // more tag fields filled
    Longer,      // longer (whole seconds)
    ShorterPath, // shorter full path
    Name,        // none of the chosen criteria told them apart: the first path in byte order
};

// A file as the keeper rules see it.
struct KeepCandidate {
    const std::u16string* path = nullptr;
    const FileQuality* quality = nullptr;
    bool inReference = false;
};

// The ordered criteria that pick the copy to keep. Stored in the settings as their names separated
// by commas, e.g. "reference,lossless,bitrate,samplerate,tags,longer,shorter-path" (the default).
class KeeperRules {
public:
    KeeperRules(); // the default order
    explicit KeeperRules(std::vector<KeepCriterion> order) : order_(std::move(order)) {}

    // Reads the stored form; nullopt with `error` naming the problem for an unknown or repeated
    // name, or an empty list.
    static std::optional<KeeperRules> parse(std::string_view text, std::string* error = nullptr);
    std::string text() const;

    const std::vector<KeepCriterion>& order() const { return order_; }

    struct Verdict {
        int order = 0; // < 0: a is better, > 0: b is better; never 0 for two different paths
        KeepCriterion decidedBy = KeepCriterion::Name;
    };
    Verdict compare(const KeepCandidate& a, const KeepCandidate& b) const;
    bool better(const KeepCandidate& a, const KeepCandidate& b) const { return compare(a, b).order < 0; }

private:
    std::vector<KeepCriterion> order_;
};

// The stored name of a criterion ("bitrate") and why a file was kept by it ("higher bit rate").
std::string_view criterionName(KeepCriterion criterion);
std::string_view criterionReason(KeepCriterion criterion);

} // namespace tonemirror::shell
