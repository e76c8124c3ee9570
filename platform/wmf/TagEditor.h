#pragma once

#include "platform/wmf/AttributeStore.h"
#include "platform/wmf/FileKind.h"
#include "platform/wmf/Runtime.h"

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <memory>

namespace tonemirror::wmf {

struct AudioFootprint;
class TaggedCopy;

// Metadata editor over the tag library. Changes never touch the original file in place: flush writes
// them into a copy in the same folder, checks that the copy reads back with the same audio and the new
// tags, and only then renames it over the original, keeping its owner, group, permissions, access
// lists and extended attributes. When the original was changed or replaced since open, when it cannot
// stay the same file to others (see CopyIdentity.h), or when anything fails or looks doubtful, the
// original stays as it is and the result names the cause.
class TagEditor final : public IMetadataEditor {
public:
    TagEditor() = default;
    ~TagEditor() override = default;

    HResult open(const char16_t* path) override;
    HResult close() override;
    HResult flush() override;
    HResult headerInfo(IHeaderInfo** info) override;

    // How long reading a file's audio (to check a written copy against its original) may take, plus
    // a millisecond per kilobyte; a write that cannot check its copy in time is refused. 30 s unless a
    // tool that must bound its own run time (a fuzzer) lowers it.
    static void setReadingAllowance(std::chrono::milliseconds base);

private:
    HResult replaceWithTaggedCopy();
    HResult fillCopy(int source, TaggedCopy& copy) const;
    HResult verifyCopy(const TaggedCopy& copy, const AudioFootprint& original) const;
    bool unchangedSinceOpen(int fd) const;

    std::filesystem::path path_;
    struct stat opened_ {};
    FileKind kind_ = FileKind::Unknown;
    HResult refusal_ = S_OK; // why this file may be read but not written
    std::unique_ptr<AttributeStore> store_;
};

} // namespace tonemirror::wmf
