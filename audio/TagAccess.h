#pragma once

#include "audio/TagProblem.h"
#include "plugin-api/PluginApi.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tonemirror::audio {

class PluginList;

// Reads and writes tags through the codec plug-ins' taggers. One object per thread.
class TagAccess {
public:
    // Longest tag text read whole, in UTF-16 units.
    static constexpr std::int32_t kMaxTagText = 1 << 20;

    struct Tagger {
        ITagger* object = nullptr;
        std::string pluginName;
    };

    explicit TagAccess(const PluginList& plugins);
    explicit TagAccess(std::vector<Tagger> taggers);
    ~TagAccess();
    TagAccess(const TagAccess&) = delete;
    TagAccess& operator=(const TagAccess&) = delete;

    // Closes any current tagger, then keeps the first tagger that opens the file. S_OK or E_FAIL.
    HResult open(const std::u16string& path);
    HResult getTag(std::int32_t tag, char16_t* buffer, std::int32_t capacity);
    // The tag's whole text, the buffer grown as long as the tagger fills it; empty when the tag is
    // absent or cannot be read, nullopt when it is longer than kMaxTagText (a cut value must never
    // pass for the whole one).
    std::optional<std::u16string> readTag(std::int32_t tag);
    // A refused value keeps the tag's old value; the result and lastProblem() say why.
    HResult setTag(std::int32_t tag, const char16_t* text, std::int32_t length);
    // Commits the changes through the current tagger and forgets it; E_FAIL when nothing is open.
    // On failure the file is as it was before open, and lastProblem() names the cause.
    HResult close();

    // Why the last open, setTag or close failed (None after a success), for the user to read:
    // describeTagProblem(lastProblem()).
    TagProblem lastProblem() const { return problem_; }

    bool isOpen() const { return current_ != nullptr; }
    const std::string& currentPluginName() const;
    std::size_t taggerCount() const { return taggers_.size(); }

private:
    std::vector<Tagger> taggers_;
    const Tagger* current_ = nullptr;
    TagProblem problem_ = TagProblem::None;
};

} // namespace tonemirror::audio
