#pragma once

#include "platform/wmf/Runtime.h"
#include "plugin-api/PluginApi.h"

#include <memory>

namespace tonemirror::mediacodec {

// ITagger over the media runtime's metadata editor: seven text attributes, written when closed.
class MediaTagger {
public:
    explicit MediaTagger(wmf::IRuntime& runtime);
    ~MediaTagger();
    MediaTagger(const MediaTagger&) = delete;
    MediaTagger& operator=(const MediaTagger&) = delete;

    HResult open(const char16_t* path);
    // Writes the changes (if any) and closes; a failure means the file kept its old tags.
    HResult close();
    std::int32_t priority() const;
    HResult getTag(std::int32_t tag, char16_t* buffer, std::int32_t capacity);
    HResult setTag(std::int32_t tag, const char16_t* text, std::int32_t length);

private:
    std::unique_ptr<wmf::IMetadataEditor> editor_;
    wmf::IHeaderInfo* header_ = nullptr;
    bool opened_ = false;
    bool modified_ = false;
};

} // namespace tonemirror::mediacodec
