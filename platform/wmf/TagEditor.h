#pragma once

#include "platform/wmf/AttributeStore.h"
#include "platform/wmf/Runtime.h"

#include <sys/stat.h>

#include <filesystem>
#include <memory>

namespace tonemirror::wmf {

// Metadata editor over the tag library. Changes never touch the original file in place: flush writes
// them into a copy in the same folder and renames the copy over the original, keeping its permissions.
// When the original was changed or replaced since open, or anything fails, the original stays as it is.
class TagEditor final : public IMetadataEditor {
public:
    TagEditor() = default;
    ~TagEditor() override = default;

    HResult open(const char16_t* path) override;
    HResult close() override;
    HResult flush() override;
    HResult headerInfo(IHeaderInfo** info) override;

private:
    HResult replaceWithTaggedCopy();

    std::filesystem::path path_;
    struct stat opened_ {};
    std::unique_ptr<AttributeStore> store_;
};

} // namespace tonemirror::wmf
