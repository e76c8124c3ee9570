#include "shell/KeeperRules.h"

#include <algorithm>
#include <array>
#include <utility>

namespace tonemirror::shell {

namespace {

struct CriterionText {
    KeepCriterion criterion;
    std::string_view name;
    std::string_view reason;
};

constexpr std::array<CriterionText, 8> kTexts = {{
    {KeepCriterion::Reference, "reference", "in a reference folder"},
    {KeepCriterion::Lossless, "lossless", "lossless"},
    {KeepCriterion::BitRate, "bitrate", "higher bit rate"},
    {KeepCriterion::SampleRate, "samplerate", "higher sample rate"},
    {KeepCriterion::TagFields, "tags", "more tag fields"},
    {KeepCriterion::Longer, "longer", "longer"},
    {KeepCriterion::ShorterPath, "shorter-path", "shorter path"},
    {KeepCriterion::Name, "name", "first by name"},
}};

// > 0 when a has more, < 0 when b has more.
template <typename T>
int more(T a, T b) {
    return a > b ? 1 : (a < b ? -1 : 0);
}

// > 0 when `a` is better by the criterion, < 0 when `b` is, 0 when it does not tell them apart.
int preference(KeepCriterion c, const KeepCandidate& a, const KeepCandidate& b) {
    const FileQuality& qa = *a.quality;
    const FileQuality& qb = *b.quality;
    switch (c) {
    case KeepCriterion::Reference:
        return more(a.inReference, b.inReference);
    case KeepCriterion::Lossless:
        return more(qa.trulyLossless(), qb.trulyLossless());
    case KeepCriterion::BitRate:
        return more(qa.bitRate, qb.bitRate);
    case KeepCriterion::SampleRate:
        return more(qa.sampleRate, qb.sampleRate);
    case KeepCriterion::TagFields:
        return more(qa.tagFields, qb.tagFields);
    case KeepCriterion::Longer:
        return more(qa.durationMs / 1000, qb.durationMs / 1000);
    case KeepCriterion::ShorterPath:
        return more(b.path->size(), a.path->size());
    case KeepCriterion::Name:
        return more(*b.path, *a.path);
    }
    return 0;
}

} // namespace

std::string_view criterionName(KeepCriterion criterion) {
    return kTexts[static_cast<std::size_t>(criterion)].name;
}

std::string_view criterionReason(KeepCriterion criterion) {
    return kTexts[static_cast<std::size_t>(criterion)].reason;
}

KeeperRules::KeeperRules()
    : order_{KeepCriterion::Reference,  KeepCriterion::Lossless,  KeepCriterion::BitRate,
             KeepCriterion::SampleRate, KeepCriterion::TagFields, KeepCriterion::Longer,
             KeepCriterion::ShorterPath} {}

std::optional<KeeperRules> KeeperRules::parse(std::string_view text, std::string* error) {
    std::vector<KeepCriterion> order;
    auto fail = [&](std::string why) -> std::optional<KeeperRules> {
        if (error != nullptr) {
            *error = std::move(why);
        }
        return std::nullopt;
    };
    while (!text.empty()) {
        const std::size_t comma = text.find(',');
        std::string_view name = text.substr(0, comma);
        text = comma == std::string_view::npos ? std::string_view{} : text.substr(comma + 1);
        while (!name.empty() && name.front() == ' ') {
            name.remove_prefix(1);
        }
        while (!name.empty() && name.back() == ' ') {
            name.remove_suffix(1);
        }
        const auto known = std::find_if(kTexts.begin(), kTexts.end() - 1,
                                        [&](const CriterionText& t) { return t.name == name; });
        if (known == kTexts.end() - 1) {
            return fail("unknown criterion '" + std::string(name) + "'");
        }
        if (std::find(order.begin(), order.end(), known->criterion) != order.end()) {
            return fail("criterion '" + std::string(name) + "' given twice");
        }
        order.push_back(known->criterion);
    }
    if (order.empty()) {
        return fail("no criterion given");
    }
    return KeeperRules(std::move(order));
}

std::string KeeperRules::text() const {
    std::string out;
    for (const KeepCriterion c : order_) {
        out += (out.empty() ? "" : ",") + std::string(criterionName(c));
    }
    return out;
}

KeeperRules::Verdict KeeperRules::compare(const KeepCandidate& a, const KeepCandidate& b) const {
    for (const KeepCriterion c : order_) {
        if (const int p = preference(c, a, b); p != 0) {
            return {-p, c};
        }
    }
    return {-preference(KeepCriterion::Name, a, b), KeepCriterion::Name};
}

} // namespace tonemirror::shell
